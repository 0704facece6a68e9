// Where shared-mode locks live in the DBF, CDX and FPT files, by lock scheme.
//
// Locks sit on "virtual" bytes beyond the data, so readers of locked records
// are never blocked (Windows byte-range locks are mandatory). The default is
// the scheme of the usual CDX driver family (VFP, id 3): with the structural
// CDX flag, header 0x7FFFFFFE and record n at 0x7FFFFFFE - n; without it,
// header 0x40000000 and record n at 0x40000000 + H + (n-1)*R. A 0x3x table
// without the flag takes both families' bytes, since FoxPro-family engines use
// the 0x7FFFFFFE positions there. Ranges of one kind are taken in the listed
// order and released in reverse. The memo lock is byte 0 of the FPT plus, for
// the FoxPro family, byte 0x40000000.
#pragma once

#include <cstdint>
#include <vector>

namespace tables {

enum class LockSchemeId : uint8_t {
  kClipper = 1,
  kComix = 2,
  kVfp = 3,
  kHb32 = 4,
  kHb64 = 5,
  kClipper2 = 6,
};

struct LockRange {
  uint64_t offset = 0;
  uint64_t length = 0;
};

class LockScheme {
 public:
  // version: DBF byte 0; structural: byte 28 bit 0 as found at open.
  LockScheme(LockSchemeId id, uint8_t version, bool structural, uint32_t header_length,
             uint32_t record_length);

  LockSchemeId id() const { return id_; }
  std::vector<LockRange> HeaderLock() const;
  std::vector<LockRange> RecordLock(uint32_t recno) const;
  // The record-lock bytes of records first..last (inclusive), one range each family.
  std::vector<LockRange> RecordRangeLock(uint32_t first, uint32_t last) const;
  LockRange FileLock() const;
  // The CDX lock byte: taken shared to read, exclusive to write.
  LockRange IndexLock() const;
  std::vector<LockRange> MemoLock() const;
  // The highest file offset record data may reach before it collides with the
  // scheme's lock bytes.
  uint64_t DataLimit() const;

 private:
  LockSchemeId id_;
  bool vfp_positions_;     // 0x7FFFFFFE - n
  bool offset_positions_;  // 0x40000000 + record offset
  uint32_t header_length_;
  uint32_t record_length_;
};

}  // namespace tables
