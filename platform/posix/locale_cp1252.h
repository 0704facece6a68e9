// Windows-1252 <-> UTF-8 for the Linux side of the platform layer: glibc's
// locale data and the console speak UTF-8, the system's texts are ANSI bytes.
// A character that Windows-1252 lacks becomes "?", except the narrow and thin
// no-break spaces, which become the no-break space (0xA0) as Windows shows them.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string Utf8ToCp1252(std::string_view utf8);
std::string Cp1252ToUtf8(std::string_view ansi);

}  // namespace platform
