#include "platform/posix/path_text.h"

#include <cstdint>

#include "platform/cp1252.h"

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
    uint32_t cp = 0;
    if (!DecodeUtf8(in, &i, &cp)) return false;
    int byte = Cp1252Byte(cp);
    if (byte < 0) return false;
    out->push_back(static_cast<char>(byte));
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
