// Windows-1252 <-> UTF-8 for the Linux side of the platform layer: glibc's
// locale data and the console speak UTF-8, the system's texts are ANSI bytes.
// A character that Windows-1252 lacks becomes "?", except the narrow and thin
// no-break spaces, which become the no-break space (0xA0) as Windows shows them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

std::string Utf8ToCp1252(std::string_view utf8);
std::string Cp1252ToUtf8(std::string_view ansi);

// The pieces both conversions here and the strict ones of the path mapping
// (path_text.h) are made of.
// Code point of a byte; 0 for the five bytes without a character (0x81 0x8D
// 0x8F 0x90 0x9D).
uint32_t Cp1252CodePoint(unsigned char byte);
// The byte of a code point, or -1 when the code page has none.
int Cp1252Byte(uint32_t cp);
// Appends the UTF-8 form of a code point below U+10000.
void AppendUtf8(uint32_t cp, std::string* out);

}  // namespace platform
