#include "tables/cdx/cdx_page.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "tables/dbf/key_codec.h"

namespace tables::cdx {
namespace {

// Bits needed to hold the value v (at least 1).
uint32_t BitsFor(uint32_t v) {
  uint32_t bits = 1;
  while (bits < 32 && (v >> bits) != 0) ++bits;
  return bits;
}

struct LeafLayout {
  uint32_t rec_bits, dup_bits, trail_bits, entry_bytes;
};

// Duplicate and trailing counts are as wide as the key length needs; the record
// number takes the rest of a 3-byte entry and grows by whole bytes when the
// largest record number of the page needs it.
LeafLayout ChooseLayout(uint32_t key_length, uint32_t max_recno) {
  uint32_t b = BitsFor(key_length);
  uint32_t e = b <= 8 ? 3 : (b <= 12 ? 4 : 5);
  uint32_t r = 8 * e - 2 * b;
  while (r < 32 && (max_recno >> r) != 0) {
    ++e;
    r += 8;
  }
  if (r > 32) r = 32;  // record numbers are 32 bits; the spare bits stay zero
  return {r, b, b, e};
}

// Both run for every entry of every leaf a change encodes or sizes: eight
// bytes a step.
uint32_t TrailingFiller(std::string_view key, uint8_t filler) {
  const size_t size = key.size();
  const uint64_t fillers = 0x0101010101010101ull * filler;
  size_t n = 0;
  for (; n + 8 <= size; n += 8) {
    uint64_t v;
    std::memcpy(&v, key.data() + size - n - 8, sizeof v);
    if (v != fillers) break;
  }
  while (n < size && static_cast<uint8_t>(key[size - 1 - n]) == filler) ++n;
  return static_cast<uint32_t>(n);
}

uint32_t CommonPrefix(std::string_view a, std::string_view b) {
  const size_t m = std::min(a.size(), b.size());
  size_t n = 0;
  for (; n + 8 <= m; n += 8) {
    uint64_t x, y;
    std::memcpy(&x, a.data() + n, sizeof x);
    std::memcpy(&y, b.data() + n, sizeof y);
    if (x != y) {
      const uint64_t d = x ^ y;
      if constexpr (std::endian::native == std::endian::little) {
        return static_cast<uint32_t>(n + static_cast<size_t>(std::countr_zero(d)) / 8);
      } else {
        return static_cast<uint32_t>(n + static_cast<size_t>(std::countl_zero(d)) / 8);
      }
    }
  }
  while (n < m && a[n] == b[n]) ++n;
  return static_cast<uint32_t>(n);
}

uint64_t Le64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);  // one load
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

std::string Where(const std::string& where, uint32_t offset) {
  return where + ", page at offset " + std::to_string(offset);
}

// Reads the entries of a compressed leaf one after the other, checking each
// as it goes (counts within the key, key bytes clear of the entry area).
class LeafReader {
 public:
  Status Open(const uint8_t* page, uint32_t n, uint32_t key_length, uint8_t filler,
              const std::string& where, uint32_t offset) {
    p_ = page;
    key_length_ = key_length;
    filler_ = filler;
    where_ = &where;
    offset_ = offset;
    rec_bits_ = p_[20];
    dup_bits_ = p_[21];
    uint32_t trail_bits = p_[22];
    entry_bytes_ = p_[23];
    if (entry_bytes_ < 1 || entry_bytes_ > 8 || rec_bits_ > 32 || dup_bits_ > 16 ||
        trail_bits > 16 || rec_bits_ + dup_bits_ + trail_bits > 8 * entry_bytes_) {
      return Status::Corruption(Where(where, offset) + ": invalid leaf bit widths");
    }
    if (n * entry_bytes_ > kPageSize - kLeafHeaderSize) {
      return Status::Corruption(Where(where, offset) + ": " + std::to_string(n) +
                                " keys exceed the page capacity");
    }
    rec_mask_ = rec_bits_ == 32 ? 0xFFFFFFFFull : ((1ull << rec_bits_) - 1);
    dup_mask_ = (1ull << dup_bits_) - 1;
    trail_mask_ = (1ull << trail_bits) - 1;
    entry_mask_ = entry_bytes_ == 8 ? ~0ull : ((1ull << (8 * entry_bytes_)) - 1);
    entries_end_ = kLeafHeaderSize + n * entry_bytes_;
    return Status::Ok();
  }

