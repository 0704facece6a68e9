// The structural CDX bag of one table, opened by the table with itself. Gives
// the tags in creation order, navigation and Seek in a tag's order, and keeps
// every tag right when the table appends or changes a record: the old key is
// removed, the new one inserted, all under the index lock of the table's lock
// scheme, with cached pages dropped when another writer moved the change
// counter, and the counter advanced before the lock is released. A read in
// shared mode first runs on the cached pages alone and keeps its answer when
// the change counter, read without a lock, stands still; otherwise it runs
// again under the shared lock. Deleted records are not hidden here: the table
// applies SetDeleted by asking for the next entry. A bag with a tag we cannot
// reproduce stays readable through the other tags but refuses every write
// (CheckWritable) before any byte changes. One thread; the caller owns the
// file handle, which must outlive the index.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "tables/dbf/key_codec.h"
#include "tables/dbf/status.h"
#include "tables/expr/expr.h"

namespace tables {

namespace cdx {
class Pager;
class Tree;
}  // namespace cdx

struct IndexOptions {
  bool shared = true;      // take the index lock and revalidate the cache per call
  bool read_only = false;  // refuse every write
  // The index lock of the table's scheme: shared for reads, exclusive for writes.
  uint64_t lock_offset = 0x7FFFFFFE;
  uint64_t lock_length = 1;
  MemoReader* memo = nullptr;  // for expressions over memo fields
};

struct TagInfo {
  std::string name;
  std::string key_expr;
  std::string for_expr;  // "" when none
  KeyType key_type = KeyType::kChar;
  uint32_t key_length = 0;
  bool unique = false;
  bool descending = false;
  uint8_t options = 0;
  uint32_t header_offset = 0;
  // Empty when we reproduce this tag exactly; otherwise why writes are refused.
  std::string refusal;
};

// A tag to create (new bags for tools, tests and benchmarks).
struct TagSpec {
  std::string name;
  std::string key_expr;
  std::string for_expr;
  bool unique = false;
  bool descending = false;
};

// A position in one tag's order; `valid` is false before the first and after
// the last entry.
struct IndexCursor {
  size_t tag = 0;
  bool valid = false;
  uint32_t recno = 0;
  std::string key;  // as stored (key_length bytes)
  // Internal: physical place and the cache generation it belongs to.
  uint32_t page = 0xFFFFFFFF;
  uint32_t index = 0;
  uint64_t generation = 0;
};

class CdxIndex {
 public:
  ~CdxIndex();

  // Opens an existing bag over `file` (owned by the table; it must outlive the
  // index). `fields` is the table's record layout.
  static Status Open(platform::File* file, std::string file_name, std::vector<IndexField> fields,
                     IndexOptions options, std::unique_ptr<CdxIndex>* out);
  // Writes a new bag with the given tags into an empty file; keys of existing
  // records are added afterwards with Append (or BuildFromRecords).
  static Status Create(platform::File* file, std::string file_name, std::vector<IndexField> fields,
                       const std::vector<TagSpec>& tags, IndexOptions options,
                       std::unique_ptr<CdxIndex>* out);

  // Tags in creation order; FindTag is case-insensitive and gives -1 when absent.
  size_t tag_count() const { return tags_.size(); }
  const TagInfo& tag(size_t i) const { return tags_[i].info; }
  int FindTag(std::string_view name) const;
  const std::string& file_name() const { return file_name_; }

  // The key of a record in a tag, and whether the record belongs there (FOR).
  Status KeyOf(size_t tag, std::span<const uint8_t> record, uint32_t recno, std::string* key,
               bool* included);
  // The key bytes for a value given to Seek: texts as they are (a prefix),
  // numbers, dates and logicals encoded as the tag stores them.
  Status SeekKey(size_t tag, const ExprValue& value, std::string* key) const;

  // Navigation in the tag's order (descending tags walk their tree backwards).
  Status First(size_t tag, IndexCursor* cursor);
  Status Last(size_t tag, IndexCursor* cursor);
  Status Next(IndexCursor* cursor);
  Status Prev(IndexCursor* cursor);
  // The first entry in order whose key begins with `key` (found), else the
  // cursor rests where the key would be (soft seek) and found is false.
  Status Seek(size_t tag, std::string_view key, IndexCursor* cursor, bool* found);
  // Positions on the entry of this record (its key computed from its bytes);
  // found is false when the record has no entry in the tag.
  Status Locate(size_t tag, uint32_t recno, std::span<const uint8_t> record, IndexCursor* cursor,
                bool* found);

