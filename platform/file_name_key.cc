#include "platform/file_name_key.h"

namespace platform {

std::string FileNameKey(std::string absolute_name) {
#ifdef _WIN32
  for (char& c : absolute_name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c == '/') c = '\\';
  }
#endif
  return absolute_name;
}

}  // namespace platform
