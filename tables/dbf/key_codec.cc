#include "tables/dbf/key_codec.h"

#include <cstring>

#include "platform/calendar.h"

namespace tables {

std::string EncodeNumberKey(double v) {
  if (v == 0.0) v = 0.0;  // folds -0.0 into +0.0
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  if (bits & 0x8000000000000000ull) {
    bits = ~bits;
  } else {
    bits |= 0x8000000000000000ull;
  }
  std::string key(8, '\0');
  for (int i = 0; i < 8; ++i) key[i] = static_cast<char>(bits >> (56 - 8 * i));
  return key;
}

double DecodeNumberKey(std::string_view key) {
  uint64_t bits = 0;
  for (size_t i = 0; i < 8 && i < key.size(); ++i) {
    bits = (bits << 8) | static_cast<uint8_t>(key[i]);
  }
  if (bits & 0x8000000000000000ull) {
    bits &= ~0x8000000000000000ull;
  } else {
    bits = ~bits;
  }
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

int32_t DateToJulian(int year, int month, int day) { return platform::JulianDay(year, month, day); }

void JulianToDate(int32_t julian, int* year, int* month, int* day) {
  platform::CivilDate(julian, year, month, day);
}

int32_t JulianFromDtos(std::string_view text) {
  if (text.size() < 8) return 0;
  int v[8];
  for (int i = 0; i < 8; ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    v[i] = text[i] - '0';
  }
  int year = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
  int month = v[4] * 10 + v[5];
  int day = v[6] * 10 + v[7];
  return DateToJulian(year, month, day);
}

std::string DtosFromJulian(int32_t julian) {
  int y, m, d;
  JulianToDate(julian, &y, &m, &d);
  if (y <= 0 || y > 9999) return std::string(8, ' ');
  char buf[9];
  buf[0] = static_cast<char>('0' + y / 1000);
  buf[1] = static_cast<char>('0' + y / 100 % 10);
  buf[2] = static_cast<char>('0' + y / 10 % 10);
  buf[3] = static_cast<char>('0' + y % 10);
  buf[4] = static_cast<char>('0' + m / 10);
  buf[5] = static_cast<char>('0' + m % 10);
  buf[6] = static_cast<char>('0' + d / 10);
  buf[7] = static_cast<char>('0' + d % 10);
  return std::string(buf, 8);
}

int CompareKeys(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  if (c != 0) return c < 0 ? -1 : 1;
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace tables
