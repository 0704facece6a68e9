// The 1024-byte CDX tag header (the bag's tag directory uses the same layout):
// root page, free list and change counter (bag only), key length, options,
// collation name, descending flag and the key/FOR expression pool.
// Layout: docs/formats/cdx.md. Pure functions; no I/O.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "tables/dbf/status.h"

namespace tables::cdx {

constexpr uint32_t kHeaderSize = 1024;

// Option bits of byte 14.
constexpr uint8_t kOptUnique = 0x01;
constexpr uint8_t kOptPartial = 0x02;
constexpr uint8_t kOptCustom = 0x04;
constexpr uint8_t kOptFor = 0x08;
constexpr uint8_t kOptBitVector = 0x10;
constexpr uint8_t kOptCompact = 0x20;
constexpr uint8_t kOptCompound = 0x40;
constexpr uint8_t kOptStructure = 0x80;

struct TagHeader {
  uint32_t root = 0;
  uint32_t free_list = 0;  // bag header only
  uint32_t counter = 0;    // bag header only, stored big-endian
  uint16_t key_length = 0;
  uint8_t options = 0;
  uint8_t signature = 1;
  std::string collation;  // bytes 494..501 up to the first NUL
  bool descending = false;
  std::string key_expr;
  std::string for_expr;
};

// Parses a header read at `offset`; `where` names the file for error texts.
Status ParseTagHeader(std::span<const uint8_t> bytes, uint32_t offset, const std::string& where,
                      TagHeader* out);

// Lays out a header as this engine creates one (expressions in the pool, key
// first, FOR right after; an absent FOR is stored as an empty text).
void BuildTagHeader(const TagHeader& header, std::span<uint8_t> bytes);

}  // namespace tables::cdx
