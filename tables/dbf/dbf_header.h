// The DBF file header and field descriptors: parsing with every check of a
// careful reader, and building the bytes of a new table. Pure data code.
//
// Versions read: 0x03, 0x07, 0x83, 0x87 (dBASE III memo), 0xF5 (FoxPro memo),
// 0x30/0x31/0x32 (Visual FoxPro layout: field displacement and flags, backlink,
// _NullFlags). C fields longer than 255 keep the high byte of their length in
// the decimals byte. The descriptor array ends at 0x0D; data starts at the
// header length as stored, never at a computed one.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tables/dbf/byte_order.h"
#include "tables/dbf/status.h"

namespace tables {

struct FieldDesc {
  std::string name;  // as stored, upper case, without NULs
  char type = 'C';
  uint32_t offset = 0;  // in the record; byte 0 is the deletion flag
  uint32_t length = 0;  // logical length (C: low + 256 * high byte)
  uint32_t decimals = 0;
  uint8_t len_byte = 0, dec_byte = 0, flags = 0;
  int null_bit = -1;    // bit in _NullFlags, -1 when not nullable
  int varlen_bit = -1;  // V/Q: the "short value" bit, -1 otherwise
  bool system() const { return flags & 0x01; }
  bool nullable() const { return null_bit >= 0; }
  bool binary() const { return (flags & 0x04) != 0 || type == 'Q' || type == 'W'; }
};

struct DbfHeader {
  uint8_t version = 0x03;
  uint8_t year = 0, month = 0, day = 0;
  uint32_t stored_count = 0;
  uint16_t header_length = 0;
  uint16_t record_length = 0;
  uint8_t flags = 0;     // byte 28
  uint8_t codepage = 0;  // byte 29
  std::vector<FieldDesc> fields;
  int null_flags_field = -1;  // index of _NullFlags in fields, -1 when absent

  bool vfp() const { return version == 0x30 || version == 0x31 || version == 0x32; }
  bool structural_cdx() const { return (flags & 0x01) != 0; }
  // 'F' for .fpt, 'D' for dBASE III .dbt, 0 when the table has no memo file.
  char memo_kind() const;
  bool has_memo_fields() const;
};

// Parses the header bytes (at least header_length of them). Fatal problems
// (unknown version, descriptors overrunning the header, record length not the
// sum of the fields, lengths of zero) are corruption errors; the text says
// which. file names the table in messages.
Status ParseHeader(std::span<const uint8_t> bytes, std::string_view file, DbfHeader* out);

// What a new table's fields are made of (CreateHeader computes the rest).
struct FieldSpec {
  std::string name;
  char type = 'C';
  uint32_t length = 0;
  uint32_t decimals = 0;
  bool nullable = false;  // 0x3x tables only
  bool binary = false;    // 0x3x tables only (C/M as binary)
};

// Builds the header bytes of an empty table: version, today's date given as
// y/m/d, the descriptors (with _NullFlags and the 263-byte backlink for 0x3x
// tables), flags byte 28. Checks names, types and widths.
Status CreateHeader(uint8_t version, const std::vector<FieldSpec>& specs, uint8_t flags, int year,
                    int month, int day, std::vector<uint8_t>* out);

}  // namespace tables
