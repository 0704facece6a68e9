#include "platform/posix/locale_cp1252.h"

#include <cstdint>

namespace platform {
namespace {

// Code points of the bytes 0x80..0x9F; 0 where Windows-1252 has no character.
constexpr uint16_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

uint32_t Cp1252CodePoint(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
}

int Cp1252Byte(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] != 0 && kHigh[i] == cp) return 0x80 + i;
  }
  return -1;
}

void AppendUtf8(uint32_t cp, std::string* out) {
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

std::string Utf8ToCp1252(std::string_view utf8) {
  std::string out;
  size_t i = 0;
  while (i < utf8.size()) {
    auto b = static_cast<uint8_t>(utf8[i]);
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    size_t extra = (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : 0;
    uint32_t cp = b & (0x3F >> extra);
    bool ok = extra > 0 && i + extra < utf8.size();
    for (size_t k = 1; ok && k <= extra; ++k) {
      auto c = static_cast<uint8_t>(utf8[i + k]);
      ok = (c & 0xC0) == 0x80;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!ok) {  // a stray or truncated sequence: one "?" per bad byte
      out.push_back('?');
      ++i;
      continue;
    }
    // The narrow and thin no-break spaces show as the no-break space.
    int byte = cp == 0x202F || cp == 0x2009 ? 0xA0 : Cp1252Byte(cp);
    out.push_back(byte < 0 ? '?' : static_cast<char>(byte));
    i += extra + 1;
  }
  return out;
}

std::string Cp1252ToUtf8(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size());
  for (char ch : ansi) {
    uint32_t cp = Cp1252CodePoint(static_cast<unsigned char>(ch));
    AppendUtf8(cp == 0 && ch != 0 ? 0xFFFD : cp, &out);
  }
  return out;
}

}  // namespace platform
