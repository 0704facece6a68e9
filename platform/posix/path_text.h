// Windows-1252 ⇄ UTF-8 for file names, and the case folding the Windows file
// system applies to names of that code page. Used by the POSIX path mapping.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// False when a byte has no character (0x81 0x8D 0x8F 0x90 0x9D).
bool Cp1252ToUtf8(std::string_view in, std::string* out);
// False when the text is not UTF-8 of Windows-1252 characters.
bool Utf8ToCp1252(std::string_view in, std::string* out);
// Lower-case letters (ASCII and Latin-1 range, plus š œ ž ÿ) to upper case.
unsigned char FoldCp1252(unsigned char c);

}  // namespace platform
