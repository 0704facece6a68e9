// Pager: reading and keeping pages. Decoded pages in a bounded cache, the
// bytes of more pages in a ring (pages read in passing in a small ring of
// their own), read-ahead for updates in key order and runs for lookups in
// key order, the whole bag for a small one. The rest: cdx_pager.cc.
#include <algorithm>
#include <array>
#include <vector>

#include "tables/cdx/cdx_header.h"
#include "tables/cdx/cdx_pager.h"

namespace tables::cdx {
namespace {

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

Status ReadError(const std::string& file, uint32_t os_code) {
  return Status::Io(Status::kRead, file + ": read error", os_code);
}

}  // namespace

void Pager::SetCacheLimits(size_t decoded_pages, size_t raw_pages) {
  if (changed_) return;
  DropCache();
  raw_blocks_.clear();
  passing_bytes_ = std::vector<uint8_t>();
  max_decoded_ = std::max<size_t>(decoded_pages, 1);
  max_raw_ = std::max<size_t>(raw_pages, 1);
}

void Pager::DropCache() {
  cache_.clear();
  dirty_.clear();
  raw_slot_.clear();
  raw_offsets_.clear();
  // The blocks of page bytes stay, for the pages read next.
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

Status Pager::Get(uint32_t offset, uint32_t key_length, uint8_t filler, const std::string& where,
                  Node** out) {
  auto it = cache_.find(offset);
  if (it != cache_.end()) {
    *out = &it->second->node;
    return Status::Ok();
  }
  TABLE_RETURN_IF_ERROR(CheckReadablePage(offset, where));
  std::array<uint8_t, kPageSize> page;
  const uint8_t* bytes = RawPage(offset);
  if (bytes == nullptr && read_ahead_ > 1) {
    TABLE_RETURN_IF_ERROR(ReadAhead(offset));
    bytes = RawPage(offset);
  }
  if (bytes == nullptr) {
    TABLE_RETURN_IF_ERROR(ReadBytes(offset, page.data(), page.size()));
    bytes = page.data();
  }
  auto entry = std::make_unique<Entry>();
  TABLE_RETURN_IF_ERROR(DecodeNode(std::span<const uint8_t>(bytes, kPageSize), offset, key_length,
                                   filler, where, &entry->node));
  if (bytes == page.data()) KeepRaw(offset, bytes);
  entry->filler = filler;
  *out = &entry->node;
  cache_.emplace(offset, std::move(entry));
  return Status::Ok();
}

Node* Pager::Cached(uint32_t offset) {
  auto it = cache_.find(offset);
  return it == cache_.end() ? nullptr : &it->second->node;
}

Status Pager::Bytes(uint32_t offset, const std::string& where, const uint8_t** out) {
  if ((*out = RawPage(offset)) != nullptr) return Status::Ok();
  TABLE_RETURN_IF_ERROR(CheckReadablePage(offset, where));
  std::array<uint8_t, kPageSize> page;
  TABLE_RETURN_IF_ERROR(ReadBytes(offset, page.data(), page.size()));
  KeepRaw(offset, page.data());
  *out = RawPage(offset);
  return Status::Ok();
}

Status Pager::LookupBytes(uint32_t offset, const std::string& where, const uint8_t** out) {
  if ((*out = RawPage(offset)) != nullptr) return Status::Ok();
  bool in_order = false;
  for (uint32_t head : lookup_heads_) {
    in_order = in_order || (head != 0 && offset > head && offset - head <= kLookupGap * kPageSize);
  }
  uint32_t last = offset;
  if (!in_order || changed_ || cache_only_) {
    TABLE_RETURN_IF_ERROR(Bytes(offset, where, out));
  } else {
    TABLE_RETURN_IF_ERROR(CheckPageOffset(offset, where));
    TABLE_RETURN_IF_ERROR(ReadRun(offset, kLookupRun, true));
    if ((*out = RawPage(offset)) == nullptr) TABLE_RETURN_IF_ERROR(Bytes(offset, where, out));
    while (last - offset < (kLookupRun - 1) * kPageSize && RawPage(last + kPageSize) != nullptr) {
      last += kPageSize;
    }
  }
  lookup_heads_[lookup_next_head_] = last;
  lookup_next_head_ = (lookup_next_head_ + 1) % lookup_heads_.size();
  return Status::Ok();
}

Status Pager::ReadRun(uint32_t offset, uint32_t n, bool passing) {
  uint64_t in_file = alloc_end_ > offset ? (alloc_end_ - offset) / kPageSize : 0;
  n = static_cast<uint32_t>(std::min<uint64_t>(
      {n, in_file, passing ? kPassingPages / 2 : std::max<size_t>(max_raw_ / 2, 1)}));
  if (n == 0) return Status::Ok();
  run_bytes_.resize(size_t{n} * kPageSize);
  TABLE_RETURN_IF_ERROR(ReadBytes(offset, run_bytes_.data(), run_bytes_.size()));
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
  return Status::Ok();
}

Status Pager::Preload() {
  if (preloaded_ || changed_ || cache_only_ || !header_known_) return Status::Ok();
  preloaded_ = true;
  if (alloc_end_ > kPreloadBytes || alloc_end_ <= kHeaderSize) return Status::Ok();
  return ReadRun(kHeaderSize, static_cast<uint32_t>((alloc_end_ - kHeaderSize) / kPageSize), false);
}

Status Pager::Peek(uint32_t offset, uint32_t key_length, uint8_t filler, const std::string& where,
                   Node* out) {
  if (const Node* cached = Cached(offset)) {
    *out = *cached;
    return Status::Ok();
  }
  TABLE_RETURN_IF_ERROR(CheckReadablePage(offset, where));
  std::array<uint8_t, kPageSize> page;
  const uint8_t* bytes = RawPage(offset);
  if (bytes == nullptr) {
    TABLE_RETURN_IF_ERROR(ReadBytes(offset, page.data(), page.size()));
    bytes = page.data();
  }
  return DecodeNode(std::span<const uint8_t>(bytes, kPageSize), offset, key_length, filler, where,
                    out);
}

uint8_t* Pager::SlotBytes(uint32_t slot) {
  if (slot & kPassingSlot) {
    return passing_bytes_.data() + static_cast<size_t>(slot & ~kPassingSlot) * kPageSize;
  }
  return raw_blocks_[slot / kRawBlockPages].get() + size_t{slot % kRawBlockPages} * kPageSize;
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
  if (raw_offsets_.size() < (read_ahead_ > 1 ? std::min(max_raw_, kReadAheadRawPages) : max_raw_)) {
    slot = static_cast<uint32_t>(raw_offsets_.size());
    if (slot / kRawBlockPages == raw_blocks_.size()) {
      raw_blocks_.push_back(std::make_unique_for_overwrite<uint8_t[]>(kRawBlockPages * kPageSize));
    }
    raw_offsets_.push_back(offset);
    raw_slot_.emplace(offset, slot);
  } else {
    slot = raw_next_ % static_cast<uint32_t>(raw_offsets_.size());
    raw_next_ = static_cast<uint32_t>((slot + 1) % raw_offsets_.size());
    if (raw_offsets_[slot] != kNoPage) raw_slot_.erase(raw_offsets_[slot]);
    raw_offsets_[slot] = offset;
    raw_slot_.emplace(offset, slot);
  }
  std::copy(bytes, bytes + kPageSize, SlotBytes(slot));
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

Status Pager::ReadAhead(uint32_t offset) {
  // Up to read_ahead_ pages from offset, stopping before the first page
  // already held and at the end of the file as last seen. Never in a read
  // without the lock: there the miss sends the read back under the lock.
  if (cache_only_) return Status::Ok();
  uint64_t in_file = file_size_ > offset ? (file_size_ - offset) / kPageSize : 0;
  uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(
      {read_ahead_, in_file, std::max<size_t>(std::min(max_raw_, kReadAheadRawPages) / 2, 1)}));
  if (n <= 1) return Status::Ok();
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
  return Status::Ok();  // a short read leaves the page missing: Get reads it alone
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
