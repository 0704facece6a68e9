#include "platform/locale.h"

#include <windows.h>

namespace platform {

uint32_t GetUserDefaultLCID() { return ::GetUserDefaultLCID(); }

int GetLocaleInfoA(uint32_t lcid, uint32_t lctype, char* buffer, int size) {
  return ::GetLocaleInfoA(lcid, lctype, buffer, size);
}

}  // namespace platform
