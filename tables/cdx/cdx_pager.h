// Page access for one CDX file. Reads pages through the platform file, keeps
// decoded pages in a small bounded cache and the bytes of more pages in a
// larger one (a page found there is decoded again but not read), and collects
// the changes of one update (changed pages, pages taken from or returned to
// the free list, new tag roots)
// to write them together at Commit, so that a failure found half-way leaves the
// file untouched (Discard). Pages go out in file order, neighbours in one
// write. A long update whose writes the caller can undo (a rollback journal
// saves the old bytes first) may write its changed pages early (Spill) to
// bound its memory, having told beforehand which pages it will change
// (Announce: the journal saves them together, one flush for all); the
// free-list head, the tag roots and the counter still change only at Commit,
// under the same write lock. In shared mode the cache
// is trusted only while the bag header's free-list head and change counter are
// those seen last: Revalidate(), called right after taking the index lock,
// drops it otherwise. Commit advances the counter. One thread; the caller
// holds the index lock, except for a read in cache-only mode: there every
// read of the file is refused (the operation fails and is run again under the
// lock), and Unchanged() then tells whether the cached pages are still the
// bag's.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "tables/cdx/cdx_page.h"
#include "tables/dbf/status.h"

namespace tables::cdx {

class Pager {
 public:
  Pager(platform::File* file, std::string file_name);

  const std::string& file_name() const { return file_name_; }
  uint64_t file_size() const { return file_size_; }
  // Changes whenever cached pages were dropped or changes were written;
  // cursors re-seek when it moved.
  uint64_t generation() const { return generation_; }

  // Reads exactly n bytes at offset (corruption when the file is shorter).
  Status ReadBytes(uint64_t offset, uint8_t* buffer, size_t n);

  // Re-reads the bag's free-list head and change counter (and, for writers,
  // the file size); drops the cache when another writer changed the file
  // since we last looked. Any writer moves the counter, so readers need not
  // look at the size.
  Status Revalidate(bool for_write = true);
  // Without the lock: reads the free-list head and change counter once and
  // tells whether they are those the cache was built under (false when the
  // header was never read or was forgotten).
  Status Unchanged(bool* same);
  // While set, nothing is read from the file: a page or root not cached
  // fails the call with a read error. Pages already held (decoded or as
  // bytes) are used as usual.
  void set_cache_only(bool on) { cache_only_ = on; }
  bool cache_only() const { return cache_only_; }

  // The decoded page at offset (from the cache when present). `where` names the
  // tag in error texts.
  Status Get(uint32_t offset, uint32_t key_length, uint8_t filler, const std::string& where,
             Node** out);
  // The decoded page at offset when the cache holds it, else nullptr.
  Node* Cached(uint32_t offset);
  // The bytes of the page at offset, from the kept copies or read (and kept);
  // valid until the next call into the pager.
  Status Bytes(uint32_t offset, const std::string& where, const uint8_t** out);
  // Bytes for a lookup (Seek): a page missed just after a page an earlier
  // lookup missed is taken as a walk in key order over leaves laid out in
  // key order, and the pages that follow it are read with it in one go;
  // a lookup elsewhere reads its page alone.
  Status LookupBytes(uint32_t offset, const std::string& where, const uint8_t** out);
  // Reads a small bag whole on the first call after the cache was dropped,
  // so that its reads find every page cached. Under the lock, no changes
  // pending.
  Status Preload();
  // A copy of the page at offset, decoded: the cached page when there is
  // one, else its kept bytes or a read of the file. Keeps nothing: for a
  // walk that looks at many pages once.
  Status Peek(uint32_t offset, uint32_t key_length, uint8_t filler, const std::string& where,
              Node* out);
  // Records that a cached page changed; it is written at Commit.
  void MarkDirty(Node* node);
  // A new empty page of the given kind, from the free list or the end of file.
  Status Allocate(uint32_t key_length, uint8_t filler, uint16_t attributes,
                  const std::string& where, Node** out);
  // Returns a page to the free list.
  void Free(uint32_t offset);
  // The root page of the tag whose header is at header_offset.
  Status Root(uint32_t header_offset, uint32_t* root);
  // A tag's new root, written into its header at Commit.
  void SetRoot(uint32_t header_offset, uint32_t root);
  // False until the bag header was read, and again after Discard.
  bool header_known() const { return header_known_; }

