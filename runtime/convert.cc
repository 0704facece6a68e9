// Text conversions of values and numbers, the string helpers, and the
// Windows-1252 <-> UTF-8 conversion of the Linux console.
//
// Numbers are shown the usual xBase way: right-aligned in a width, rounded
// half away from zero, the decimal separator taken from the settings. With no
// width given a long takes ten places and a float ten plus its decimals and
// the separator; a number wider than that default still shows in full, while
// an explicit width that is too small gives asterisks.
#include "runtime/convert.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "runtime/error.h"
#include "runtime/object.h"
#include "runtime/settings.h"
#include "runtime/symbol.h"
#include "runtime/value.h"

namespace rt {
namespace {

constexpr int kDefaultIntegerWidth = 10;
// More decimals than a double can carry only add noise (and let a wild
// SetDecimal ask for huge texts).
constexpr int kMaxDecimals = 20;

// Digits of |value| rounded to `dec` decimals, half away from zero, without a
// decimal point ("314" for 3.14159 at 2). The rounding works on the number's
// fifteen significant decimal digits, all a double is trusted with, so the
// binary error of a decimal fraction does not show (2.675 -> 2.68).
std::string RoundedDigits(double magnitude, int dec) {
  if (magnitude == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", magnitude);  // "d.dddddddddddddde+XX"
  std::string digits;
  const char* p = buf;
  for (; *p && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9') digits.push_back(*p);
  }
  int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
  // magnitude = digits * 10^(exponent - 14); scaled by 10^dec that is
  // digits * 10^shift.
  int shift = exponent - 14 + dec;
  if (shift >= 0) {
    digits.append(static_cast<size_t>(shift), '0');
  } else {
    int keep = static_cast<int>(digits.size()) + shift;
    if (keep < 0) return "0";
    bool round_up = digits[static_cast<size_t>(keep)] >= '5';
    digits.resize(static_cast<size_t>(keep));
    if (round_up) {
      int i = keep - 1;
      for (; i >= 0 && digits[static_cast<size_t>(i)] == '9'; --i)
        digits[static_cast<size_t>(i)] = '0';
      if (i >= 0) {
        ++digits[static_cast<size_t>(i)];
      } else {
        digits.insert(0, 1, '1');
      }
    }
    if (digits.empty()) digits = "0";
  }
  size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? "0" : digits.substr(first);
}

// The number as text with `dec` decimals and no padding ("-3,14").
std::string NumberText(double value, int dec) {
  if (std::isnan(value) || std::isinf(value)) return std::string();
  std::string digits = RoundedDigits(std::fabs(value), dec);
  if (digits.size() <= static_cast<size_t>(dec)) {
    digits.insert(0, static_cast<size_t>(dec) + 1 - digits.size(), '0');
  }
  std::string text;
  if (value < 0 && digits.find_first_not_of('0') != std::string::npos) text.push_back('-');
  size_t int_len = digits.size() - static_cast<size_t>(dec);
  text.append(digits, 0, int_len);
  if (dec > 0) {
    text.push_back(static_cast<char>(GetDecimalSep()));
    text.append(digits, int_len, std::string::npos);
  }
  return text;
}

std::string NotNumeric(const char* operation, const Value& n) {
  ErrorInfo info;
  info.subsystem = "BASE";
  info.gen_code = kGenArg;
  info.operation = operation;
  info.description = ErrString(kGenArg);
  info.args = std::vector<Value>{n};
  info.arg_num = 1;
  info.arg_type = static_cast<uint32_t>(n.type());
  info.arg_type_req = static_cast<uint32_t>(Type::kFloat);
  info.can_default = true;
  info.can_substitute = true;
  ErrorOutcome outcome = RaiseError(info);
  if (outcome.answer == ErrorAnswer::kSubstitute && outcome.value.IsString()) {
    return outcome.value.GetString();
  }
  return std::string();
}

std::string FormatNumber(const Value& n, int len, int dec) {
  const bool width_given = len >= 0;
  if (dec < 0) {
    if (width_given || n.type() != Type::kFloat) {
      dec = 0;
    } else {
      dec = n.decimals() >= 0 ? n.decimals() : static_cast<int>(GetDecimal());
    }
  }
  dec = std::min(dec, kMaxDecimals);
  if (!width_given) len = kDefaultIntegerWidth + (dec > 0 ? dec + 1 : 0);
  std::string text = NumberText(n.GetFloat(), dec);
  if (text.empty() || (width_given && text.size() > static_cast<size_t>(len))) {
    return std::string(static_cast<size_t>(len), '*');
  }
  if (text.size() < static_cast<size_t>(len)) text.insert(0, len - text.size(), ' ');
  return text;
}

std::string HexPointer(const void* p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%08llX",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
  return buf;
}

}  // namespace

std::string AsString(const Value& v) {
  switch (v.type()) {
    case Type::kString:
      return v.GetString();
    case Type::kLong:
    case Type::kDword:
    case Type::kFloat:
      return NTrim(v);
    case Type::kDate:
      return DToC(v.GetDate());
    case Type::kLogic:
      return v.GetLogic() ? ".T." : ".F.";
    case Type::kSymbol:
      return Symbol2String(v.GetSymbol());
    case Type::kNil:
      return "NIL";
    case Type::kArray:
      return "{[" + std::to_string(v.GetArray() ? v.GetArray()->size() : 0) + "]}";
    case Type::kObject: {
      const ObjectRef& o = v.GetObject();
      return "{" + (o && o->cls() ? Symbol2String(o->cls()->name()) : std::string()) + "}";
    }
    case Type::kBlock:
      return "{|block|}";
    case Type::kPsz:
      return v.GetPtr() ? std::string(static_cast<const char*>(v.GetPtr())) : std::string();
    case Type::kPtr:
      return HexPointer(v.GetPtr());
    default:
      return std::string();
  }
}

std::string AsPsz(const Value& v) {
  // A zero-terminated text ends at its first zero byte.
  std::string s = AsString(v);
  size_t nul = s.find('\0');
  if (nul != std::string::npos) s.resize(nul);
  return s;
}

std::string Str(const Value& n, int len, int dec) {
  if (!n.IsNumeric()) return NotNumeric("STR", n);
  return FormatNumber(n, len, dec);
}

std::string NTrim(const Value& n) {
  if (!n.IsNumeric()) return NotNumeric("NTRIM", n);
  return AllTrim(FormatNumber(n, -1, -1));
}

std::string StrZero(const Value& n, int len, int dec) {
  if (!n.IsNumeric()) return NotNumeric("STRZERO", n);
  std::string s = FormatNumber(n, len, dec < 0 ? 0 : dec);
  size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos || s[first] == '*') return s;
  if (s[first] == '-') {
    // The sign goes in front of the zeros: "  -5" becomes "-005".
    return "-" + std::string(first, '0') + s.substr(first + 1);
  }
  return std::string(first, '0') + s.substr(first);
}

Value Val(std::string_view s) {
  const char sep = static_cast<char>(GetDecimalSep());
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  // All digits go into one whole number that is divided once at the end, so
  // "0.1" gives the double nearest to 0.1 rather than a sum of rounded parts.
  double mantissa = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) mantissa = mantissa * 10 + (s[i] - '0');
  bool is_float = false;
  int decimals = 0;
  if (i < s.size() && s[i] == sep) {
    is_float = true;
    for (++i; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
      mantissa = mantissa * 10 + (s[i] - '0');
      ++decimals;
    }
  }
  double value = decimals > 0 ? mantissa / std::pow(10.0, decimals) : mantissa;
  if (negative) value = -value;
  if (!is_float && value >= std::numeric_limits<int32_t>::min() &&
      value <= std::numeric_limits<int32_t>::max()) {
    return Value::Long(static_cast<int32_t>(value));
  }
  return Value::Float(value, decimals);
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string RTrim(std::string_view s) {
  size_t end = s.find_last_not_of(' ');
  return std::string(end == std::string_view::npos ? std::string_view() : s.substr(0, end + 1));
}

std::string LTrim(std::string_view s) {
  size_t begin = s.find_first_not_of(' ');
  return std::string(begin == std::string_view::npos ? std::string_view() : s.substr(begin));
}

std::string AllTrim(std::string_view s) { return LTrim(RTrim(s)); }

namespace {

// Code points of the bytes 0x80-0x9F; the five unassigned bytes map to the
// C1 control of the same number, as Windows converts them, so every byte
// survives a round trip.
constexpr char16_t kHigh1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The byte for a code point, or '?' when Windows-1252 has none.
char AnsiOf(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kHigh1252[i] == cp) return static_cast<char>(0x80 + i);
  }
  return '?';
}

