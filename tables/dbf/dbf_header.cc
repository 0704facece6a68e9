#include "tables/dbf/dbf_header.h"

#include <cstring>

namespace tables {
namespace {

constexpr size_t kBacklinkSize = 263;

bool KnownVersion(uint8_t v) {
  switch (v) {
    case 0x03:
    case 0x07:
    case 0x83:
    case 0x87:
    case 0xF5:
    case 0x30:
    case 0x31:
    case 0x32:
      return true;
    default:
      return false;
  }
}

std::string Hex2(uint8_t v) {
  const char* digits = "0123456789ABCDEF";
  return std::string("0x") + digits[v >> 4] + digits[v & 15];
}

Status Corrupt(std::string_view file, std::string text) {
  return Status(Status::kCorruption, std::string(file) + ": " + text, 0, std::string(file));
}

// Checks a field's length against what its type allows; "" when fine.
std::string CheckWidth(const FieldDesc& f) {
  switch (f.type) {
    case 'C':
      return f.length >= 1 ? "" : "zero length";
    case 'N':
    case 'F':
      return f.length >= 1 && f.length <= 255 && f.decimals < f.length ? "" : "bad numeric width";
    case 'D':
      return f.length == 8 ? "" : "date field not 8 bytes";
    case 'L':
      return f.length == 1 ? "" : "logical field not 1 byte";
    case 'M':
    case 'G':
    case 'P':
    case 'W':
      return f.length == 4 || f.length == 10 ? "" : "memo pointer neither 4 nor 10 bytes";
    case 'I':
    case '+':
      return f.length == 1 || f.length == 2 || f.length == 3 || f.length == 4 || f.length == 8
                 ? ""
                 : "bad integer width";
    case 'B':
    case 'Y':
    case 'T':
    case '@':
    case '=':
    case '^':
      return f.length == 8 ? "" : "field not 8 bytes";
    case 'V':
    case 'Q':
      return f.length >= 1 && f.length <= 255 ? "" : "bad varchar width";
    case '0':
      return f.length >= 1 ? "" : "zero length";
    default:
      return "unknown field type '" + std::string(1, f.type) + "'";
  }
}

// Field descriptor d read, checked and added to h->fields at offset in the
// record; *bits is the next free bit of _NullFlags (varchar lengths, nulls).
Status ReadField(const uint8_t* d, std::string_view file, uint32_t offset, DbfHeader* h,
                 int* bits) {
  FieldDesc f;
  size_t name_len = 0;
  while (name_len < 10 && d[name_len] != 0) ++name_len;
  f.name.assign(reinterpret_cast<const char*>(d), name_len);
  f.type = static_cast<char>(d[11]);
  f.len_byte = d[16];
  f.dec_byte = d[17];
  f.flags = h->vfp() ? d[18] : 0;
  if (f.type == 'C') {
    f.length = f.len_byte + 256u * f.dec_byte;
    f.decimals = 0;
  } else {
    f.length = f.len_byte;
    f.decimals = f.dec_byte;
  }
  if (f.name.empty())
    return Corrupt(file, "field " + std::to_string(h->fields.size() + 1) + " has no name");
  std::string bad = CheckWidth(f);
  if (!bad.empty()) return Corrupt(file, "field " + f.name + ": " + bad);
  f.offset = offset;
  if (h->vfp() && Le32(d + 12) != offset) {
    return Corrupt(file, "field " + f.name + ": displacement " + std::to_string(Le32(d + 12)) +
                             " differs from " + std::to_string(offset));
  }
  if (f.type == 'V' || f.type == 'Q') {
    if (h->vfp()) f.varlen_bit = (*bits)++;
  }
  if (h->vfp() && (f.flags & 0x02) && f.type != '0') f.null_bit = (*bits)++;
  if (f.type == '0') {
    if (h->null_flags_field >= 0) return Corrupt(file, "two _NullFlags fields");
    h->null_flags_field = static_cast<int>(h->fields.size());
  }
  h->fields.push_back(std::move(f));
  return Status::Ok();
}

// The record length is the fields' (record_length: where the last one ends)
// and _NullFlags holds every bit the fields use.
Status CheckRecordLayout(const DbfHeader& h, uint32_t record_length, int bits,
                         std::string_view file) {
  if (record_length != h.record_length) {
    return Corrupt(file, "record length " + std::to_string(h.record_length) +
                             " is not the sum of the field lengths (" +
                             std::to_string(record_length) + ")");
  }
  if (bits > 0) {
    if (h.null_flags_field < 0)
      return Corrupt(file, "nullable or varchar fields without _NullFlags");
    if (static_cast<uint32_t>(bits) > h.fields[h.null_flags_field].length * 8) {
      return Corrupt(file, "_NullFlags too short for its bits");
    }
  }
  return Status::Ok();
}

// Field descriptor d written for s at offset in the record.
Status WriteField(const FieldSpec& s, bool vfp, uint32_t offset, uint8_t* d) {
  if (s.name.empty() || s.name.size() > 10) {
    return Status(Status::kArgument, "bad field name '" + s.name + "'");
  }
  std::memcpy(d, s.name.data(), s.name.size());
  d[11] = static_cast<uint8_t>(s.type);
  FieldDesc probe;
  probe.type = s.type;
  probe.length = s.length;
  probe.decimals = s.decimals;
  std::string bad = CheckWidth(probe);
  if (!bad.empty() || (s.type == 'C' && s.length > 0xFFFF)) {
    return Status(Status::kArgument, "field " + s.name + ": " + (bad.empty() ? "too long" : bad));
  }
  if (vfp) PutLe32(d + 12, offset);
  if (s.type == 'C') {
    d[16] = static_cast<uint8_t>(s.length & 0xFF);
    d[17] = static_cast<uint8_t>(s.length >> 8);
  } else {
    d[16] = static_cast<uint8_t>(s.length);
    d[17] = static_cast<uint8_t>(s.type == 'Y' ? 4 : s.decimals);
  }
  if (vfp) {
    uint8_t f = 0;
    if (s.type == '0') f |= 0x01 | 0x04;
    if (s.nullable) f |= 0x02;
    if (s.binary || s.type == 'Q') f |= 0x04;
    d[18] = f;
  }
  return Status::Ok();
}

// Whether a Visual FoxPro table of these fields has a memo file (flag 0x02).
bool NeedsMemoFlag(const std::vector<FieldSpec>& specs) {
  for (const FieldSpec& s : specs) {
    if (s.type == 'M' || s.type == 'G' || s.type == 'W') return true;
  }
  return false;
}

}  // namespace

char DbfHeader::memo_kind() const {
  if (version == 0x83 || version == 0x87) return 'D';
  if (version == 0xF5 || vfp()) return has_memo_fields() ? 'F' : 0;
  return has_memo_fields() ? 'F' : 0;
}

bool DbfHeader::has_memo_fields() const {
  for (const FieldDesc& f : fields) {
    if (f.type == 'M' || f.type == 'G' || f.type == 'P' || f.type == 'W') return true;
  }
  return false;
}

Status ParseHeader(std::span<const uint8_t> b, std::string_view file, DbfHeader* out) {
  *out = DbfHeader();
  if (b.size() < 32) return Corrupt(file, "file shorter than a table header");
  DbfHeader& h = *out;
  h.version = b[0];
  if (h.version == 0x8B || h.version == 0xCB || h.version == 0x43 || h.version == 0x63) {
    return Status(
        Status::kUnsupported,
        std::string(file) + ": unsupported table version " + Hex2(h.version) + " (dBASE IV)", 0,
        std::string(file));
  }
  if (!KnownVersion(h.version)) {
    return Corrupt(file, "unsupported table version " + Hex2(h.version));
  }
  h.year = b[1];
  h.month = b[2];
  h.day = b[3];
  h.stored_count = Le32(&b[4]);
  h.header_length = Le16(&b[8]);
  h.record_length = Le16(&b[10]);
  h.flags = b[28];
  h.codepage = b[29];
  if (h.header_length < 33) return Corrupt(file, "header length below 33");
  if (b.size() < h.header_length) return Corrupt(file, "file shorter than its header length");
  if (h.record_length < 2) return Corrupt(file, "record length below 2");

  uint32_t offset = 1;
  size_t pos = 32;
  bool terminated = false;
  int bits = 0;
  while (pos < h.header_length) {
    if (b[pos] == 0x0D) {
      terminated = true;
      break;
    }
    if (pos + 32 > h.header_length) return Corrupt(file, "field descriptors overrun the header");
    TABLE_RETURN_IF_ERROR(ReadField(&b[pos], file, offset, &h, &bits));
    offset += h.fields.back().length;
    pos += 32;
  }
  if (!terminated) return Corrupt(file, "field descriptors not terminated by 0x0D");
  if (h.fields.empty()) return Corrupt(file, "table without fields");
  return CheckRecordLayout(h, offset, bits, file);
}

Status CreateHeader(uint8_t version, const std::vector<FieldSpec>& specs, uint8_t flags, int year,
                    int month, int day, std::vector<uint8_t>* out) {
  bool vfp = version == 0x30 || version == 0x31 || version == 0x32;
  if (!KnownVersion(version)) return Status(Status::kArgument, "unsupported table version");
  if (specs.empty()) return Status(Status::kArgument, "a table needs at least one field");
  std::vector<FieldSpec> all = specs;
  int bits = 0;
  for (const FieldSpec& s : specs) {
    if (vfp && (s.type == 'V' || s.type == 'Q')) ++bits;
    if (vfp && s.nullable) ++bits;
    if (!vfp && (s.nullable || s.type == 'V' || s.type == 'Q')) {
      return Status(Status::kArgument, "field " + s.name + ": needs a Visual FoxPro table");
    }
  }
  if (bits > 0) {
    FieldSpec nf;
    nf.name = "_NullFlags";
    nf.type = '0';
    nf.length = static_cast<uint32_t>((bits + 7) / 8);
    all.push_back(nf);
  }
  size_t header_length = 32 + 32 * all.size() + 1 + (vfp ? kBacklinkSize : 1);
  if (header_length > 0xFFFF) return Status(Status::kArgument, "too many fields");
  out->assign(header_length, 0);
  uint8_t* h = out->data();
  h[0] = version;
  h[1] = static_cast<uint8_t>(vfp ? year % 100 : year - 1900);
  h[2] = static_cast<uint8_t>(month);
  h[3] = static_cast<uint8_t>(day);
  uint32_t offset = 1;
  for (size_t i = 0; i < all.size(); ++i) {
    const FieldSpec& s = all[i];
    TABLE_RETURN_IF_ERROR(WriteField(s, vfp, offset, h + 32 + 32 * i));
    offset += s.length;
  }
  if (offset > 0xFFFF) return Status(Status::kArgument, "record longer than 65535 bytes");
  h[32 + 32 * all.size()] = 0x0D;
  PutLe16(h + 8, static_cast<uint32_t>(header_length));
  PutLe16(h + 10, offset);
  h[28] = static_cast<uint8_t>(flags | (vfp && NeedsMemoFlag(specs) ? 0x02 : 0));
  return Status::Ok();
}

}  // namespace tables
