#include "tables/dbf/dbf_field.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/calendar.h"

namespace tables {

namespace {

// Plain decimals with up to 15 digits: one exact integer divided by an exact
// power of ten is the correctly rounded value. False for anything else.
bool ParsePlainDecimal(std::string_view s, double* out) {
  size_t i = 0;
  bool negative = false;
  if (s[i] == '-' || s[i] == '+') negative = s[i++] == '-';
  uint64_t mantissa = 0;
  int ndigits = 0, frac = 0;
  bool dot = false;
  if (i >= s.size()) return false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c >= '0' && c <= '9') {
      mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
      ++ndigits;
      if (dot) ++frac;
    } else if (c == '.' && !dot) {
      dot = true;
    } else {
      return false;
    }
  }
  if (ndigits == 0 || ndigits > 15) return false;
  static const double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  double v = static_cast<double>(mantissa) / kPow10[frac];
  *out = negative ? -v : v;
  return true;
}

// [sign] digits [. digits] [e [sign] digits], at least one digit before the
// exponent, finite; read by strtod.
bool ParseScientific(std::string_view s, double* out) {
  std::string t(s);
  size_t i = 0;
  if (t[i] == '-' || t[i] == '+') ++i;
  bool digits = false;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
    ++i;
    digits = true;
  }
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
      ++i;
      digits = true;
    }
  }
  if (!digits) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t exp_start = i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
    if (i == exp_start) return false;
  }
  if (i != t.size()) return false;
  double v = std::strtod(t.c_str(), nullptr);
  if (!std::isfinite(v)) return false;
  *out = v;
  return true;
}

}  // namespace

bool ParseNumeric(std::string_view raw, double* out, bool* blank) {
  *out = 0;
  *blank = false;
  size_t b = 0, e = raw.size();
  while (b < e && (raw[b] == ' ' || raw[b] == '\0')) ++b;
  while (e > b && (raw[e - 1] == ' ' || raw[e - 1] == '\0')) --e;
  if (b == e) {
    *blank = true;
    return true;
  }
  std::string_view text = raw.substr(b, e - b);
  return ParsePlainDecimal(text, out) || ParseScientific(text, out);
}

bool FormatNumeric(double v, uint32_t len, uint32_t dec, char* out) {
  std::memset(out, '*', len);
  if (!std::isfinite(v) || len == 0 || len > 255) return false;
  double scale = std::pow(10.0, dec);
  double scaled = v * scale;
  // Half away from zero, forgiving the binary representation's last bits.
  double rounded = std::round(scaled + std::copysign(std::fabs(scaled) * 1e-15, scaled));
  if (rounded == 0) rounded = 0;  // no "-0.00"
  char buf[400];
  int n = std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(dec), rounded / scale);
  if (n <= 0 || static_cast<uint32_t>(n) > len) return false;
  std::memset(out, ' ', len - n);
  std::memcpy(out + (len - n), buf, n);
  return true;
}

int32_t JulianFromYmd(int y, int m, int d) { return platform::JulianDay(y, m, d); }

void YmdFromJulian(int32_t j, int* y, int* m, int* d) { platform::CivilDate(j, y, m, d); }

bool ParseDate(std::string_view raw, int32_t* julian) {
  *julian = 0;
  bool blank = true;
  for (char c : raw) {
    if (c != ' ' && c != '\0') blank = false;
  }
  if (blank) return true;
  if (raw.size() != 8) return false;
  int v[3] = {0, 0, 0};
  const int widths[3] = {4, 2, 2};
  size_t p = 0;
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < widths[k]; ++i, ++p) {
      if (raw[p] < '0' || raw[p] > '9') return false;
      v[k] = v[k] * 10 + (raw[p] - '0');
    }
  }
  *julian = JulianFromYmd(v[0], v[1], v[2]);
  return *julian != 0;
}

void FormatDate(int32_t julian, char* out) {
  if (julian <= 0) {
    std::memset(out, ' ', 8);
    return;
  }
  int y, m, d;
  YmdFromJulian(julian, &y, &m, &d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y % 10000, m, d);
  std::memcpy(out, buf, 8);
}

