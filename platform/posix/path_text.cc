#include "platform/posix/path_text.h"

#include <cstdint>

namespace platform {
namespace {

// Unicode code points of 0x80–0x9F; 0 where the code page has none.
constexpr uint16_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

uint32_t CodePoint(unsigned char c) { return c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : c; }

}  // namespace

bool Cp1252ToUtf8(std::string_view in, std::string* out) {
  out->clear();
  for (char ch : in) {
    uint32_t cp = CodePoint(static_cast<unsigned char>(ch));
    if (cp == 0 && ch != 0) return false;
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
  return true;
}

bool Utf8ToCp1252(std::string_view in, std::string* out) {
  out->clear();
  for (size_t i = 0; i < in.size();) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    uint32_t cp;
    size_t len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < in.size()) {
      cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(in[i + 1]) & 0x3Fu);
      len = 2;
    } else if ((c & 0xF0) == 0xE0 && i + 2 < in.size()) {
      cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(in[i + 1]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(in[i + 2]) & 0x3Fu);
      len = 3;
    } else {
      return false;
    }
    for (size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(in[i + k]) & 0xC0) != 0x80) return false;
    }
    int byte = -1;
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      byte = static_cast<int>(cp);
    } else {
      for (int k = 0; k < 32; ++k) {
        if (kHigh[k] == cp && cp != 0) byte = 0x80 + k;
      }
    }
    if (byte < 0) return false;
    out->push_back(static_cast<char>(byte));
    i += len;
  }
  return true;
}

unsigned char FoldCp1252(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 32);
  if (c == 0x9A || c == 0x9C || c == 0x9E) return static_cast<unsigned char>(c - 16);
  if (c == 0xFF) return 0x9F;
  return c;
}

}  // namespace platform
