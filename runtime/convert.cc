// Text conversions of values and numbers, the string helpers, and the
// Windows-1252 <-> UTF-8 conversion of the Linux console.
//
// Numbers are shown the usual xBase way: right-aligned in a width, rounded
// half away from zero, the decimal separator taken from the settings. With no
// width given a long takes ten places and a float ten plus its decimals and
// the separator; a number wider than that default still shows in full, while
// an explicit width that is too small gives asterisks. The code-page
// conversion itself lives in platform/cp1252.
#include "runtime/convert.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "platform/cp1252.h"
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

std::string Ansi2Utf8(std::string_view s) { return platform::Cp1252ToUtf8(s); }

std::string Utf82Ansi(std::string_view s) { return platform::Utf8ToCp1252(s); }

}  // namespace rt