  bool has_changes() const;
  // Called by Commit with every (offset, length) it is about to write, before
  // the first write (the rollback journal saves their old bytes in one go).
  using WriteNotice =
      std::function<platform::OsStatus(const std::vector<std::pair<uint64_t, uint64_t>>&)>;
  void set_before_commit(WriteNotice notice) { before_commit_ = std::move(notice); }
  // Hands (offset, length) ranges an update is about to change to the
  // commit notice ahead of time: the rollback journal saves their old bytes
  // now, together, so that the spills and the Commit that follow find them
  // saved and need no flush of their own. An estimate is enough: whatever
  // it misses is still saved before its write.
  Status Announce(const std::vector<std::pair<uint64_t, uint64_t>>& ranges);
  // Announces exactly what Commit would write now (pages, freed pages,
  // roots, the header), so that a Commit right after needs no flush.
  Status AnnounceChanges();
  // Writes every change, then the free-list head and the advanced counter.
  Status Commit();
  // Pages changed and not yet written.
  size_t dirty_pages() const { return dirty_.size(); }
  // Writes the changed pages now (their old bytes announced first, as at
  // Commit) and drops them from the decoded cache; what Commit writes besides
  // pages (freed pages, roots, free-list head, counter) stays pending. Only
  // for callers that can put the file back when the update fails.
  Status Spill();
  // Spills when the changed pages reached the bound, and drops clean decoded
  // pages (an update in key order does not come back to them). Between tree
  // operations only: it invalidates every Node pointer handed out.
  Status Relieve();
  // Pages changed in one update before Relieve spills (default 128, 64 KB).
  void set_spill_limit(size_t pages) { spill_limit_ = std::max<size_t>(pages, 1); }
  // Pages read in one go on a miss (0 or 1: the page alone). For updates that
  // walk the tree in key order, whose leaves lie mostly in file order; random
  // seeks keep reading one page.
  void set_read_ahead(uint32_t pages) { read_ahead_ = pages; }
  // Forgets uncommitted changes together with the whole cache.
  void Discard();
  // Drops clean cached pages when the cache has grown past its bound.
  void Trim();
  // Bounds of the decoded and the raw page caches (defaults: about 1.7 MB and
  // 8 MB, 128 KB while reading ahead); drops both caches. Not while changes are pending.
  void SetCacheLimits(size_t decoded_pages, size_t raw_pages);

  // Counts since open, for tests and benchmarks.
  struct Stats {
    uint64_t pages_freed = 0;
    uint64_t pages_reused = 0;        // taken from the free list
    uint64_t pages_appended = 0;      // taken from the end of the file
    uint64_t cache_drops = 0;         // caches dropped because another writer moved the counter
    uint64_t reads_without_lock = 0;  // reads answered from the cache, the counter unchanged
    uint64_t spills = 0;              // early writes of changed pages (Spill)
    uint64_t page_writes = 0;         // write calls for pages (a run of neighbours counts once)
  };
  const Stats& stats() const { return stats_; }

