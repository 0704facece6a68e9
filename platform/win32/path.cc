// Win32 back-end of platform/path.h: Windows paths go to the API unchanged.
#include <windows.h>

#include <string>

#include "platform/path.h"

namespace platform {

// The mapping table only exists for the POSIX back-end.
void AddPathMapping(std::string_view, std::string_view) {}
void ClearPathMappings() {}

std::string MapPath(std::string_view windows_path) { return std::string(windows_path); }

std::string CurrentDirectory() {
  char buffer[MAX_PATH + 1];
  DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
  if (n == 0 || n > MAX_PATH) return "";
  std::string dir(buffer, n);
  if (dir.size() > 3 && dir.back() == '\\') dir.pop_back();
  return dir;
}

bool SetCurrentDirectory(std::string_view windows_path) {
  std::string p(windows_path);
  return SetCurrentDirectoryA(p.c_str()) != 0;
}

std::string ExecutablePath() {
  char buffer[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (n == 0 || n > MAX_PATH) return "";
  return std::string(buffer, n);
}

}  // namespace platform
