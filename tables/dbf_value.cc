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

}  // namespace

char RuntimeTypeOf(char t) {
  switch (t) {
    case 'N': case 'F': case 'I': case 'B': case 'Y': case '+': case '^': return 'N';
    case 'D': return 'D';
    case 'L': return 'L';
    case 'M': case 'G': case 'P': case 'W': return 'M';
    default: return 'C';
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
        return FieldError(Status::kCorruption, table, f, "not a number: \"" + std::string(raw) + "\"");
      }
      *out = rt::Value::Float(v, static_cast<int>(f.decimals));
      return Status::Ok();
    }
    case 'D': {
      int32_t j = 0;
      if (!ParseDate(raw, &j)) {
        *out = rt::Value::FromDate(rt::Date{});
        return FieldError(Status::kCorruption, table, f, "not a date: \"" + std::string(raw) + "\"");
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
    case 'M': case 'G': case 'P': case 'W': {
      std::string text;
      Status st = table.ReadMemo(field, record, &text);
      *out = rt::Value::String(std::move(text));
      return st;
    }
    case 'I': case '+': {
      int64_t v = ReadLeInt(p, f.length);
      if (f.length <= 4) {
        *out = rt::Value::Long(static_cast<int32_t>(v));
      } else {
        *out = rt::Value::Float(static_cast<double>(v), 0);
      }
      return Status::Ok();
    }
    case '^':
      *out = rt::Value::Float(static_cast<double>(ReadLeInt(p, 8)), 0);
      return Status::Ok();
    case 'B':
      *out = rt::Value::Float(ReadLeDouble(p), static_cast<int>(f.decimals));
      return Status::Ok();
    case 'Y':
      *out = rt::Value::Float(static_cast<double>(ReadLeInt(p, 8)) / 10000.0, 4);
      return Status::Ok();
    case 'T': case '@': case '=': {
      *out = rt::Value::String(FormatTimestamp(static_cast<int32_t>(ReadLeInt(p, 4)),
                                               static_cast<int32_t>(ReadLeInt(p + 4, 4))));
      return Status::Ok();
    }
    case 'V': case 'Q': {
      uint32_t len = f.length;
      if (NullBit(h, record, f.varlen_bit)) {
        len = p[f.length - 1];
        if (len > f.length - 1) {
          *out = rt::Value::String(std::string(raw.substr(0, f.length - 1)));
          return FieldError(Status::kCorruption, table, f, "varchar length byte beyond the field");
        }
      }
      *out = rt::Value::String(std::string(raw.substr(0, len)));
      return Status::Ok();
    }
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
  auto type_error = [&](const char* wanted) {
    return FieldError(Status::kDataType, table, f,
                      std::string("a ") + wanted + " value is required");
  };
  Status result;
  switch (f.type) {
    case 'C': {
      if (!value.IsString()) return type_error("character");
      const std::string& s = value.GetString();
      // Only trailing blanks may be left out: a longer value is never cut.
      if (s.size() > f.length && s.find_first_not_of(' ', f.length) != std::string::npos) {
        return FieldError(Status::kDataWidth, table, f, "value too wide for the field");
      }
      size_t n = std::min<size_t>(s.size(), f.length);
      std::memcpy(p, s.data(), n);
      std::memset(p + n, ' ', f.length - n);
      break;
    }
    case 'N': case 'F': {
      if (!value.IsNumeric()) return type_error("numeric");
      char text[256];
      if (!FormatNumeric(value.GetFloat(), f.length, f.decimals, text)) {
        return FieldError(Status::kDataWidth, table, f, "value too wide for the field");
      }
      std::memcpy(p, text, f.length);
      break;
    }
    case 'D': {
      if (!value.IsDate()) return type_error("date");
      FormatDate(value.GetDate().julian, reinterpret_cast<char*>(p));
      break;
    }
    case 'L': {
      if (!value.IsLogic()) return type_error("logical");
      p[0] = value.GetLogic() ? 'T' : 'F';
      break;
    }
    case 'M': case 'G': case 'P': case 'W': {
      if (!value.IsString()) return type_error("character");
      TABLE_RETURN_IF_ERROR(table.WriteMemo(field, record, value.GetString(),
                                            f.binary() || f.type != 'M'));
      break;
    }
    case 'I': {
      if (!value.IsNumeric()) return type_error("numeric");
      double v = std::round(value.GetFloat());
      double limit = std::ldexp(1.0, static_cast<int>(8 * f.length - 1));
      if (!(v >= -limit && v < limit)) {
        return FieldError(Status::kDataWidth, table, f, "value too wide for the field");
      }
      WriteLeInt(p, f.length, static_cast<int64_t>(v));
      break;
    }
    case 'B': {
      if (!value.IsNumeric()) return type_error("numeric");
      WriteLeDouble(p, value.GetFloat());
      break;
    }
    case 'Y': {
      if (!value.IsNumeric()) return type_error("numeric");
      double v = std::round(value.GetFloat() * 10000.0);
      if (!(std::fabs(v) < 9.2e18)) {
        return FieldError(Status::kDataWidth, table, f, "value too wide for the field");
      }
      WriteLeInt(p, 8, static_cast<int64_t>(v));
      break;
    }
    case 'T': {
      int32_t j = 0, ms = 0;
      if (value.IsDate()) {
        j = value.GetDate().julian;
      } else if (!value.IsString() || !ParseTimestamp(value.GetString(), &j, &ms)) {
        return type_error("date-time");
      }
      WriteLeInt(p, 4, j);
      WriteLeInt(p + 4, 4, ms);
      break;
    }
    case 'V': case 'Q': {
      if (!value.IsString()) return type_error("character");
      const std::string& s = value.GetString();
      if (s.size() > f.length) {
        return FieldError(Status::kDataWidth, table, f, "value too wide for the field");
      }
      std::memset(p, 0, f.length);
      if (s.size() >= f.length) {
        std::memcpy(p, s.data(), f.length);
        SetNullBit(h, record, f.varlen_bit, false);
      } else {
        std::memcpy(p, s.data(), s.size());
        p[f.length - 1] = static_cast<uint8_t>(s.size());
        SetNullBit(h, record, f.varlen_bit, true);
      }
      break;
    }
    default:
      return FieldError(Status::kDataType, table, f,
                        std::string("fields of type ") + f.type + " cannot be written");
  }
  if (f.nullable()) SetNullBit(h, record, f.null_bit, false);
  return result;
}

}  // namespace tables