  // The next entry as it lies in the page: its record number, the bytes it
  // keeps from its predecessor's key, its own bytes and trailing fillers.
  struct Entry {
    uint32_t recno, dup, fresh, trail;
    const uint8_t* bytes;  // the fresh bytes
  };

  // The next entry, checked, without expanding it.
  Status Peek(Entry* entry) const {
    const uint8_t* e = p_ + kLeafHeaderSize + i_ * entry_bytes_;
    uint64_t v = 0;
    if (e + 8 <= p_ + kPageSize) {
      // Eight bytes at once (the page is longer); the bits past the entry are masked off.
      v = Le64(e) & entry_mask_;
    } else {
      for (uint32_t b = 0; b < entry_bytes_; ++b) v |= static_cast<uint64_t>(e[b]) << (8 * b);
    }
    entry->recno = static_cast<uint32_t>(v & rec_mask_);
    uint32_t dup = i_ == 0 ? 0 : static_cast<uint32_t>((v >> rec_bits_) & dup_mask_);
    uint32_t trail = static_cast<uint32_t>((v >> (rec_bits_ + dup_bits_)) & trail_mask_);
    if (dup + trail > key_length_) {
      return Status::Corruption(Where(*where_, offset_) + ": entry " + std::to_string(i_) +
                                " has counts beyond the key length");
    }
    uint32_t fresh = key_length_ - dup - trail;
    if (suffix_end_ < entries_end_ + fresh) {
      return Status::Corruption(Where(*where_, offset_) + ": key bytes overlap the entries");
    }
    entry->dup = dup;
    entry->fresh = fresh;
    entry->trail = trail;
    entry->bytes = p_ + suffix_end_ - fresh;
    return Status::Ok();
  }

  // Expands the entry Peek gave into key (holding the predecessor's key).
  void Take(const Entry& entry, char* key) {
    suffix_end_ -= entry.fresh;
    for (uint32_t j = 0; j < entry.fresh; ++j)
      key[entry.dup + j] = static_cast<char>(entry.bytes[j]);
    for (uint32_t j = 0; j < entry.trail; ++j)
      key[entry.dup + entry.fresh + j] = static_cast<char>(filler_);
    ++i_;
  }

 private:
  const uint8_t* p_ = nullptr;
  const std::string* where_ = nullptr;
  uint32_t i_ = 0, key_length_ = 0, offset_ = 0;
  uint8_t filler_ = 0x20;
  uint32_t rec_bits_ = 0, dup_bits_ = 0, entry_bytes_ = 0;
  uint64_t rec_mask_ = 0, dup_mask_ = 0, trail_mask_ = 0, entry_mask_ = 0;
  uint32_t suffix_end_ = kPageSize, entries_end_ = 0;
};

}  // namespace

uint32_t Node::SuffixCost(size_t i) const {
  std::string_view k = key(i);
  uint32_t trail = TrailingFiller(k, filler);
  uint32_t dup = i == 0 ? 0 : std::min(CommonPrefix(key(i - 1), k), key_length - trail);
  return key_length - dup - trail;
}

void Node::Recount() const {
  if (counted) return;
  counted = true;
  suffix_bytes = 0;
  max_recno = 0;
  for (size_t i = 0; i < size(); ++i) {
    suffix_bytes += SuffixCost(i);
    max_recno = std::max(max_recno, recnos[i]);
  }
}

