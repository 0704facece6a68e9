// Windows-1252 <-> Unicode (UTF-8 and UTF-16 code units): the one table of
// the code page's high half and the one UTF-8 codec of the system. Pure
// functions, the same on every build.
//
// Windows converts the five bytes the code page leaves without a character
// (0x81 0x8D 0x8F 0x90 0x9D) to the C1 control of the same number, and back,
// so every byte survives a round trip; the strict pieces below refuse them
// instead, for callers (file names) that must not invent characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The UTF-16 code unit of a byte, as Windows converts it (C1 controls for
// the five undefined bytes).
char16_t Cp1252ToUnicode(unsigned char byte);
// The byte of a code point, as Windows converts it back; '?' when the code
// page has no such character.
char UnicodeToCp1252(uint32_t cp);

// Strict pieces: the code point of a byte, 0 for the five undefined bytes;
// the byte of a code point, -1 when the code page has none (the C1 controls
// of the undefined bytes included).
uint32_t Cp1252CodePoint(unsigned char byte);
int Cp1252Byte(uint32_t cp);

// Appends the UTF-8 form of a Unicode scalar value (up to U+10FFFF).
void AppendUtf8(uint32_t cp, std::string* out);
// Decodes the UTF-8 sequence at s[*i] (*i < s.size()) and moves *i past it.
// Malformed input (bad lead or continuation byte, cut short, overlong form,
// surrogate, beyond U+10FFFF) moves *i one byte on and gives false.
bool DecodeUtf8(std::string_view s, size_t* i, uint32_t* cp);

// How Cp1252ToUtf8 writes the five undefined bytes.
enum class UndefinedBytes {
  kAsControls,     // the C1 controls, as Windows does: lossless
  kAsReplacement,  // U+FFFD: for a terminal, which may act on C1 controls
};
std::string Cp1252ToUtf8(std::string_view ansi,
                         UndefinedBytes undefined = UndefinedBytes::kAsControls);
// One '?' for each character the code page lacks and for each byte of
// malformed input.
std::string Utf8ToCp1252(std::string_view utf8);

}  // namespace platform
