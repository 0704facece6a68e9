#include "tables/cdx_pager.h"

#include <algorithm>
#include <array>
#include <vector>

#include "tables/cdx_header.h"

namespace tables::cdx {
namespace {

// About 1.7 MB of decoded pages and 4 MB of page bytes at most, so that the
// peak memory stays flat whatever the size of the file. Decoding a page costs
// less than reading it again.
constexpr size_t kMaxCachedPages = 1024;
constexpr size_t kMaxRawPages = 8192;
// A bag this small is read whole on its first miss (256 KB).
constexpr uint64_t kPreloadBytes = 256 * 1024;
// Lookups in key order: a miss at most kLookupGap pages past one of the last
// misses reads kLookupRun pages (16 KB) at once.
constexpr uint32_t kLookupGap = 8;
constexpr uint32_t kLookupRun = 32;
// Pages read in passing are kept in a ring of 256 (128 KB); their slots are
// numbered from kPassingSlot.
constexpr size_t kPassingPages = 256;
constexpr uint32_t kPassingSlot = 0x80000000u;
// Page bytes kept while reading ahead (128 KB): an update in key order uses
// the pages read ahead soon and does not come back to them.
constexpr size_t kReadAheadRawPages = 256;
// Changed pages a long update keeps before it writes them (64 KB of pages,
// decoded about three times that). The update announces the pages it will
// change first (Announce), so an early write costs no journal flush.
constexpr size_t kSpillPages = 128;
// One write covers at most this many pages (32 KB); a gap of up to
// kMaxGapPages clean pages whose bytes we hold is written over to join runs.
constexpr size_t kMaxRunPages = 64;
constexpr uint32_t kMaxGapPages = 2;

IndexStatus ReadError(const std::string& file, uint32_t os_code) {
  return IndexStatus::Io(IndexStatus::kRead, file + ": read error", os_code);
}

IndexStatus WriteError(const std::string& file, uint32_t os_code) {
  return IndexStatus::Io(IndexStatus::kWrite, file + ": write error", os_code);
}

}  // namespace

Pager::Pager(platform::File* file, std::string file_name)
    : file_(file),
      file_name_(std::move(file_name)),
      max_decoded_(kMaxCachedPages),
      max_raw_(kMaxRawPages),
      spill_limit_(kSpillPages) {}

void Pager::SetCacheLimits(size_t decoded_pages, size_t raw_pages) {
  if (changed_) return;
  DropCache();
  raw_bytes_ = std::vector<uint8_t>();
  passing_bytes_ = std::vector<uint8_t>();
  max_decoded_ = std::max<size_t>(decoded_pages, 1);
  max_raw_ = std::max<size_t>(raw_pages, 1);
}

IndexStatus Pager::ReadBytes(uint64_t offset, uint8_t* buffer, size_t n) {
  if (cache_only_) {
    return IndexStatus::Io(IndexStatus::kRead,
                           file_name_ + ": offset " + std::to_string(offset) + " is not cached", 0);
  }
  size_t got = 0;
  platform::OsStatus s = file_->ReadAt(offset, buffer, n, &got);
  if (!s.ok()) return ReadError(file_name_, s.code());
  if (got != n) {
    return IndexStatus::Corruption(file_name_ + ": offset " + std::to_string(offset) +
                                   " lies beyond the end of the file");
  }
  return IndexStatus::Ok();
}

IndexStatus Pager::Revalidate(bool for_write) {
  uint8_t bytes[8];
  INDEX_RETURN_IF_ERROR(ReadBytes(4, bytes, sizeof bytes));
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
  return IndexStatus::Ok();
}

IndexStatus Pager::Unchanged(bool* same) {
  *same = false;
  if (!header_known_ || changed_) return IndexStatus::Ok();
  uint8_t bytes[8];
  size_t got = 0;
  platform::OsStatus s = file_->ReadAt(4, bytes, sizeof bytes, &got);
  if (!s.ok()) return ReadError(file_name_, s.code());
  *same = got == sizeof bytes && Le32(bytes) == free_head_ && Be32(bytes + 4) == counter_;
  if (*same) ++stats_.reads_without_lock;
  return IndexStatus::Ok();
}

void Pager::DropCache() {
  cache_.clear();
  dirty_.clear();
  raw_slot_.clear();
  raw_offsets_.clear();
  raw_bytes_.clear();  // the capacity stays: pages never touched take no memory
  raw_next_ = 0;
  passing_offsets_.clear();
  passing_bytes_.clear();
  passing_next_ = 0;
  trim_floor_ = 0;
  root_cache_.clear();
  preloaded_ = false;
  lookup_heads_.fill(0);
  freed_.clear();
  roots_.clear();
  announced_.clear();
  changed_ = false;
  ++generation_;
}

IndexStatus Pager::CheckPageOffset(uint32_t offset, const std::string& where) const {
  if (offset % kPageSize != 0 || offset < kHeaderSize ||
      static_cast<uint64_t>(offset) + kPageSize > alloc_end_) {
    return IndexStatus::Corruption(where + ": page pointer " + std::to_string(offset) +
                                   " lies outside the file");
  }
  return IndexStatus::Ok();
}

IndexStatus Pager::Get(uint32_t offset, uint32_t key_length, uint8_t filler,
                       const std::string& where, Node** out) {
  auto it = cache_.find(offset);
  if (it != cache_.end()) {
    *out = &it->second->node;
    return IndexStatus::Ok();
  }
  INDEX_RETURN_IF_ERROR(CheckPageOffset(offset, where));
  if (freed_.count(offset)) {
    return IndexStatus::Corruption(where + ": page at offset " + std::to_string(offset) +
                                   " is on the free list");
  }
  std::array<uint8_t, kPageSize> page;
  const uint8_t* bytes = RawPage(offset);
  if (bytes == nullptr && read_ahead_ > 1) {
    INDEX_RETURN_IF_ERROR(ReadAhead(offset));
    bytes = RawPage(offset);
  }
  if (bytes == nullptr) {
    INDEX_RETURN_IF_ERROR(ReadBytes(offset, page.data(), page.size()));
    bytes = page.data();
  }
  auto entry = std::make_unique<Entry>();
  INDEX_RETURN_IF_ERROR(DecodeNode(std::span<const uint8_t>(bytes, kPageSize), offset, key_length,
                                   filler, where, &entry->node));
  if (bytes == page.data()) KeepRaw(offset, bytes);
  entry->filler = filler;
  *out = &entry->node;
  cache_.emplace(offset, std::move(entry));
  return IndexStatus::Ok();
}

Node* Pager::Cached(uint32_t offset) {
  auto it = cache_.find(offset);
  return it == cache_.end() ? nullptr : &it->second->node;
}

IndexStatus Pager::Bytes(uint32_t offset, const std::string& where, const uint8_t** out) {
  if ((*out = RawPage(offset)) != nullptr) return IndexStatus::Ok();
  INDEX_RETURN_IF_ERROR(CheckPageOffset(offset, where));
  if (freed_.count(offset)) {
    return IndexStatus::Corruption(where + ": page at offset " + std::to_string(offset) +
                                   " is on the free list");
  }
  std::array<uint8_t, kPageSize> page;
  INDEX_RETURN_IF_ERROR(ReadBytes(offset, page.data(), page.size()));
  KeepRaw(offset, page.data());
  *out = RawPage(offset);
  return IndexStatus::Ok();
}

IndexStatus Pager::LookupBytes(uint32_t offset, const std::string& where, const uint8_t** out) {
  if ((*out = RawPage(offset)) != nullptr) return IndexStatus::Ok();
  bool in_order = false;
  for (uint32_t head : lookup_heads_) {
    in_order = in_order || (head != 0 && offset > head && offset - head <= kLookupGap * kPageSize);
  }
  uint32_t last = offset;
  if (!in_order || changed_ || cache_only_) {
    INDEX_RETURN_IF_ERROR(Bytes(offset, where, out));
  } else {
    INDEX_RETURN_IF_ERROR(CheckPageOffset(offset, where));
    INDEX_RETURN_IF_ERROR(ReadRun(offset, kLookupRun, true));
    if ((*out = RawPage(offset)) == nullptr) INDEX_RETURN_IF_ERROR(Bytes(offset, where, out));
    while (last - offset < (kLookupRun - 1) * kPageSize && RawPage(last + kPageSize) != nullptr) {
      last += kPageSize;
    }
  }
  lookup_heads_[lookup_next_head_] = last;
  lookup_next_head_ = (lookup_next_head_ + 1) % lookup_heads_.size();
  return IndexStatus::Ok();
}

IndexStatus Pager::ReadRun(uint32_t offset, uint32_t n, bool passing) {
  uint64_t in_file = alloc_end_ > offset ? (alloc_end_ - offset) / kPageSize : 0;
  n = static_cast<uint32_t>(std::min<uint64_t>(
      {n, in_file, passing ? kPassingPages / 2 : std::max<size_t>(max_raw_ / 2, 1)}));
  if (n == 0) return IndexStatus::Ok();
  run_bytes_.resize(size_t{n} * kPageSize);
  INDEX_RETURN_IF_ERROR(ReadBytes(offset, run_bytes_.data(), run_bytes_.size()));
  for (uint32_t k = 0; k < n; ++k) {
    uint32_t at = offset + k * kPageSize;
    if (RawPage(at) != nullptr || cache_.count(at) != 0 || freed_.count(at) != 0) continue;
    if (passing) {
      KeepPassing(at, run_bytes_.data() + size_t{k} * kPageSize);
    } else {
      KeepRaw(at, run_bytes_.data() + size_t{k} * kPageSize);
    }
  }
  // Only a lookup run's buffer is kept between reads.
  if (run_bytes_.capacity() > kLookupRun * kPageSize) run_bytes_ = std::vector<uint8_t>();
  return IndexStatus::Ok();
}

IndexStatus Pager::Preload() {
  if (preloaded_ || changed_ || cache_only_ || !header_known_) return IndexStatus::Ok();
  preloaded_ = true;
  if (alloc_end_ > kPreloadBytes || alloc_end_ <= kHeaderSize) return IndexStatus::Ok();
  return ReadRun(kHeaderSize, static_cast<uint32_t>((alloc_end_ - kHeaderSize) / kPageSize), false);
}

IndexStatus Pager::Peek(uint32_t offset, uint32_t key_length, uint8_t filler,
                        const std::string& where, Node* out) {
  if (const Node* cached = Cached(offset)) {
    *out = *cached;
    return IndexStatus::Ok();
  }
  INDEX_RETURN_IF_ERROR(CheckPageOffset(offset, where));
  if (freed_.count(offset)) {
    return IndexStatus::Corruption(where + ": page at offset " + std::to_string(offset) +
                                   " is on the free list");
  }
  std::array<uint8_t, kPageSize> page;
  const uint8_t* bytes = RawPage(offset);
  if (bytes == nullptr) {
    INDEX_RETURN_IF_ERROR(ReadBytes(offset, page.data(), page.size()));
    bytes = page.data();
  }
  return DecodeNode(std::span<const uint8_t>(bytes, kPageSize), offset, key_length, filler, where,
                    out);
}

IndexStatus Pager::Announce(const std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
  if (!before_commit_ || ranges.empty()) return IndexStatus::Ok();
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
  return IndexStatus::Ok();
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

IndexStatus Pager::Allocate(uint32_t key_length, uint8_t filler, uint16_t attributes,
                            const std::string& where, Node** out) {
  uint32_t offset;
  if (free_head_ != 0 && free_head_ != kNoPage) {
    offset = free_head_;
    auto f = freed_.find(offset);
    if (f != freed_.end()) {
      free_head_ = f->second;
      freed_.erase(f);
    } else {
      INDEX_RETURN_IF_ERROR(CheckPageOffset(offset, file_name_ + ", free list"));
      if (cache_.count(offset)) {
        return IndexStatus::Corruption(file_name_ + ": free list holds the page in use at offset " +
                                       std::to_string(offset));
      }
      uint8_t next[4];
      INDEX_RETURN_IF_ERROR(ReadBytes(offset, next, sizeof next));
      free_head_ = Le32(next);
    }
    ++stats_.pages_reused;
  } else {
    if (alloc_end_ % kPageSize != 0) alloc_end_ += kPageSize - alloc_end_ % kPageSize;
    if (alloc_end_ + kPageSize > 0xFFFFFE00ull) {
      return IndexStatus::Unsupported(where + ": index file would pass 4 GB");
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
  return IndexStatus::Ok();
}

uint8_t* Pager::SlotBytes(uint32_t slot) {
  if (slot & kPassingSlot) {
    return passing_bytes_.data() + static_cast<size_t>(slot & ~kPassingSlot) * kPageSize;
  }
  return raw_bytes_.data() + static_cast<size_t>(slot) * kPageSize;
}

const uint8_t* Pager::RawPage(uint32_t offset) const {
  auto it = raw_slot_.find(offset);
  if (it == raw_slot_.end()) return nullptr;
  return const_cast<Pager*>(this)->SlotBytes(it->second);
}

void Pager::KeepPassing(uint32_t offset, const uint8_t* bytes) {
  auto it = raw_slot_.find(offset);
  uint32_t slot;
  if (it != raw_slot_.end()) {
    slot = it->second;
  } else if (passing_offsets_.size() < kPassingPages) {
    if (passing_bytes_.capacity() == 0) passing_bytes_.reserve(kPassingPages * kPageSize);
    slot = kPassingSlot | static_cast<uint32_t>(passing_offsets_.size());
    passing_offsets_.push_back(offset);
    passing_bytes_.resize(passing_offsets_.size() * kPageSize);
    raw_slot_.emplace(offset, slot);
  } else {
    uint32_t i = passing_next_;
    passing_next_ = static_cast<uint32_t>((passing_next_ + 1) % kPassingPages);
    if (passing_offsets_[i] != kNoPage) raw_slot_.erase(passing_offsets_[i]);
    passing_offsets_[i] = offset;
    slot = kPassingSlot | i;
    raw_slot_.emplace(offset, slot);
  }
  std::copy(bytes, bytes + kPageSize, SlotBytes(slot));
}

void Pager::KeepRaw(uint32_t offset, const uint8_t* bytes) {
  auto it = raw_slot_.find(offset);
  uint32_t slot;
  if (it != raw_slot_.end()) {
    std::copy(bytes, bytes + kPageSize, SlotBytes(it->second));
    return;
  }
  if (raw_offsets_.size() <
      (read_ahead_ > 1 ? std::min(max_raw_, kReadAheadRawPages) : max_raw_)) {
    if (raw_bytes_.capacity() == 0) raw_bytes_.reserve(max_raw_ * kPageSize);
    slot = static_cast<uint32_t>(raw_offsets_.size());
    raw_offsets_.push_back(offset);
    raw_bytes_.resize(raw_offsets_.size() * kPageSize);
    raw_slot_.emplace(offset, slot);
  } else {
    slot = raw_next_ % static_cast<uint32_t>(raw_offsets_.size());
    raw_next_ = static_cast<uint32_t>((slot + 1) % raw_offsets_.size());
    if (raw_offsets_[slot] != kNoPage) raw_slot_.erase(raw_offsets_[slot]);
    raw_offsets_[slot] = offset;
    raw_slot_.emplace(offset, slot);
  }
  std::copy(bytes, bytes + kPageSize,
            raw_bytes_.begin() + static_cast<ptrdiff_t>(slot) * kPageSize);
}

void Pager::ForgetRaw(uint32_t offset) {
  auto it = raw_slot_.find(offset);
  if (it == raw_slot_.end()) return;
  if (it->second & kPassingSlot) {
    passing_offsets_[it->second & ~kPassingSlot] = kNoPage;
  } else {
    raw_offsets_[it->second] = kNoPage;
  }
  raw_slot_.erase(it);
}

void Pager::Free(uint32_t offset) {
  ++stats_.pages_freed;
  cache_.erase(offset);
  ForgetRaw(offset);
  freed_[offset] = free_head_;
  free_head_ = offset;
  changed_ = true;
}

IndexStatus Pager::Root(uint32_t header_offset, uint32_t* root) {
  auto pending = roots_.find(header_offset);
  if (pending != roots_.end()) {
    *root = pending->second;
    return IndexStatus::Ok();
  }
  auto cached = root_cache_.find(header_offset);
  if (cached != root_cache_.end()) {
    *root = cached->second;
    return IndexStatus::Ok();
  }
  uint8_t bytes[4];
  INDEX_RETURN_IF_ERROR(ReadBytes(header_offset, bytes, sizeof bytes));
  *root = Le32(bytes);
  root_cache_[header_offset] = *root;
  return IndexStatus::Ok();
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
  std::sort(outs.begin(), outs.end(), [](const Out& a, const Out& b) { return a.offset < b.offset; });
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

IndexStatus Pager::AnnounceChanges() {
  if (!before_commit_ || !changed_) return IndexStatus::Ok();
  std::vector<Out> outs;
  std::vector<Run> runs;
  PlanWrite(true, &outs, &runs);
  return Announce(WriteRanges(runs, true));
}

IndexStatus Pager::WritePages(bool freed, bool header) {
  std::vector<Out> outs;
  std::vector<Run> runs;
  PlanWrite(freed, &outs, &runs);
  IndexStatus status;
  if (before_commit_) {
    platform::OsStatus s = before_commit_(WriteRanges(runs, header));
    if (!s.ok()) return WriteError(file_name_, s.code());
  }
  auto write = [&](uint64_t offset, const uint8_t* data, size_t n) -> IndexStatus {
    platform::OsStatus s = file_->WriteAt(offset, data, n);
    if (!s.ok()) return WriteError(file_name_, s.code());
    return IndexStatus::Ok();
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
    INDEX_RETURN_IF_ERROR(write(r.start, run_.data(), run_.size()));
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

IndexStatus Pager::Commit() {
  if (!changed_) return IndexStatus::Ok();
  IndexStatus status = WritePages(true, true);
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
  return IndexStatus::Ok();
}

IndexStatus Pager::Spill() {
  if (dirty_.empty()) return IndexStatus::Ok();
  IndexStatus status = WritePages(false, false);
  if (!status.ok()) {
    Discard();
    header_known_ = false;
    return status;
  }
  dirty_.clear();
  ++stats_.spills;
  // Pages written past the old end can be read ahead again.
  file_size_ = std::max(file_size_, spilled_end_);
  return IndexStatus::Ok();
}

IndexStatus Pager::Relieve() {
  if (dirty_.size() >= spill_limit_) INDEX_RETURN_IF_ERROR(Spill());
  TrimClean();
  return IndexStatus::Ok();
}

void Pager::TrimClean() {
  // An update in key order does not come back to a leaf it left: clean
  // leaves go once they are a handful, interior pages (every descent needs
  // them) past a quarter of the bound.
  // Looked at again once 64 more pages are clean than after the last look.
  auto clean = [&] { return cache_.size() - std::min(cache_.size(), dirty_.size()); };
  if (clean() <= trim_floor_ + 64) return;
  for (int pass = 0; pass < 2; ++pass) {
    for (auto it = cache_.begin(); it != cache_.end();) {
      bool drop = !it->second->dirty && (pass == 1 || it->second->node.leaf());
      it = drop ? cache_.erase(it) : std::next(it);
    }
    if (cache_.size() <= dirty_.size() + max_decoded_ / 4) break;
  }
  trim_floor_ = clean();
}

IndexStatus Pager::ReadAhead(uint32_t offset) {
  // Up to read_ahead_ pages from offset, stopping before the first page
  // already held and at the end of the file as last seen. Never in a read
  // without the lock: there the miss sends the read back under the lock.
  if (cache_only_) return IndexStatus::Ok();
  uint64_t in_file = file_size_ > offset ? (file_size_ - offset) / kPageSize : 0;
  uint32_t n = static_cast<uint32_t>(
      std::min<uint64_t>({read_ahead_, in_file,
                          std::max<size_t>(std::min(max_raw_, kReadAheadRawPages) / 2, 1)}));
  if (n <= 1) return IndexStatus::Ok();
  for (uint32_t k = 1; k < n; ++k) {
    uint32_t at = offset + k * kPageSize;
    if (RawPage(at) != nullptr || cache_.count(at) != 0) {
      n = k;
      break;
    }
  }
  run_.resize(size_t{n} * kPageSize);
  size_t got = 0;
  platform::OsStatus s = file_->ReadAt(offset, run_.data(), run_.size(), &got);
  if (!s.ok()) return ReadError(file_name_, s.code());
  for (uint32_t k = 0; k < got / kPageSize; ++k) {
    uint32_t at = offset + k * kPageSize;
    if (k > 0 && (cache_.count(at) != 0 || freed_.count(at) != 0)) continue;
    KeepRaw(at, run_.data() + size_t{k} * kPageSize);
  }
  return IndexStatus::Ok();  // a short read leaves the page missing: Get reads it alone
}

void Pager::Discard() {
  DropCache();
  header_known_ = false;
}

void Pager::Trim() {
  if (cache_.size() <= max_decoded_ || changed_) return;
  // Leaves go first: interior pages are few and every descent needs them.
  for (auto it = cache_.begin(); it != cache_.end();) {
    it = it->second->node.leaf() ? cache_.erase(it) : std::next(it);
  }
  if (cache_.size() > max_decoded_) cache_.clear();
}

}  // namespace tables::cdx
