#include "tables/dbf/lock_scheme.h"

namespace tables {
namespace {

struct SchemeBase {
  uint64_t header;
  uint64_t file_start;
  uint64_t file_length;
};

SchemeBase BaseOf(LockSchemeId id) {
  switch (id) {
    case LockSchemeId::kClipper:
    case LockSchemeId::kComix:
      return {1000000000ull, 1000000001ull, 1000000000ull};
    case LockSchemeId::kHb32:
    case LockSchemeId::kClipper2:
      return {4000000000ull, 4000000001ull, 294967295ull};
    case LockSchemeId::kHb64:
      return {0x7F00000000000000ull, 0x7F00000000000001ull, 0xFFFFFFFEull};
    case LockSchemeId::kVfp:
      break;
  }
  return {0x7FFFFFFEull, 0x77FFFFFFull, 0x07FFFFFFull};
}

constexpr uint64_t kVfpBase = 0x7FFFFFFE;
constexpr uint64_t kOffsetBase = 0x40000000;

}  // namespace

LockScheme::LockScheme(LockSchemeId id, uint8_t version, bool structural, uint32_t header_length,
                       uint32_t record_length)
    : id_(id),
      vfp_positions_(false),
      offset_positions_(false),
      header_length_(header_length),
      record_length_(record_length) {
  if (id == LockSchemeId::kVfp) {
    bool vfp_table = version == 0x30 || version == 0x31 || version == 0x32;
    vfp_positions_ = structural || vfp_table;
    offset_positions_ = !structural;
  }
}

std::vector<LockRange> LockScheme::HeaderLock() const {
  if (id_ != LockSchemeId::kVfp) return {{BaseOf(id_).header, 1}};
  std::vector<LockRange> out;
  if (offset_positions_) out.push_back({kOffsetBase, 1});
  if (vfp_positions_) out.push_back({kVfpBase, 1});
  return out;
}

std::vector<LockRange> LockScheme::RecordLock(uint32_t recno) const {
  return RecordRangeLock(recno, recno);
}

std::vector<LockRange> LockScheme::RecordRangeLock(uint32_t first, uint32_t last) const {
  uint64_t n = static_cast<uint64_t>(last) - first + 1;
  if (id_ != LockSchemeId::kVfp) return {{BaseOf(id_).header + first, n}};
  std::vector<LockRange> out;
  if (offset_positions_) {
    out.push_back({kOffsetBase + header_length_ + static_cast<uint64_t>(first - 1) * record_length_,
                   n * record_length_});
  }
  if (vfp_positions_) out.push_back({kVfpBase - last, n});
  return out;
}

LockRange LockScheme::FileLock() const {
  if (id_ == LockSchemeId::kVfp && offset_positions_) return {0x40000001ull, 0x3FFFFFFDull};
  SchemeBase b = BaseOf(id_);
  return {b.file_start, b.file_length};
}

LockRange LockScheme::IndexLock() const {
  switch (id_) {
    case LockSchemeId::kClipper:
    case LockSchemeId::kClipper2:
      return {1000000000ull, 1};
    case LockSchemeId::kComix:
    case LockSchemeId::kHb32:
      return {0xFFFEFFFFull, 1};
    case LockSchemeId::kHb64:
      return {0x7FFFFFFF00000000ull, 1};
    case LockSchemeId::kVfp:
      break;
  }
  return {kVfpBase, 1};
}

std::vector<LockRange> LockScheme::MemoLock() const {
  if (id_ == LockSchemeId::kVfp) return {{0, 1}, {kOffsetBase, 1}};
  return {{0, 1}};
}

uint64_t LockScheme::DataLimit() const {
  switch (id_) {
    case LockSchemeId::kClipper:
    case LockSchemeId::kComix:
      return 1000000000ull;
    case LockSchemeId::kHb32:
    case LockSchemeId::kClipper2:
      return 4000000000ull;
    case LockSchemeId::kHb64:
      return 0x7F00000000000000ull;
    case LockSchemeId::kVfp:
      break;
  }
  return offset_positions_ ? kOffsetBase : kVfpBase - 0x08000000ull;
}

}  // namespace tables