// Only the changed entry and its successor change their compressed size.
void Node::Insert(size_t i, std::string_view key, uint32_t recno, uint32_t child) {
  Recount();
  bool has_next = i < size();
  if (has_next) suffix_bytes -= SuffixCost(i);
  keys.insert(i * key_length, key.data(), key_length);
  recnos.insert(recnos.begin() + static_cast<ptrdiff_t>(i), recno);
  if (!leaf()) children.insert(children.begin() + static_cast<ptrdiff_t>(i), child);
  suffix_bytes += SuffixCost(i) + (has_next ? SuffixCost(i + 1) : 0);
  max_recno = std::max(max_recno, recno);
}

void Node::Erase(size_t i) {
  Recount();
  suffix_bytes -= SuffixCost(i) + (i + 1 < size() ? SuffixCost(i + 1) : 0);
  uint32_t recno = recnos[i];
  keys.erase(i * key_length, key_length);
  recnos.erase(recnos.begin() + static_cast<ptrdiff_t>(i));
  if (!leaf()) children.erase(children.begin() + static_cast<ptrdiff_t>(i));
  if (i < size()) suffix_bytes += SuffixCost(i);
  if (recno == max_recno) {
    max_recno = 0;
    for (uint32_t r : recnos) max_recno = std::max(max_recno, r);
  }
}

void Node::SetKey(size_t i, std::string_view key, uint32_t recno) {
  Recount();
  suffix_bytes -= SuffixCost(i) + (i + 1 < size() ? SuffixCost(i + 1) : 0);
  keys.replace(i * key_length, key_length, key.data(), key_length);
  recnos[i] = recno;
  suffix_bytes += SuffixCost(i) + (i + 1 < size() ? SuffixCost(i + 1) : 0);
  max_recno = std::max(max_recno, recno);
}

// Entries must ascend strictly by (key, record number) within a page.
Status CheckOrder(const Node& node, const std::string& where, uint32_t offset) {
  for (size_t i = 1; i < node.size(); ++i) {
    int c = std::memcmp(node.keys.data() + (i - 1) * node.key_length,
                        node.keys.data() + i * node.key_length, node.key_length);
    if (c > 0 || (c == 0 && node.recnos[i - 1] >= node.recnos[i])) {
      return Status::Corruption(Where(where, offset) + ": keys out of order at entry " +
                                std::to_string(i));
    }
  }
  return Status::Ok();
}

Status DecodeNode(std::span<const uint8_t> page, uint32_t offset, uint32_t key_length,
                  uint8_t filler, const std::string& where, Node* out) {
  if (page.size() < kPageSize) {
    return Status::Corruption(Where(where, offset) + ": page cut short by end of file");
  }
  const uint8_t* p = page.data();
  Node& node = *out;
  node = Node();
  node.offset = offset;
  node.key_length = key_length;
  node.filler = filler;
  node.attributes = Le16(p);
  uint32_t n = Le16(p + 2);
  node.left = Le32(p + 4);
  node.right = Le32(p + 8);
  if (node.attributes > 3) {
    return Status::Corruption(Where(where, offset) + ": unknown page attribute " +
                              std::to_string(node.attributes));
  }
  if (key_length == 0 || key_length > kMaxKeyLength) {
    return Status::Corruption(Where(where, offset) + ": key length " + std::to_string(key_length) +
                              " out of range");
  }
  node.keys.reserve(static_cast<size_t>(n) * key_length);
  node.recnos.reserve(n);
  if (!node.leaf()) {
    if (n > InteriorCapacity(key_length)) {
      return Status::Corruption(Where(where, offset) + ": " + std::to_string(n) +
                                " keys exceed the page capacity");
    }
    if (n == 0) {
      return Status::Corruption(Where(where, offset) + ": interior page without keys");
    }
    node.children.reserve(n);
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* e = p + kInteriorHeaderSize + i * (key_length + 8);
      node.keys.append(reinterpret_cast<const char*>(e), key_length);
      node.recnos.push_back(Be32(e + key_length));
      node.children.push_back(Be32(e + key_length + 4));
    }
    return CheckOrder(node, where, offset);
  }

  LeafReader reader;
  TABLE_RETURN_IF_ERROR(reader.Open(p, n, key_length, filler, where, offset));
  // Keys are expanded in place: each starts with the bytes it keeps from its
  // predecessor (a few, copied eight at a time: a call or a block copy per
  // key would cost more than the rest of the decoding).
  node.keys.resize(static_cast<size_t>(n) * key_length);
  node.recnos.resize(n);
  char* out_key = node.keys.data();
  for (uint32_t i = 0; i < n; ++i, out_key += key_length) {
    LeafReader::Entry entry;
    Status s = reader.Peek(&entry);
    if (!s.ok()) {
      node.keys.clear();
      node.recnos.clear();
      return s;
    }
    if (i > 0) {
      const char* from = out_key - key_length;
      uint32_t j = 0;
      for (; j + 8 <= entry.dup; j += 8) std::memcpy(out_key + j, from + j, 8);
      for (; j < entry.dup; ++j) out_key[j] = from[j];
    }
    reader.Take(entry, out_key);
    node.recnos[i] = entry.recno;
  }
  node.counted = false;
  return CheckOrder(node, where, offset);
}