 private:
  struct Entry {
    Node node;
    uint8_t filler = 0x20;
    bool dirty = false;
  };
  // A page to write: a changed cached page, or a freed one (entry nullptr).
  struct Out {
    uint32_t offset;
    Entry* entry;
    uint32_t next_free;
  };
  // Neighbouring pages written in one go: outs [first, last), from `start`
  // for `pages` pages (gap pages rewritten as they are).
  struct Run {
    size_t first, last;
    uint32_t start;
    uint32_t pages;
  };
  // True when the page at offset lies in what this update announced.
  bool Announced(uint32_t offset) const;
  // The pages the next write would write (freed: the freed pages too), in
  // file order and cut into runs.
  void PlanWrite(bool freed, std::vector<Out>* outs, std::vector<Run>* runs);
  // The ranges a write of those runs announces (header: with the roots and
  // the free-list head and counter).
  std::vector<std::pair<uint64_t, uint64_t>> WriteRanges(const std::vector<Run>& runs,
                                                         bool header) const;
  Status CheckPageOffset(uint32_t offset, const std::string& where) const;
  // A page a read may use: inside the file and not on the free list.
  Status CheckReadablePage(uint32_t offset, const std::string& where) const;
  // Reads n pages from offset into the raw copies (n limited to the file),
  // keeping the copies and the decoded pages already held.
  Status ReadRun(uint32_t offset, uint32_t n, bool passing);
  void DropCache();
  // The raw copy of a page, or nullptr.
  const uint8_t* RawPage(uint32_t offset) const;
  // Keeps a copy of a page's bytes, replacing the oldest copy when full.
  void KeepRaw(uint32_t offset, const uint8_t* bytes);
  // Keeps a copy of a page read in passing (read ahead for lookups in key
  // order, which use it soon or never) in a small ring of its own, so that
  // a walk over the whole file neither grows the memory nor pushes out the
  // pages that random lookups come back to.
  void KeepPassing(uint32_t offset, const uint8_t* bytes);
  uint8_t* SlotBytes(uint32_t slot);
  void ForgetRaw(uint32_t offset);
  // Writes the changed cached pages, and with freed also the freed pages, in
  // file order, neighbours (and gaps of a page or two whose bytes we hold) in
  // one write; announces every range first.
  Status WritePages(bool freed, bool header);
  // Drops clean decoded pages during an update: leaves first, interior
  // pages past a quarter of the bound.
  void TrimClean();
  // Reads the pages from offset on in one call into the raw cache.
  Status ReadAhead(uint32_t offset);

  platform::File* file_;
  std::string file_name_;
  uint64_t file_size_ = 0;
  uint64_t alloc_end_ = 0;  // end of file including pages allocated in this update
  uint32_t free_head_ = 0;
  uint32_t counter_ = 0;
  bool header_known_ = false;
  bool cache_only_ = false;
  bool preloaded_ = false;
  // Last pages read by lookups that missed: where walks in key order are.
  std::array<uint32_t, 4> lookup_heads_{};
  uint32_t lookup_next_head_ = 0;
  std::vector<uint8_t> run_bytes_;
  uint64_t generation_ = 1;
  std::unordered_map<uint32_t, std::unique_ptr<Entry>> cache_;
  std::vector<uint32_t> dirty_;  // offsets of cached pages changed since Commit
  // Raw page copies: slot i holds the page at raw_offsets_[i] (kNoPage: empty),
  // replaced in turn.
  std::unordered_map<uint32_t, uint32_t> raw_slot_;
  // Their bytes, in blocks of kRawBlockPages pages taken as the slots are
  // first used: memory follows the pages held, not the bound.
  static constexpr uint32_t kRawBlockPages = 256;
  std::vector<std::unique_ptr<uint8_t[]>> raw_blocks_;
  std::vector<uint32_t> raw_offsets_;
  uint32_t raw_next_ = 0;
  // Pages kept in passing: slot kPassingSlot + i of raw_slot_ is page i here.
  std::vector<uint8_t> passing_bytes_;
  std::vector<uint32_t> passing_offsets_;
  uint32_t passing_next_ = 0;
  size_t max_decoded_;
  size_t max_raw_;
  std::map<uint32_t, uint32_t> freed_;  // page → next free, written at Commit
  std::map<uint32_t, uint32_t> roots_;  // tag header offset → new root, not yet written
  // What this update announced, as sorted [start, end) ranges.
  std::vector<std::pair<uint64_t, uint64_t>> announced_;
  std::unordered_map<uint32_t, uint32_t> root_cache_;
  bool changed_ = false;
  size_t spill_limit_;
  uint32_t read_ahead_ = 0;
  size_t trim_floor_ = 0;     // clean decoded pages left by the last TrimClean
  uint64_t spilled_end_ = 0;  // end of the pages written so far
  std::vector<uint8_t> run_;  // bytes of a run of pages being written or read ahead
  WriteNotice before_commit_;
  Stats stats_;
};

}  // namespace tables::cdx