// Decodes one UTF-8 sequence at s[*i]; malformed input (bad lead or
// continuation byte, overlong form, surrogate, beyond U+10FFFF) consumes one
// byte and gives no code point.
bool DecodeUtf8(std::string_view s, size_t* i, uint32_t* cp) {
  unsigned char lead = static_cast<unsigned char>(s[*i]);
  int extra = lead < 0x80             ? 0
              : (lead & 0xE0) == 0xC0 ? 1
              : (lead & 0xF0) == 0xE0 ? 2
              : (lead & 0xF8) == 0xF0 ? 3
                                      : -1;
  if (extra < 0 || *i + static_cast<size_t>(extra) >= s.size()) {
    ++*i;
    return false;
  }
  uint32_t v = extra == 0 ? lead : lead & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    unsigned char c = static_cast<unsigned char>(s[*i + k]);
    if ((c & 0xC0) != 0x80) {
      ++*i;
      return false;
    }
    v = (v << 6) | (c & 0x3F);
  }
  static constexpr uint32_t kMinOf[4] = {0, 0x80, 0x800, 0x10000};
  if (v < kMinOf[extra] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) {
    ++*i;
    return false;
  }
  *i += static_cast<size_t>(extra) + 1;
  *cp = v;
  return true;
}

}  // namespace

std::string Ansi2Utf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    AppendUtf8(&out, c >= 0x80 && c < 0xA0 ? kHigh1252[c - 0x80] : c);
  }
  return out;
}

std::string Utf82Ansi(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    uint32_t cp;
    out.push_back(DecodeUtf8(s, &i, &cp) ? AnsiOf(cp) : '?');
  }
  return out;
}

}  // namespace rt
