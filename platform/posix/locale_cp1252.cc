#include "platform/posix/locale_cp1252.h"

#include <cstdint>

namespace platform {

std::string LocaleTextToCp1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp;
    if (!DecodeUtf8(utf8, &i, &cp)) {
      out.push_back('?');
    } else if (cp == 0x202F || cp == 0x2009) {
      out.push_back('\xA0');
    } else {
      out.push_back(UnicodeToCp1252(cp));
    }
  }
  return out;
}

}  // namespace platform
