// Win32 back-end of platform/path.h: Windows paths go to the API unchanged,
// but for directory names that end in blanks or dots (see MapPath).
#include "platform/path.h"

#include <windows.h>

#include <string>

namespace platform {

// The mapping table only exists for the POSIX back-end.
void AddPathMapping(std::string_view, std::string_view) {}
void ClearPathMappings() {}
std::string MapDirectory(std::string_view, std::string_view native_dir) {
  return std::string(native_dir);
}

namespace {

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

// Windows strips trailing blanks and dots from the last name of a path, but not
// from the directory names before it: "C:\data\doc01 \tarif.dbf" asks for a
// directory "doc01 " that Windows itself never creates (it made "doc01"). Such
// a directory name is matched to the one without its trailing blanks and dots
// when that one exists.
std::string MapPath(std::string_view windows_path) {
  std::string p(windows_path);
  size_t start = 0;
  if (p.size() >= 2 && p[1] == ':') {
    start = 2;
  } else if (p.size() >= 2 && IsSeparator(p[0]) && IsSeparator(p[1])) {
    // \\server\share: both names stay as they are.
    size_t server_end = p.find_first_of("\\/", 2);
    size_t share_end = server_end == std::string::npos ? std::string::npos
                                                       : p.find_first_of("\\/", server_end + 1);
    start = share_end == std::string::npos ? p.size() : share_end;
  }
  for (size_t i = start; i < p.size(); ++i) {
    if (!IsSeparator(p[i])) continue;
    size_t name_begin = start;
    while (name_begin < i && IsSeparator(p[name_begin])) ++name_begin;
    size_t name_end = i;
    while (name_end > name_begin && (p[name_end - 1] == ' ' || p[name_end - 1] == '.')) --name_end;
    std::string name = p.substr(name_begin, i - name_begin);
    bool dots_only = name == "." || name == "..";
    // (Asking whether "doc01 " exists would not tell: the API strips the blank
    // from the last name it is given and answers for "doc01".)
    if (name_end < i && name_end > name_begin && !dots_only && Exists(p.substr(0, name_end))) {
      p.erase(name_end, i - name_end);
      i = name_end;
    }
    start = i + 1;
  }
  return p;
}

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

bool PathFromNative(std::string_view native, std::string* path) {
  *path = std::string(native);
  return true;
}

std::string ExecutablePath() {
  char buffer[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (n == 0 || n > MAX_PATH) return "";
  return std::string(buffer, n);
}

}  // namespace platform