  // OK when every tag can be maintained exactly; otherwise the reason, and
  // every write below fails with it.
  Status CheckWritable() const;

  // Holds the index write lock across several record changes (AppendDB);
  // without it every change takes and releases the lock itself. EndUpdate
  // writes the changes; AbortUpdate forgets those not yet written. With
  // undoable, the caller puts the file back itself when the update fails (a
  // rollback journal saves the old bytes before any write): changed pages
  // may then be written before EndUpdate, so that a long update keeps little
  // in memory (other programs still see the change counter move only at
  // EndUpdate, and the lock keeps them out until then).
  Status BeginUpdate(bool undoable = false);
  Status EndUpdate();
  void AbortUpdate();

  // Maintenance: the keys of a new record, or of a changed one (field writes,
  // Delete and Recall: old and new record bytes, deletion flag included).
  Status Append(uint32_t recno, std::span<const uint8_t> record);
  Status Update(uint32_t recno, std::span<const uint8_t> old_record,
                std::span<const uint8_t> new_record);
  // The keys of n new records numbered from first_recno (record_length bytes
  // each, one after the other), the same entries as n Appends: every key is
  // computed first, then each tag gets its keys in (key, record number)
  // order, so that each leaf is changed once and leaves are met in the order
  // a tree built in key order lays them out in the file.
  Status AppendRecords(uint32_t first_recno, const uint8_t* records, uint32_t n,
                       size_t record_length);

  // For the checker: tree access and the layout the keys are computed from.
  cdx::Tree& tree(size_t tag) { return *tags_[tag].tree; }
  cdx::Pager& pager() { return *pager_; }
  const std::vector<IndexField>& fields() const { return fields_; }
  // Takes the shared index lock and revalidates the cache (no-op unless shared).
  Status LockForRead();
  void UnlockRead();

 private:
  struct Tag {
    TagInfo info;
    std::unique_ptr<Expr> key;
    std::unique_ptr<Expr> condition;
    std::unique_ptr<cdx::Tree> tree;
  };
  CdxIndex() = default;
  Status LoadTags();
  // The tags the directory lists, as (header offset, name), in its order.
  Status ReadTagDirectory(std::vector<std::pair<uint32_t, std::string>>* found);
  // Reads the header of the tag at offset and judges whether it can be kept up.
  Status LoadTag(uint32_t offset, const std::string& name, Tag* tag);
  void JudgeTag(Tag* tag);
  // Runs a read step op(&work) on a copy of *cursor and keeps the copy on
  // success. In shared mode it first runs from the cached pages alone with no
  // lock, and keeps that answer when the bag's counter, read once without the
  // lock, shows no write since the pages were read; a page not cached or a
  // moved counter runs it again from the start under the shared lock.
  template <class Op>
  Status Read(IndexCursor* cursor, Op op);
  bool CanReadWithoutLock() const;
  Status LockForWrite();
  Status FinishWrite(Status status);
  Status Fill(IndexCursor* cursor, uint32_t page, uint32_t index, bool valid);
  Status StepPhysical(IndexCursor* cursor, bool forward);
  // The tags whose entry for the record moves between the two images.
  struct KeyChange {
    size_t tag = 0;
    std::string old_key, new_key;
    bool old_in = false, new_in = false;
  };
  Status KeyChanges(uint32_t recno, std::span<const uint8_t> old_record,
                    std::span<const uint8_t> new_record, std::vector<KeyChange>* changes);
  Status ApplyChanges(uint32_t recno, const std::vector<KeyChange>& changes);
  // The keys one tag takes from a batch of records.
  struct BatchKeys {
    std::string keys;             // n * key_length bytes, record i at i * key_length
    std::vector<uint32_t> order;  // the records the tag includes, then sorted
  };
  Status KeysOfBatch(size_t tag, uint32_t first_recno, const uint8_t* records, uint32_t n,
                     size_t record_length, BatchKeys* out);
  // Announces the pages the inserts of the batch are expected to change.
  Status AnnounceBatch(uint32_t first_recno, const std::vector<BatchKeys>& all);

  platform::File* file_ = nullptr;
  std::string file_name_;
  std::vector<IndexField> fields_;
  IndexOptions options_;
  std::unique_ptr<cdx::Pager> pager_;
  std::vector<Tag> tags_;
  Status writable_;
  int update_depth_ = 0;
  bool undoable_ = false;  // the current update may write pages before EndUpdate
  int read_depth_ = 0;
  std::vector<KeyChange> change_scratch_;
};

}  // namespace tables
