// Windows back-end of platform/profile.h: the kernel's own functions.
#include "platform/profile.h"

#include <windows.h>

#include <string>

#include "platform/path.h"

namespace platform {
namespace {

// The file name with directory names ending in blanks matched as the file
// functions match them (MapPath); a null name stays null.
class Mapped {
 public:
  explicit Mapped(const char* file) : null_(file == nullptr), path_(file ? MapPath(file) : "") {}
  const char* get() const { return null_ ? nullptr : path_.c_str(); }

 private:
  bool null_;
  std::string path_;
};

}  // namespace

uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* default_text,
                                  char* buffer, uint32_t size, const char* file) {
  return ::GetPrivateProfileStringA(section, key, default_text, buffer, size, Mapped(file).get());
}

int32_t WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                   const char* file) {
  return ::WritePrivateProfileStringA(section, key, value, Mapped(file).get());
}

uint32_t GetPrivateProfileIntA(const char* section, const char* key, int32_t default_value,
                               const char* file) {
  return ::GetPrivateProfileIntA(section, key, default_value, Mapped(file).get());
}

uint32_t GetPrivateProfileSectionA(const char* section, char* buffer, uint32_t size,
                                   const char* file) {
  return ::GetPrivateProfileSectionA(section, buffer, size, Mapped(file).get());
}

uint32_t GetPrivateProfileSectionNamesA(char* buffer, uint32_t size, const char* file) {
  return ::GetPrivateProfileSectionNamesA(buffer, size, Mapped(file).get());
}

uint32_t GetProfileStringA(const char* section, const char* key, const char* default_text,
                           char* buffer, uint32_t size) {
  return ::GetProfileStringA(section, key, default_text, buffer, size);
}

int32_t WriteProfileStringA(const char* section, const char* key, const char* value) {
  return ::WriteProfileStringA(section, key, value);
}

uint32_t GetProfileIntA(const char* section, const char* key, int32_t default_value) {
  return ::GetProfileIntA(section, key, default_value);
}

uint32_t ProfileWriteObstacle(const char* file) {
  if (file == nullptr || *file == 0) return ERROR_PATH_NOT_FOUND;
  std::string path = MapPath(file);
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
      return ERROR_ACCESS_DENIED;
    }
    // The kernel rewrites the file in place: opening it for writing is the test.
    HANDLE h =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(h);
    return 0;
  }
  // A new file: its directory must take one.
  size_t sep = path.find_last_of("\\/");
  std::string dir = sep == std::string::npos ? "." : path.substr(0, sep + 1);
  std::string probe = dir + "~prof" + std::to_string(GetCurrentProcessId()) + ".tmp";
  HANDLE h = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(h);
  return 0;
}

uint32_t GetWindowsDirectoryA(char* buffer, uint32_t size) {
  return ::GetWindowsDirectoryA(buffer, size);
}

bool SetWindowsDirectory(std::string_view) { return false; }

std::string WindowsDirectory() {
  char buffer[MAX_PATH + 1];
  uint32_t n = ::GetWindowsDirectoryA(buffer, sizeof buffer);
  return n < sizeof buffer ? std::string(buffer, n) : std::string();
}

}  // namespace platform
