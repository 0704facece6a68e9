// The record layer of the table service: one DBF table (and its FPT/DBT memo
// file) opened shared or exclusive, its header and field descriptors, records
// read and written by number, memo values, appends and the shared-mode locks of
// the table's lock scheme. No runtime types here: DBServer (dbserver.h) builds
// the runtime class, the error protocol and the index maintenance on top.
//
// Coherence with other writers: the record count is re-derived from the file
// size before every append and whenever a read passes the cached count; header
// bytes are re-read under the header lock and only count and date are changed;
// a record is re-read after its lock is taken (the caller's job: LockRecord
// then ReadRecord). A table that failed validation is readable where safe and
// never written. One thread; not copyable.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "tables/dbf/dbf_header.h"
#include "tables/dbf/lock_scheme.h"
#include "tables/dbf/record_layout.h"
#include "tables/dbf/status.h"

namespace tables {

class MemoFile;

struct OpenOptions {
  bool shared = true;
  bool read_only = false;
  LockSchemeId scheme = LockSchemeId::kVfp;
};

class Table {
 public:
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  // path: a Windows path to the .dbf. The memo file (.fpt / .dbt) opens with it.
  static Status Open(std::string_view path, const OpenOptions& options,
                     std::unique_ptr<Table>* out);

  const std::string& path() const { return path_; }
  const DbfHeader& header() const { return header_; }
  const std::vector<FieldDesc>& fields() const { return header_.fields; }
  // Visible fields only (no _NullFlags), in file order, as indexes into fields().
  const std::vector<size_t>& visible_fields() const { return visible_; }
  // Index into fields() of the field named name (any case, trailing blanks ignored); -1.
  int FieldIndex(std::string_view name) const;
  // The layout for key expressions (record_layout.h).
  const std::vector<IndexField>& index_fields() const { return index_fields_; }
  uint32_t record_length() const { return header_.record_length; }
  bool shared() const { return options_.shared; }
  bool read_only() const { return options_.read_only; }
  const LockScheme& scheme() const { return scheme_; }
  platform::File* file() { return file_.get(); }
  MemoFile* memo() { return memo_.get(); }
  // Why the table may not be written (empty when it may).
  const std::string& write_refusal() const { return write_refusal_; }
  // Why the file is not whole (header count above the records in the file, or
  // a partial last record); empty when it is.
  const std::string& damage() const { return damage_; }
  // Warnings found at open (count mismatch, trailing garbage), for tools.
  const std::vector<std::string>& warnings() const { return warnings_; }

  // Records, 1-based. The count is whole records in the file (other writers'
  // appends included); RefreshCount re-reads the file size.
  uint32_t RecordCount() const { return count_; }
  Status RefreshCount();
  // Reads record recno into buffer (record_length() bytes). A read past the
  // cached count refreshes it first; past the real end is a read error.
  Status ReadRecord(uint32_t recno, uint8_t* buffer);
  // Reads records first.. into buffer, as many as fit in n whole records; *got
  // receives how many (bulk scans).
  Status ReadRecords(uint32_t first, uint32_t n, uint8_t* buffer, uint32_t* got);
  // Writes a whole record. In shared mode the caller must hold the record or
  // file lock (checked here: 38 otherwise).
  Status WriteRecord(uint32_t recno, const uint8_t* buffer);
  // A blank record: blanks, zeros for binary types, _NullFlags all set as
  // other engines append (every nullable field NULL, every varchar empty).
  std::vector<uint8_t> BlankRecord() const;

  // Appending, in three steps so that indexes are updated in between:
  // BeginAppend waits for the header lock and re-derives the count from the
  // file size; AppendRecords (any number of times) takes the new records' lock
  // bytes and writes the records, then the header with the new count;
  // EndAppend releases the header lock (and the new
  // records' locks unless keep_locks). RollbackAppend, before EndAppend,
  // forgets the records appended since BeginAppend (the count, their locks)
  // once the caller has put the file back: the rollback journal saved the
  // header and the end of the file when the append began (DBServer).
  // ReserveRecord, right after BeginAppend, takes the lock of the next record
  // (kept, as keep_locks does) and gives its number without writing anything;
  // the one AppendRecords that follows writes exactly that record. A reserved
  // record that is never written is forgotten by RollbackAppend or EndAppend.
  Status BeginAppend();
  Status ReserveRecord(uint32_t* recno);
  Status AppendRecords(const uint8_t* records, uint32_t count, bool keep_locks, uint32_t* first);
  Status RollbackAppend();
  Status EndAppend();
  bool appending() const { return pending_.active; }

  // Locks. RecordLock re-reading is the caller's (LockRecord, then ReadRecord).
  Status LockRecord(uint32_t recno);
  Status UnlockRecord(uint32_t recno);
  Status LockFile();
  Status UnlockAll();
  bool IsLocked(uint32_t recno) const;
  bool file_locked() const { return file_locked_; }
  const std::vector<uint32_t>& locked_records() const { return locked_; }

  // Memo value of field `field` (index into fields()) of a record; empty when
  // the field holds no block. Corrupt pointers give a corruption error for
  // this field only.
  Status ReadMemo(size_t field, const uint8_t* record, std::string* out);
  // Stores value as the memo of field `field` of record and updates the
  // pointer in record (the caller writes the record afterwards).
  Status WriteMemo(size_t field, uint8_t* record, std::string_view value, bool binary);

  // Writes the header count and date again (exclusive close) and 0x1A.
  Status Close();

  // The header lock alone (bounded wait), for a write transaction that must
  // keep other appenders out; no-op on an exclusive table. Not while appending.
  Status LockHeader();
  void UnlockHeader();
  // From now on the table is not written (reason: why).
  void RefuseWrites(std::string reason) {
    if (write_refusal_.empty()) write_refusal_ = std::move(reason);
  }
  // Replaces the table's file and its memo file by wrappers of them (role 'D'
  // for the table, 'M' for the memo file), e.g. to journal their writes.
  using FileWrapper =
      std::function<std::unique_ptr<platform::File>(std::unique_ptr<platform::File>, char role)>;
  void WrapFiles(const FileWrapper& wrap);

 private:
  Table() = default;
  Status Validate();
  Status TakeRanges(const std::vector<LockRange>& ranges, bool wait);
  void DropRanges(const std::vector<LockRange>& ranges);
  Status WriteHeaderCount(uint32_t count);

  std::string path_;
  OpenOptions options_;
  DbfHeader header_;
  std::vector<size_t> visible_;
  std::vector<IndexField> index_fields_;
  LockScheme scheme_{LockSchemeId::kVfp, 0x03, false, 0, 1};
  std::unique_ptr<platform::File> file_;
  std::unique_ptr<MemoFile> memo_;
  std::string write_refusal_;
  std::string damage_;
  std::vector<std::string> warnings_;
  uint32_t count_ = 0;
  std::vector<uint32_t> locked_;
  bool file_locked_ = false;
  bool modified_ = false;
  std::vector<LockRange> header_locked_;

  // State of an append in progress (between AppendRecords and EndAppend).
  struct PendingAppend {
    bool active = false;
    uint32_t old_count = 0;
    uint32_t reserved = 0;  // ReserveRecord's record, until written
    std::vector<LockRange> header_ranges;
    std::vector<std::vector<LockRange>> record_ranges;  // released at EndAppend
  } pending_;
};

}  // namespace tables