bool EntryAtOrAfter(std::string_view key, uint32_t recno, std::string_view sought,
                    uint32_t sought_recno) {
  int c = CompareKeys(key, sought);
  return c > 0 || (c == 0 && recno >= sought_recno);
}

Status ScanLeaf(std::span<const uint8_t> page, uint32_t offset, uint32_t key_length, uint8_t filler,
                const std::string& where, std::string_view key, uint32_t recno, LeafHit* hit) {
  if (page.size() < kPageSize) {
    return Status::Corruption(Where(where, offset) + ": page cut short by end of file");
  }
  const uint8_t* p = page.data();
  hit->attributes = Le16(p);
  hit->size = Le16(p + 2);
  hit->right = Le32(p + 8);
  if (hit->attributes > 3 || !(hit->attributes & kAttrLeaf)) {
    return Status::Corruption(Where(where, offset) + ": not a leaf page (attribute " +
                              std::to_string(hit->attributes) + ")");
  }
  if (key_length == 0 || key_length > kMaxKeyLength) {
    return Status::Corruption(Where(where, offset) + ": key length " + std::to_string(key_length) +
                              " out of range");
  }
  LeafReader reader;
  TABLE_RETURN_IF_ERROR(reader.Open(p, hit->size, key_length, filler, where, offset));
  // The key is expanded in place, each entry over its predecessor. `matched`
  // counts the leading bytes the predecessor shares with the sought key while
  // it sorts before it: an entry that keeps more bytes than that from its
  // predecessor sorts before the sought key too, without a look at its bytes.
  // (A sought key longer than the keys is compared in full.)
  char current[kMaxKeyLength];
  const bool prefix_walk = key.size() <= key_length;
  uint32_t matched = 0;
  uint32_t previous_recno = 0;
  for (uint32_t i = 0; i < hit->size; ++i) {
    LeafReader::Entry e;
    TABLE_RETURN_IF_ERROR(reader.Peek(&e));
    if (i > 0) {
      // Against the predecessor's bytes from the first one this entry changes.
      int order = 0;
      for (uint32_t j = 0; j < e.fresh && order == 0; ++j) {
        order = int{e.bytes[j]} - int{static_cast<uint8_t>(current[e.dup + j])};
      }
      for (uint32_t j = 0; j < e.trail && order == 0; ++j) {
        order = int{filler} - int{static_cast<uint8_t>(current[e.dup + e.fresh + j])};
      }
      if (order < 0 || (order == 0 && previous_recno >= e.recno)) {
        return Status::Corruption(Where(where, offset) + ": keys out of order at entry " +
                                  std::to_string(i));
      }
    }
    reader.Take(e, current);
    bool at_or_after;
    if (!prefix_walk) {
      at_or_after = EntryAtOrAfter(std::string_view(current, key_length), e.recno, key, recno);
    } else if (i > 0 && e.dup > matched) {
      at_or_after = false;
    } else {
      uint32_t j = i > 0 ? e.dup : 0;
      while (j < key.size() && current[j] == key[j]) ++j;
      if (j == key.size()) {
        // Begins with the sought key: after it, or equal and then by record number.
        at_or_after = key.size() < key_length || e.recno >= recno;
      } else {
        at_or_after = static_cast<uint8_t>(current[j]) > static_cast<uint8_t>(key[j]);
      }
      matched = j;
    }
    if (at_or_after) {
      hit->index = i;
      hit->key.assign(current, key_length);
      hit->recno = e.recno;
      return Status::Ok();
    }
    previous_recno = e.recno;
  }
  hit->index = hit->size;
  return Status::Ok();
}

