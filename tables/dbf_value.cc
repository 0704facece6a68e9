#include "tables/dbf_value.h"

#include <cmath>
#include <cstring>
#include <string>

#include "tables/dbf/dbf_field.h"

namespace tables {
namespace {

Status FieldError(Status::Code code, const Table& t, const FieldDesc& f, const std::string& what) {
  return Status(code, "field " + f.name + ": " + what, 0, t.path());
}

Status TypeError(const Table& t, const FieldDesc& f, const char* wanted) {
  return FieldError(Status::kDataType, t, f, std::string("a ") + wanted + " value is required");
}

Status TooWide(const Table& t, const FieldDesc& f) {
  return FieldError(Status::kDataWidth, t, f, "value too wide for the field");
}

// I, +, ^, B, Y: little-endian binary numbers (Y in ten-thousandths).
rt::Value BinaryNumber(const FieldDesc& f, const uint8_t* p) {
  switch (f.type) {
    case 'I':
    case '+': {
      int64_t v = ReadLeInt(p, f.length);
      if (f.length <= 4) return rt::Value::Long(static_cast<int32_t>(v));
      return rt::Value::Float(static_cast<double>(v), 0);
    }
    case '^':
      return rt::Value::Float(static_cast<double>(ReadLeInt(p, 8)), 0);
    case 'B':
      return rt::Value::Float(ReadLeDouble(p), static_cast<int>(f.decimals));
    default:
      return rt::Value::Float(static_cast<double>(ReadLeInt(p, 8)) / 10000.0, 4);  // Y
  }
}

// V, Q: as long as the length byte says when the record's varlen bit is set,
// the whole field otherwise.
Status GetVarchar(const Table& table, const FieldDesc& f, const uint8_t* record, rt::Value* out) {
  const uint8_t* p = record + f.offset;
  std::string_view raw(reinterpret_cast<const char*>(p), f.length);
  uint32_t len = f.length;
  if (NullBit(table.header(), record, f.varlen_bit)) {
    len = p[f.length - 1];
    if (len > f.length - 1) {
      *out = rt::Value::String(std::string(raw.substr(0, f.length - 1)));
      return FieldError(Status::kCorruption, table, f, "varchar length byte beyond the field");
    }
  }
  *out = rt::Value::String(std::string(raw.substr(0, len)));
  return Status::Ok();
}

// C: blank-padded; only trailing blanks may be left out: a longer value is
// never cut.
Status PutCharacter(const Table& t, const FieldDesc& f, const rt::Value& value, uint8_t* p) {
  if (!value.IsString()) return TypeError(t, f, "character");
  const std::string& s = value.GetString();
  if (s.size() > f.length && s.find_first_not_of(' ', f.length) != std::string::npos) {
    return TooWide(t, f);
  }
  size_t n = std::min<size_t>(s.size(), f.length);
  std::memcpy(p, s.data(), n);
  std::memset(p + n, ' ', f.length - n);
  return Status::Ok();
}

// N, F as text; I, B, Y as little-endian binary (Y in ten-thousandths).
Status PutNumber(const Table& t, const FieldDesc& f, const rt::Value& value, uint8_t* p) {
  if (!value.IsNumeric()) return TypeError(t, f, "numeric");
  switch (f.type) {
    case 'I': {
      double v = std::round(value.GetFloat());
      double limit = std::ldexp(1.0, static_cast<int>(8 * f.length - 1));
      if (!(v >= -limit && v < limit)) return TooWide(t, f);
      WriteLeInt(p, f.length, static_cast<int64_t>(v));
      return Status::Ok();
    }
    case 'B':
      WriteLeDouble(p, value.GetFloat());
      return Status::Ok();
    case 'Y': {
      double v = std::round(value.GetFloat() * 10000.0);
      if (!(std::fabs(v) < 9.2e18)) return TooWide(t, f);
      WriteLeInt(p, 8, static_cast<int64_t>(v));
      return Status::Ok();
    }
    default: {  // N, F
      char text[256];
      if (!FormatNumeric(value.GetFloat(), f.length, f.decimals, text)) return TooWide(t, f);
      std::memcpy(p, text, f.length);
      return Status::Ok();
    }
  }
}

// T: a date (midnight) or a date-time text.
Status PutDateTime(const Table& t, const FieldDesc& f, const rt::Value& value, uint8_t* p) {
  int32_t j = 0, ms = 0;
  if (value.IsDate()) {
    j = value.GetDate().julian;
  } else if (!value.IsString() || !ParseTimestamp(value.GetString(), &j, &ms)) {
    return TypeError(t, f, "date-time");
  }
  WriteLeInt(p, 4, j);
  WriteLeInt(p + 4, 4, ms);
  return Status::Ok();
}

// V, Q: zero-padded; a shorter value keeps its length in the last byte and
// sets the record's varlen bit.
Status PutVarchar(const Table& t, const FieldDesc& f, const rt::Value& value, uint8_t* record) {
  if (!value.IsString()) return TypeError(t, f, "character");
  const std::string& s = value.GetString();
  if (s.size() > f.length) return TooWide(t, f);
  uint8_t* p = record + f.offset;
  std::memset(p, 0, f.length);
  if (s.size() >= f.length) {
    std::memcpy(p, s.data(), f.length);
    SetNullBit(t.header(), record, f.varlen_bit, false);
  } else {
    std::memcpy(p, s.data(), s.size());
    p[f.length - 1] = static_cast<uint8_t>(s.size());
    SetNullBit(t.header(), record, f.varlen_bit, true);
  }
  return Status::Ok();
}

}  // namespace

char RuntimeTypeOf(char t) {
  switch (t) {
    case 'N':
    case 'F':
    case 'I':
    case 'B':
    case 'Y':
    case '+':
    case '^':
      return 'N';
    case 'D':
      return 'D';
    case 'L':
      return 'L';
    case 'M':
    case 'G':
    case 'P':
    case 'W':
      return 'M';
    default:
      return 'C';
  }
}

Status FieldGetValue(Table& table, size_t field, const uint8_t* record, rt::Value* out) {
  const DbfHeader& h = table.header();
  const FieldDesc& f = h.fields[field];
  const uint8_t* p = record + f.offset;
  std::string_view raw(reinterpret_cast<const char*>(p), f.length);
  if (f.nullable() && NullBit(h, record, f.null_bit)) {
    *out = rt::Value();
    return Status::Ok();
  }
  switch (f.type) {
    case 'C':
      *out = rt::Value::String(std::string(raw));
      return Status::Ok();
    case 'N':
    case 'F': {
      double v = 0;
      bool blank = false;
      if (!ParseNumeric(raw, &v, &blank)) {
        *out = rt::Value::Float(0, static_cast<int>(f.decimals));
        return FieldError(Status::kCorruption, table, f,
                          "not a number: \"" + std::string(raw) + "\"");
      }
      *out = rt::Value::Float(v, static_cast<int>(f.decimals));
      return Status::Ok();
    }
    case 'D': {
      int32_t j = 0;
      if (!ParseDate(raw, &j)) {
        *out = rt::Value::FromDate(rt::Date{});
        return FieldError(Status::kCorruption, table, f,
                          "not a date: \"" + std::string(raw) + "\"");
      }
      *out = rt::Value::FromDate(rt::Date{j});
      return Status::Ok();
    }
    case 'L': {
      int v = ParseLogical(p[0]);
      *out = rt::Value::Logic(v == 1);
      if (v == -2) return FieldError(Status::kCorruption, table, f, "not a logical byte");
      return Status::Ok();
    }
    case 'M':
    case 'G':
    case 'P':
    case 'W': {
      std::string text;
      Status st = table.ReadMemo(field, record, &text);
      *out = rt::Value::String(std::move(text));
      return st;
    }
    case 'I':
    case '+':
    case '^':
    case 'B':
    case 'Y':
      *out = BinaryNumber(f, p);
      return Status::Ok();
    case 'T':
    case '@':
    case '=': {
      *out = rt::Value::String(FormatTimestamp(static_cast<int32_t>(ReadLeInt(p, 4)),
                                               static_cast<int32_t>(ReadLeInt(p + 4, 4))));
      return Status::Ok();
    }
    case 'V':
    case 'Q':
      return GetVarchar(table, f, record, out);
    default:
      *out = rt::Value::String(std::string(raw));
      return Status::Ok();
  }
}

Status FieldPutValue(Table& table, size_t field, const rt::Value& value, uint8_t* record) {
  const DbfHeader& h = table.header();
  const FieldDesc& f = h.fields[field];
  uint8_t* p = record + f.offset;
  if (value.IsNil() && f.nullable()) {
    SetNullBit(h, record, f.null_bit, true);
    return Status::Ok();
  }
  Status st;
  switch (f.type) {
    case 'C':
      st = PutCharacter(table, f, value, p);
      break;
    case 'N':
    case 'F':
    case 'I':
    case 'B':
    case 'Y':
      st = PutNumber(table, f, value, p);
      break;
    case 'D':
      if (!value.IsDate()) return TypeError(table, f, "date");
      FormatDate(value.GetDate().julian, reinterpret_cast<char*>(p));
      break;
    case 'L':
      if (!value.IsLogic()) return TypeError(table, f, "logical");
      p[0] = value.GetLogic() ? 'T' : 'F';
      break;
    case 'M':
    case 'G':
    case 'P':
    case 'W':
      if (!value.IsString()) return TypeError(table, f, "character");
      st = table.WriteMemo(field, record, value.GetString(), f.binary() || f.type != 'M');
      break;
    case 'T':
      st = PutDateTime(table, f, value, p);
      break;
    case 'V':
    case 'Q':
      st = PutVarchar(table, f, value, record);
      break;
    default:
      return FieldError(Status::kDataType, table, f,
                        std::string("fields of type ") + f.type + " cannot be written");
  }
  if (!st.ok()) return st;
  if (f.nullable()) SetNullBit(h, record, f.null_bit, false);
  return Status::Ok();
}

}  // namespace tables
