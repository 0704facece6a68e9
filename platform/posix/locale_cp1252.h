// The texts of glibc's locale data (UTF-8) as Windows-1252, the way Windows
// shows the same values: a character the code page lacks becomes "?", except
// the narrow and thin no-break spaces, which become the no-break space (0xA0).
// The code page itself is platform/cp1252's.
#pragma once

#include <string>
#include <string_view>

#include "platform/cp1252.h"

namespace platform {

std::string LocaleTextToCp1252(std::string_view utf8);

}  // namespace platform
