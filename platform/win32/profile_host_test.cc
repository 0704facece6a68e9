// The host of the profile conformance suite: Windows, or Wine, which exports
// wine_get_version from its ntdll.
#include <windows.h>

namespace platform {

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace platform