int ParseLogical(uint8_t b) {
  switch (b) {
    case 'T':
    case 't':
    case 'Y':
    case 'y':
      return 1;
    case 'F':
    case 'f':
    case 'N':
    case 'n':
      return 0;
    case ' ':
    case '?':
      return -1;
    default:
      return -2;
  }
}

bool MemoBlock(const FieldDesc& f, const uint8_t* p, uint32_t* block) {
  *block = 0;
  if (f.length == 4) {
    *block = Le32(p);
    return true;
  }
  uint64_t v = 0;
  bool seen_digit = false, after = false;
  for (uint32_t i = 0; i < f.length; ++i) {
    uint8_t c = p[i];
    if (c == ' ' || c == 0) {
      if (seen_digit) after = true;
      continue;
    }
    if (c < '0' || c > '9' || after) return false;
    seen_digit = true;
    v = v * 10 + (c - '0');
    if (v > 0xFFFFFFFFull) return false;
  }
  *block = static_cast<uint32_t>(v);
  return true;
}

void PutMemoBlock(const FieldDesc& f, uint8_t* p, uint32_t block) {
  if (f.length == 4) {
    PutLe32(p, block);
    return;
  }
  if (block == 0) {
    std::memset(p, ' ', f.length);
    return;
  }
  char buf[16];
  int n = std::snprintf(buf, sizeof buf, "%u", block);
  std::memset(p, ' ', f.length);
  std::memcpy(p + (f.length - n), buf, n);
}

bool NullBit(const DbfHeader& h, const uint8_t* record, int bit) {
  if (bit < 0 || h.null_flags_field < 0) return false;
  const FieldDesc& nf = h.fields[h.null_flags_field];
  if (static_cast<uint32_t>(bit >> 3) >= nf.length) return false;
  return (record[nf.offset + (bit >> 3)] >> (bit & 7)) & 1;
}

void SetNullBit(const DbfHeader& h, uint8_t* record, int bit, bool on) {
  if (bit < 0 || h.null_flags_field < 0) return;
  const FieldDesc& nf = h.fields[h.null_flags_field];
  if (static_cast<uint32_t>(bit >> 3) >= nf.length) return;
  uint8_t& b = record[nf.offset + (bit >> 3)];
  if (on) {
    b = static_cast<uint8_t>(b | (1u << (bit & 7)));
  } else {
    b = static_cast<uint8_t>(b & ~(1u << (bit & 7)));
  }
}

int64_t ReadLeInt(const uint8_t* p, uint32_t n) {
  uint64_t v = 0;
  for (uint32_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  if (n < 8 && (v >> (8 * n - 1)) & 1) v |= ~0ull << (8 * n);  // sign-extend
  return static_cast<int64_t>(v);
}

void WriteLeInt(uint8_t* p, uint32_t n, int64_t v) {
  uint64_t u = static_cast<uint64_t>(v);
  for (uint32_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}

double ReadLeDouble(const uint8_t* p) {
  uint64_t u = static_cast<uint64_t>(ReadLeInt(p, 8));
  double d;
  std::memcpy(&d, &u, 8);
  return d;
}

void WriteLeDouble(uint8_t* p, double v) {
  uint64_t u;
  std::memcpy(&u, &v, 8);
  WriteLeInt(p, 8, static_cast<int64_t>(u));
}

std::string FormatTimestamp(int32_t julian, int32_t millis) {
  if (julian == 0 && millis == 0) return "";
  int y, m, d;
  YmdFromJulian(julian, &y, &m, &d);
  if (millis < 0) millis = 0;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, m, d, millis / 3600000,
                millis / 60000 % 60, millis / 1000 % 60, millis % 1000);
  return buf;
}

bool ParseTimestamp(std::string_view t, int32_t* julian, int32_t* millis) {
  *julian = 0;
  *millis = 0;
  if (t.find_first_not_of(' ') == std::string_view::npos) return true;
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  std::string text(t);
  int n = std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d.%d", &y, &mo, &d, &h, &mi, &s, &ms);
  if (n < 3) return false;
  *julian = JulianFromYmd(y, mo, d);
  if (*julian == 0 || h > 23 || mi > 59 || s > 59 || ms > 999 || h < 0 || mi < 0 || s < 0 ||
      ms < 0) {
    return false;
  }
  *millis = ((h * 60 + mi) * 60 + s) * 1000 + ms;
  return true;
}

}  // namespace tables