bool NodeFits(const Node& node, uint8_t filler) {
  const uint32_t n = static_cast<uint32_t>(node.size());
  if (!node.leaf()) return n <= InteriorCapacity(node.key_length);
  node.Recount();
  LeafLayout layout = ChooseLayout(node.key_length, node.max_recno);
  return kLeafHeaderSize + static_cast<uint64_t>(n) * layout.entry_bytes + node.suffix_bytes <=
         kPageSize;
}

void EncodeNode(const Node& node, uint8_t filler, std::span<uint8_t> page) {
  uint8_t* p = page.data();
  std::memset(p, 0, kPageSize);
  const uint32_t n = static_cast<uint32_t>(node.size());
  const uint32_t l = node.key_length;
  PutLe16(p, node.attributes);
  PutLe16(p + 2, static_cast<uint16_t>(n));
  PutLe32(p + 4, node.left);
  PutLe32(p + 8, node.right);
  if (!node.leaf()) {
    for (uint32_t i = 0; i < n; ++i) {
      uint8_t* e = p + kInteriorHeaderSize + i * (l + 8);
      std::memcpy(e, node.key(i).data(), l);
      PutBe32(e + l, node.recnos[i]);
      PutBe32(e + l + 4, node.children[i]);
    }
    return;
  }
  uint32_t max_recno = 0;
  for (uint32_t r : node.recnos) max_recno = std::max(max_recno, r);
  LeafLayout layout = ChooseLayout(l, max_recno);
  uint64_t rec_mask = layout.rec_bits == 32 ? 0xFFFFFFFFull : ((1ull << layout.rec_bits) - 1);
  uint32_t suffix_end = kPageSize;
  std::string_view prev;
  for (uint32_t i = 0; i < n; ++i) {
    std::string_view key = node.key(i);
    uint32_t trail = TrailingFiller(key, filler);
    uint32_t dup = i == 0 ? 0 : std::min(CommonPrefix(prev, key), l - trail);
    uint32_t fresh = l - dup - trail;
    suffix_end -= fresh;
    std::memcpy(p + suffix_end, key.data() + dup, fresh);
    uint64_t v = (node.recnos[i] & rec_mask) | (static_cast<uint64_t>(dup) << layout.rec_bits) |
                 (static_cast<uint64_t>(trail) << (layout.rec_bits + layout.dup_bits));
    uint8_t* e = p + kLeafHeaderSize + i * layout.entry_bytes;
    for (uint32_t b = 0; b < layout.entry_bytes; ++b) e[b] = static_cast<uint8_t>(v >> (8 * b));
    prev = key;
  }
  PutLe16(p + 12, static_cast<uint16_t>(suffix_end - (kLeafHeaderSize + n * layout.entry_bytes)));
  PutLe32(p + 14, static_cast<uint32_t>(rec_mask));
  p[18] = static_cast<uint8_t>((1u << layout.dup_bits) - 1);
  p[19] = static_cast<uint8_t>((1u << layout.trail_bits) - 1);
  p[20] = static_cast<uint8_t>(layout.rec_bits);
  p[21] = static_cast<uint8_t>(layout.dup_bits);
  p[22] = static_cast<uint8_t>(layout.trail_bits);
  p[23] = static_cast<uint8_t>(layout.entry_bytes);
}

}  // namespace tables::cdx
