#include "tables/cdx/cdx_header.h"

#include <cstring>

#include "tables/cdx/cdx_page.h"

namespace tables::cdx {
namespace {

constexpr uint32_t kPoolOffset = 512;
constexpr uint32_t kPoolSize = 512;

// Text of `len` bytes (NUL included) at pool position pos, cut at the first NUL.
bool PoolText(const uint8_t* pool, uint32_t pos, uint32_t len, std::string* out) {
  if (len == 0) {
    out->clear();
    return true;
  }
  if (pos >= kPoolSize || len > kPoolSize - pos) return false;
  const char* s = reinterpret_cast<const char*>(pool + pos);
  size_t n = strnlen(s, len);
  out->assign(s, n);
  return true;
}

}  // namespace

Status ParseTagHeader(std::span<const uint8_t> bytes, uint32_t offset, const std::string& where,
                      TagHeader* out) {
  std::string at = where + ", tag header at offset " + std::to_string(offset);
  if (bytes.size() < kHeaderSize) return Status::Corruption(at + ": cut short by end of file");
  const uint8_t* p = bytes.data();
  TagHeader& h = *out;
  h = TagHeader();
  h.root = Le32(p);
  h.free_list = Le32(p + 4);
  h.counter = Be32(p + 8);
  h.key_length = Le16(p + 12);
  h.options = p[14];
  h.signature = p[15];
  const char* coll = reinterpret_cast<const char*>(p + 494);
  h.collation.assign(coll, strnlen(coll, 8));
  h.descending = Le16(p + 502) != 0;
  uint32_t for_pos = Le16(p + 504), for_len = Le16(p + 506);
  uint32_t key_pos = Le16(p + 508), key_len = Le16(p + 510);
  // Writers that leave the positions zero put the key first and FOR after it.
  if (key_pos == 0 && for_pos == 0 && key_len > 0 && for_len > 0) for_pos = key_len;
  const uint8_t* pool = p + kPoolOffset;
  if (!PoolText(pool, key_pos, key_len, &h.key_expr) ||
      !PoolText(pool, for_pos, for_len, &h.for_expr)) {
    return Status::Corruption(at + ": expression outside the header");
  }
  return Status::Ok();
}

void BuildTagHeader(const TagHeader& h, std::span<uint8_t> bytes) {
  uint8_t* p = bytes.data();
  std::memset(p, 0, kHeaderSize);
  PutLe32(p, h.root);
  PutLe32(p + 4, h.free_list);
  PutBe32(p + 8, h.counter);
  PutLe16(p + 12, h.key_length);
  p[14] = h.options;
  p[15] = h.signature;
  // The bytes other writers keep here: header and page length and their mark.
  PutLe16(p + 16, 0x400);
  PutLe16(p + 18, 0x200);
  if (h.options & kOptStructure) std::memcpy(p + 20, "RCHB", 4);
  std::memcpy(p + 494, h.collation.data(), h.collation.size() < 8 ? h.collation.size() : 8);
  PutLe16(p + 502, h.descending ? 1 : 0);
  uint32_t key_len = static_cast<uint32_t>(h.key_expr.size()) + 1;
  uint32_t for_len = static_cast<uint32_t>(h.for_expr.size()) + 1;
  PutLe16(p + 504, static_cast<uint16_t>(key_len));
  PutLe16(p + 506, static_cast<uint16_t>(for_len));
  PutLe16(p + 508, 0);
  PutLe16(p + 510, static_cast<uint16_t>(key_len));
  std::memcpy(p + kPoolOffset, h.key_expr.data(), h.key_expr.size());
  std::memcpy(p + kPoolOffset + key_len, h.for_expr.data(), h.for_expr.size());
}

}  // namespace tables::cdx
