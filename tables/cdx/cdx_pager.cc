// Pager: the bag header, the changes of an update and how they are written
// (announced first, in file order, in runs). Reading and keeping pages (the
// decoded and raw caches, read-ahead, lookups): cdx_pager_cache.cc.
#include "tables/cdx/cdx_pager.h"

#include <algorithm>
#include <vector>

#include "tables/cdx/cdx_header.h"

namespace tables::cdx {
namespace {

// About 1.7 MB of decoded pages and 8 MB of page bytes at most (every page of
// a tag of a million 12-byte keys), so that the peak memory stays flat whatever
// the size of the file. Decoding a page costs less than reading it again.
constexpr size_t kMaxCachedPages = 1024;
constexpr size_t kMaxRawPages = 16384;
// Changed pages a long update keeps before it writes them (64 KB of pages,
// decoded about three times that). The update announces the pages it will
// change first (Announce), so an early write costs no journal flush.
constexpr size_t kSpillPages = 128;
// One write covers at most this many pages (32 KB); a gap of up to
// kMaxGapPages clean pages whose bytes we hold is written over to join runs.
constexpr size_t kMaxRunPages = 64;
constexpr uint32_t kMaxGapPages = 2;

Status ReadError(const std::string& file, uint32_t os_code) {
  return Status::Io(Status::kRead, file + ": read error", os_code);
}

Status WriteError(const std::string& file, uint32_t os_code) {
  return Status::Io(Status::kWrite, file + ": write error", os_code);
}

}  // namespace

Pager::Pager(platform::File* file, std::string file_name)
    : file_(file),
      file_name_(std::move(file_name)),
      max_decoded_(kMaxCachedPages),
      max_raw_(kMaxRawPages),
      spill_limit_(kSpillPages) {}

Status Pager::ReadBytes(uint64_t offset, uint8_t* buffer, size_t n) {
  if (cache_only_) {
    return Status::Io(Status::kRead,
                      file_name_ + ": offset " + std::to_string(offset) + " is not cached", 0);
  }
  size_t got = 0;
  platform::OsStatus s = file_->ReadAt(offset, buffer, n, &got);
  if (!s.ok()) return ReadError(file_name_, s.code());
  if (got != n) {
    return Status::Corruption(file_name_ + ": offset " + std::to_string(offset) +
                              " lies beyond the end of the file");
  }
  return Status::Ok();
}

Status Pager::Revalidate(bool for_write) {
  uint8_t bytes[8];
  TABLE_RETURN_IF_ERROR(ReadBytes(4, bytes, sizeof bytes));
  uint32_t free_head = Le32(bytes);
  uint32_t counter = Be32(bytes + 4);
  bool moved = !header_known_ || free_head != free_head_ || counter != counter_;
  uint64_t size = file_size_;
  if (for_write || moved) {
    platform::OsStatus s = file_->Size(&size);
    if (!s.ok()) return ReadError(file_name_, s.code());
    moved = moved || size != file_size_;
  }
  if (moved) {
    if (header_known_) ++stats_.cache_drops;
    DropCache();
  }
  free_head_ = free_head;
  counter_ = counter;
  header_known_ = true;
  file_size_ = size;
  alloc_end_ = size;
  return Status::Ok();
}

Status Pager::Unchanged(bool* same) {
  *same = false;
  if (!header_known_ || changed_) return Status::Ok();
  uint8_t bytes[8];
  size_t got = 0;
  platform::OsStatus s = file_->ReadAt(4, bytes, sizeof bytes, &got);
  if (!s.ok()) return ReadError(file_name_, s.code());
  *same = got == sizeof bytes && Le32(bytes) == free_head_ && Be32(bytes + 4) == counter_;
  if (*same) ++stats_.reads_without_lock;
  return Status::Ok();
}

Status Pager::CheckPageOffset(uint32_t offset, const std::string& where) const {
  if (offset % kPageSize != 0 || offset < kHeaderSize ||
      static_cast<uint64_t>(offset) + kPageSize > alloc_end_) {
    return Status::Corruption(where + ": page pointer " + std::to_string(offset) +
                              " lies outside the file");
  }
  return Status::Ok();
}

Status Pager::CheckReadablePage(uint32_t offset, const std::string& where) const {
  TABLE_RETURN_IF_ERROR(CheckPageOffset(offset, where));
  if (freed_.count(offset)) {
    return Status::Corruption(where + ": page at offset " + std::to_string(offset) +
                              " is on the free list");
  }
  return Status::Ok();
}

Status Pager::Announce(const std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
  if (!before_commit_ || ranges.empty()) return Status::Ok();
  platform::OsStatus s = before_commit_(ranges);
  if (!s.ok()) return WriteError(file_name_, s.code());
  // Kept as sorted, joined [start, end) ranges: later writes join runs over
  // clean pages only where those were announced (saved) too.
  for (const auto& [offset, length] : ranges) announced_.emplace_back(offset, offset + length);
  std::sort(announced_.begin(), announced_.end());
  size_t n = 0;
  for (const auto& r : announced_) {
    if (n > 0 && r.first <= announced_[n - 1].second) {
      announced_[n - 1].second = std::max(announced_[n - 1].second, r.second);
    } else {
      announced_[n++] = r;
    }
  }
  announced_.resize(n);
  return Status::Ok();
}

bool Pager::Announced(uint32_t offset) const {
  auto it = std::upper_bound(announced_.begin(), announced_.end(),
                             std::make_pair(uint64_t{offset}, UINT64_MAX));
  return it != announced_.begin() && std::prev(it)->second >= uint64_t{offset} + kPageSize;
}

void Pager::MarkDirty(Node* node) {
  auto it = cache_.find(node->offset);
  if (it != cache_.end()) {
    if (!it->second->dirty) dirty_.push_back(node->offset);
    it->second->dirty = true;
    changed_ = true;
  }
}

Status Pager::Allocate(uint32_t key_length, uint8_t filler, uint16_t attributes,
                       const std::string& where, Node** out) {
  uint32_t offset;
  if (free_head_ != 0 && free_head_ != kNoPage) {
    offset = free_head_;
    auto f = freed_.find(offset);
    if (f != freed_.end()) {
      free_head_ = f->second;
      freed_.erase(f);
    } else {
      TABLE_RETURN_IF_ERROR(CheckPageOffset(offset, file_name_ + ", free list"));
      if (cache_.count(offset)) {
        return Status::Corruption(file_name_ + ": free list holds the page in use at offset " +
                                  std::to_string(offset));
      }
      uint8_t next[4];
      TABLE_RETURN_IF_ERROR(ReadBytes(offset, next, sizeof next));
      free_head_ = Le32(next);
    }
    ++stats_.pages_reused;
  } else {
    if (alloc_end_ % kPageSize != 0) alloc_end_ += kPageSize - alloc_end_ % kPageSize;
    if (alloc_end_ + kPageSize > 0xFFFFFE00ull) {
      return Status::Unsupported(where + ": index file would pass 4 GB");
    }
    offset = static_cast<uint32_t>(alloc_end_);
    alloc_end_ += kPageSize;
    ++stats_.pages_appended;
  }
  ForgetRaw(offset);  // the page starts anew
  auto entry = std::make_unique<Entry>();
  entry->node.offset = offset;
  entry->node.attributes = attributes;
  entry->node.key_length = key_length;
  entry->node.filler = filler;
  entry->filler = filler;
  entry->dirty = true;
  *out = &entry->node;
  cache_[offset] = std::move(entry);
  dirty_.push_back(offset);
  changed_ = true;
  return Status::Ok();
}

void Pager::Free(uint32_t offset) {
  ++stats_.pages_freed;
  cache_.erase(offset);
  ForgetRaw(offset);
  freed_[offset] = free_head_;
  free_head_ = offset;
  changed_ = true;
}

Status Pager::Root(uint32_t header_offset, uint32_t* root) {
  auto pending = roots_.find(header_offset);
  if (pending != roots_.end()) {
    *root = pending->second;
    return Status::Ok();
  }
  auto cached = root_cache_.find(header_offset);
  if (cached != root_cache_.end()) {
    *root = cached->second;
    return Status::Ok();
  }
  uint8_t bytes[4];
  TABLE_RETURN_IF_ERROR(ReadBytes(header_offset, bytes, sizeof bytes));
  *root = Le32(bytes);
  root_cache_[header_offset] = *root;
  return Status::Ok();
}

void Pager::SetRoot(uint32_t header_offset, uint32_t root) {
  roots_[header_offset] = root;
  root_cache_[header_offset] = root;
  changed_ = true;
}

bool Pager::has_changes() const { return changed_; }

void Pager::PlanWrite(bool freed, std::vector<Out>* outs_out, std::vector<Run>* runs_out) {
  // What goes out: changed cached pages and, at Commit, freed pages. A page
  // freed after it changed is no longer cached and is written as free.
  std::vector<Out>& outs = *outs_out;
  outs.clear();
  outs.reserve(dirty_.size() + (freed ? freed_.size() : 0));
  for (uint32_t offset : dirty_) {
    auto it = cache_.find(offset);
    if (it != cache_.end() && it->second->dirty) outs.push_back({offset, it->second.get(), 0});
  }
  if (freed) {
    for (const auto& [offset, next] : freed_) outs.push_back({offset, nullptr, next});
  }
  std::sort(outs.begin(), outs.end(),
            [](const Out& a, const Out& b) { return a.offset < b.offset; });
  outs.erase(std::unique(outs.begin(), outs.end(),
                         [](const Out& a, const Out& b) { return a.offset == b.offset; }),
             outs.end());

  // Runs of neighbouring pages, in file order (a file grown by several pages
  // has no holes).
  std::vector<Run>& runs = *runs_out;
  runs.clear();
  for (size_t i = 0; i < outs.size(); ++i) {
    uint32_t offset = outs[i].offset;
    if (!runs.empty()) {
      Run& r = runs.back();
      uint64_t end = r.start + uint64_t{r.pages} * kPageSize;
      uint64_t gap = offset >= end ? (offset - end) / kPageSize : kMaxRunPages;
      bool joins = gap <= kMaxGapPages && r.pages + gap + 1 <= kMaxRunPages;
      for (uint64_t g = 0; joins && g < gap; ++g) {
        uint32_t at = static_cast<uint32_t>(end + g * kPageSize);
        joins = RawPage(at) != nullptr && freed_.count(at) == 0 &&
                (announced_.empty() || Announced(at));
      }
      if (joins) {
        r.last = i + 1;
        r.pages = static_cast<uint32_t>(r.pages + gap + 1);
        continue;
      }
    }
    runs.push_back({i, i + 1, offset, 1});
  }
}

std::vector<std::pair<uint64_t, uint64_t>> Pager::WriteRanges(const std::vector<Run>& runs,
                                                              bool header) const {
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  ranges.reserve(runs.size() + roots_.size() + 1);
  for (const Run& r : runs) ranges.emplace_back(r.start, uint64_t{r.pages} * kPageSize);
  if (header) {
    for (const auto& [offset, root] : roots_) ranges.emplace_back(offset, 4);
    ranges.emplace_back(4, 8);
  }
  return ranges;
}

Status Pager::AnnounceChanges() {
  if (!before_commit_ || !changed_) return Status::Ok();
  std::vector<Out> outs;
  std::vector<Run> runs;
  PlanWrite(true, &outs, &runs);
  return Announce(WriteRanges(runs, true));
}

Status Pager::WritePages(bool freed, bool header) {
  std::vector<Out> outs;
  std::vector<Run> runs;
  PlanWrite(freed, &outs, &runs);
  Status status;
  if (before_commit_) {
    platform::OsStatus s = before_commit_(WriteRanges(runs, header));
    if (!s.ok()) return WriteError(file_name_, s.code());
  }
  auto write = [&](uint64_t offset, const uint8_t* data, size_t n) -> Status {
    platform::OsStatus s = file_->WriteAt(offset, data, n);
    if (!s.ok()) return WriteError(file_name_, s.code());
    return Status::Ok();
  };
  for (const Run& r : runs) {
    run_.assign(size_t{r.pages} * kPageSize, 0);
    size_t next = r.first;
    for (uint32_t p = 0; p < r.pages; ++p) {
      uint32_t at = r.start + p * kPageSize;
      std::span<uint8_t> page(run_.data() + size_t{p} * kPageSize, kPageSize);
      if (next < r.last && outs[next].offset == at) {
        const Out& o = outs[next++];
        if (o.entry != nullptr) {
          EncodeNode(o.entry->node, o.entry->filler, page);
        } else {
          PutLe32(page.data(), o.next_free);
        }
      } else {
        const uint8_t* held = RawPage(at);  // a gap page, rewritten as it is
        std::copy(held, held + kPageSize, page.begin());
      }
    }
    TABLE_RETURN_IF_ERROR(write(r.start, run_.data(), run_.size()));
    ++stats_.page_writes;
    spilled_end_ = std::max<uint64_t>(spilled_end_, r.start + run_.size());
    for (size_t i = r.first; i < r.last; ++i) {
      Entry* e = outs[i].entry;
      if (e == nullptr) continue;
      e->dirty = false;
      if (RawPage(outs[i].offset) != nullptr) {
        KeepRaw(outs[i].offset, run_.data() + (outs[i].offset - r.start));
      }
    }
  }
  if (run_.capacity() > kMaxRunPages * kPageSize) run_ = std::vector<uint8_t>();
  if (!header) return status;
  for (auto it = roots_.begin(); status.ok() && it != roots_.end(); ++it) {
    uint8_t bytes[4];
    PutLe32(bytes, it->second);
    status = write(it->first, bytes, sizeof bytes);
  }
  if (status.ok()) {
    uint8_t bytes[8];
    PutLe32(bytes, free_head_);
    PutBe32(bytes + 4, counter_ + 1);
    status = write(4, bytes, sizeof bytes);
  }
  return status;
}

Status Pager::Commit() {
  if (!changed_) return Status::Ok();
  Status status = WritePages(true, true);
  if (!status.ok()) {
    Discard();
    header_known_ = false;
    return status;
  }
  ++counter_;
  ++generation_;  // our own changes move entries too: cursors find their place again
  file_size_ = alloc_end_;
  dirty_.clear();
  freed_.clear();
  roots_.clear();
  announced_.clear();
  changed_ = false;
  return Status::Ok();
}

Status Pager::Spill() {
  if (dirty_.empty()) return Status::Ok();
  Status status = WritePages(false, false);
  if (!status.ok()) {
    Discard();
    header_known_ = false;
    return status;
  }
  dirty_.clear();
  ++stats_.spills;
  // Pages written past the old end can be read ahead again.
  file_size_ = std::max(file_size_, spilled_end_);
  return Status::Ok();
}

Status Pager::Relieve() {
  if (dirty_.size() >= spill_limit_) TABLE_RETURN_IF_ERROR(Spill());
  TrimClean();
  return Status::Ok();
}

void Pager::Discard() {
  DropCache();
  header_known_ = false;
}

}  // namespace tables::cdx
