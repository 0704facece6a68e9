// Codec of one 512-byte CDX page: interior (branch) pages with full keys and
// big-endian record/child numbers, and compressed leaf pages with per-page bit
// widths, duplicate and trailing counts. Layout: docs/formats/cdx.md.
// Decoding validates everything the page alone can tell (attributes, counts
// against capacity, bit widths, suffix area) and never reads outside the page.
// Pure functions and plain data; no I/O.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tables/dbf/byte_order.h"
#include "tables/dbf/status.h"

namespace tables::cdx {

constexpr uint32_t kPageSize = 512;
constexpr uint32_t kNoPage = 0xFFFFFFFF;
constexpr uint32_t kLeafHeaderSize = 24;
constexpr uint32_t kInteriorHeaderSize = 12;
constexpr uint16_t kAttrRoot = 1;
constexpr uint16_t kAttrLeaf = 2;
constexpr uint32_t kMaxKeyLength = 240;

// One page, decoded: n entries of key_length bytes each (leaf keys expanded to
// full length), with their record numbers and, on interior pages, children.
struct Node {
  uint32_t offset = 0;
  uint16_t attributes = 0;
  uint32_t left = kNoPage;
  uint32_t right = kNoPage;
  uint32_t key_length = 0;
  std::string keys;  // size() * key_length bytes
  std::vector<uint32_t> recnos;
  std::vector<uint32_t> children;  // interior pages only
  // Leaf bookkeeping kept current by Insert/Erase/SetKey, so that NodeFits
  // does not walk the page: the filler, the key bytes the entries take once
  // compressed, and the largest record number.
  // Counted on first use after decoding (reads never need it).
  uint8_t filler = 0x20;
  mutable bool counted = true;
  mutable uint32_t suffix_bytes = 0;
  mutable uint32_t max_recno = 0;

  bool leaf() const { return (attributes & kAttrLeaf) != 0; }
  bool root() const { return (attributes & kAttrRoot) != 0; }
  size_t size() const { return recnos.size(); }
  std::string_view key(size_t i) const {
    return std::string_view(keys).substr(i * key_length, key_length);
  }
  void Insert(size_t i, std::string_view key, uint32_t recno, uint32_t child = 0);
  void Erase(size_t i);
  void SetKey(size_t i, std::string_view key, uint32_t recno);
  // Key bytes entry i takes in a leaf after prefix and trailing compression.
  uint32_t SuffixCost(size_t i) const;
  // Recomputes the leaf bookkeeping from the entries when not yet done.
  void Recount() const;
};

// Entries an interior page holds for a key length.
inline uint32_t InteriorCapacity(uint32_t key_length) {
  return (kPageSize - kInteriorHeaderSize) / (key_length + 8);
}

// Decodes a page; `where` names the tag and file for error texts.
Status DecodeNode(std::span<const uint8_t> page, uint32_t offset, uint32_t key_length,
                  uint8_t filler, const std::string& where, Node* out);

// True when the entry (key, recno) sorts at or after (sought, sought_recno):
// keys compare as bytes (a shorter key as a prefix that sorts first), then
// record numbers.
bool EntryAtOrAfter(std::string_view key, uint32_t recno, std::string_view sought,
                    uint32_t sought_recno);

// A search in a leaf as it lies in the file, for reads that want one entry:
// the first entry at or after (key, recno) in (key, record number) order,
// found without expanding the entries after it. The entries read are checked
// as DecodeNode checks them, their order included.
struct LeafHit {
  uint16_t attributes = 0;
  uint32_t size = 0;         // entries in the page
  uint32_t right = kNoPage;  // the right sibling
  uint32_t index = 0;        // the entry found; size when every entry comes before
  std::string key;           // the entry's key and record number (index < size)
  uint32_t recno = 0;
};
Status ScanLeaf(std::span<const uint8_t> page, uint32_t offset, uint32_t key_length, uint8_t filler,
                const std::string& where, std::string_view key, uint32_t recno, LeafHit* hit);

// True when the entries fit one page of the node's kind.
bool NodeFits(const Node& node, uint8_t filler);

// Encodes a node that fits into a 512-byte page (bit widths chosen from the key
// length and the largest record number, as other writers choose them).
void EncodeNode(const Node& node, uint8_t filler, std::span<uint8_t> page);

}  // namespace tables::cdx
