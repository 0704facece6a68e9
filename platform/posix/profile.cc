// POSIX back-end of platform/profile.h: the reads. The file is read through
// the platform's file layer on every call (so another process's share-mode
// denials and fresh edits are both seen) and parsed by ProfileText; the output
// buffer rules are those of Windows, including its two-NUL end of a cut list.
#include "platform/profile.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/path.h"
#include "platform/posix/profile_io.h"
#include "platform/posix/profile_text.h"

namespace platform {
namespace {

std::string& WindowsDir() {
  static std::string dir = "C:\\windows";
  return dir;
}

// Windows reads a value of up to 65535 characters; longer ones wrap.
std::string_view LengthLimited(std::string_view v) {
  return v.size() > 0xFFFF ? v.substr(0, v.size() % 0x10000) : v;
}

std::string_view Unquoted(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

uint32_t CopyText(std::string_view text, char* buffer, uint32_t size) {
  if (size == 0) return 0;
  size_t n = std::min<size_t>(text.size(), size - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<uint32_t>(n);
}

uint32_t CopyDefault(const char* default_text, char* buffer, uint32_t size) {
  std::string_view d = default_text ? default_text : "";
  // Trailing spaces go (tabs stay); an all-space default keeps one.
  size_t keep = d.find_last_not_of(' ');
  d = keep == std::string_view::npos ? d.substr(0, d.empty() ? 0 : 1) : d.substr(0, keep + 1);
  return CopyText(Unquoted(d), buffer, size);
}

// Names each ended by NUL, then a final NUL. A list that does not fit with
// room to spare is cut at size-2 bytes and ended by two NULs.
template <class Names>
uint32_t CopyList(const Names& names, char* buffer, uint32_t size, bool empty_gets_two_nuls) {
  std::string list;
  for (const auto& n : names) {
    list.append(n.data(), n.size());
    list.push_back('\0');
  }
  if (size == 0) return 0;
  if (list.empty() || size < 3) {
    buffer[0] = '\0';
    if (empty_gets_two_nuls && size >= 2) buffer[1] = '\0';
    return 0;
  }
  if (size >= list.size() + 2) {
    std::memcpy(buffer, list.data(), list.size());
    buffer[list.size()] = '\0';
    return static_cast<uint32_t>(list.size());
  }
  std::memcpy(buffer, list.data(), size - 2);
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

std::string_view SpaceTrimmed(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

bool SetWindowsDirectory(std::string_view windows_path) {
  std::string dir(windows_path);
  while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
  WindowsDir() = dir;
  return true;
}

std::string WindowsDirectory() { return WindowsDir(); }

uint32_t GetWindowsDirectoryA(char* buffer, uint32_t size) {
  const std::string& dir = WindowsDir();
  if (size <= dir.size()) return static_cast<uint32_t>(dir.size() + 1);
  std::memcpy(buffer, dir.c_str(), dir.size() + 1);
  return static_cast<uint32_t>(dir.size());
}

std::string ResolveProfilePath(const char* file) {
  if (file == nullptr) return WindowsDir() + "\\win.ini";
  std::string_view f = file;
  if (f.empty()) return {};
  if (f.find_first_of("\\/") == std::string_view::npos) return WindowsDir() + "\\" + file;
  bool absolute = f.front() == '\\' || f.front() == '/' || (f.size() >= 2 && f[1] == ':');
  if (absolute) return std::string(f);
  std::string cwd = CurrentDirectory();
  if (!cwd.empty() && cwd.back() != '\\') cwd += '\\';
  return cwd + std::string(f);
}

std::optional<std::string> ReadProfileFile(const std::string& windows_path) {
  if (windows_path.empty()) return std::nullopt;
  std::unique_ptr<File> f;
  if (!OpenFile(windows_path, Access::kRead, Share::kDenyNone, Disposition::kOpenExisting, 0, &f)
           .ok()) {
    return std::nullopt;
  }
  return ReadWholeFile(*f);
}

uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* default_text,
                                  char* buffer, uint32_t size, const char* file) {
  if (size == 0) return 0;
  std::optional<std::string> bytes = ReadProfileFile(ResolveProfilePath(file));
  ProfileText text(bytes ? std::move(*bytes) : std::string());
  if (section == nullptr) return CopyList(text.SectionNames(), buffer, size, false);
  std::string_view s = SpaceTrimmed(section);
  if (key == nullptr) {
    std::vector<std::string_view> keys = text.Keys(s);
    if (keys.empty() || size == 2) return CopyDefault(default_text, buffer, size);
    return CopyList(keys, buffer, size, false);
  }
  std::optional<std::string_view> value = text.Find(s, SpaceTrimmed(key));
  if (!value) return CopyDefault(default_text, buffer, size);
  return CopyText(Unquoted(LengthLimited(*value)), buffer, size);
}

uint32_t GetPrivateProfileSectionA(const char* section, char* buffer, uint32_t size,
                                   const char* file) {
  if (size == 0) return 0;
  std::optional<std::string> bytes = ReadProfileFile(ResolveProfilePath(file));
  ProfileText text(bytes ? std::move(*bytes) : std::string());
  std::vector<std::string> lines;
  if (section != nullptr) lines = text.SectionLines(SpaceTrimmed(section));
  return CopyList(lines, buffer, size, true);
}

uint32_t GetPrivateProfileSectionNamesA(char* buffer, uint32_t size, const char* file) {
  return GetPrivateProfileStringA(nullptr, nullptr, nullptr, buffer, size, file);
}

uint32_t GetPrivateProfileIntA(const char* section, const char* key, int32_t default_value,
                               const char* file) {
  // Only what fits a 30-character buffer counts, as on Windows.
  char text[30];
  GetPrivateProfileStringA(section, key, "", text, sizeof text, file);
  if (text[0] == '\0') return static_cast<uint32_t>(default_value);
  return ParseProfileInt(text);
}

uint32_t ParseProfileInt(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  uint32_t base = 10;
  if (i + 1 < s.size() && s[i] == '0') {
    if (s[i + 1] == 'x') base = 16;
    if (s[i + 1] == 'o') base = 8;
    if (s[i + 1] == 'b') base = 2;
    if (base != 10) i += 2;
  }
  uint32_t result = 0;
  for (; i < s.size(); ++i) {
    char c = s[i];
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      break;
    }
    if (digit >= base) break;
    result = result * base + digit;  // wraps modulo 2^32, as Windows does
  }
  return negative ? 0u - result : result;
}

uint32_t GetProfileStringA(const char* section, const char* key, const char* default_text,
                           char* buffer, uint32_t size) {
  return GetPrivateProfileStringA(section, key, default_text, buffer, size, nullptr);
}

uint32_t GetProfileIntA(const char* section, const char* key, int32_t default_value) {
  return GetPrivateProfileIntA(section, key, default_value, nullptr);
}

int32_t WriteProfileStringA(const char* section, const char* key, const char* value) {
  return WritePrivateProfileStringA(section, key, value, nullptr);
}

}  // namespace platform
