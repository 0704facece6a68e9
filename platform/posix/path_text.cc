#include "platform/posix/path_text.h"

#include <cstdint>

#include "platform/posix/locale_cp1252.h"

namespace platform {

bool Cp1252ToUtf8(std::string_view in, std::string* out) {
  out->clear();
  for (char ch : in) {
    uint32_t cp = Cp1252CodePoint(static_cast<unsigned char>(ch));
    if (cp == 0 && ch != 0) return false;
    AppendUtf8(cp, out);
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
    int byte = Cp1252Byte(cp);
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
