// The Windows profile (INI) functions and the Windows directory.
//
// Same names, arguments and results as the kernel's ANSI functions. Windows
// builds pass straight through to them. Linux has its own implementation with
// the Windows rules: the file is read afresh on every call (nothing cached), a
// write changes only the lines it must (every other byte kept) and replaces the
// file atomically (temporary file beside it, flushed, renamed over it). File
// names are Windows paths: NULL means WIN.INI, a bare name is looked up in the
// Windows directory, anything else is taken from the current directory.
// One thread only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Results as the kernel gives them: DWORD/UINT as uint32_t, BOOL as int32_t.
uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* default_text,
                                  char* buffer, uint32_t size, const char* file);
int32_t WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                   const char* file);
uint32_t GetPrivateProfileIntA(const char* section, const char* key, int32_t default_value,
                               const char* file);
// "key=value" lines of one section, each ended by NUL, the list by a second NUL.
uint32_t GetPrivateProfileSectionA(const char* section, char* buffer, uint32_t size,
                                   const char* file);
uint32_t GetPrivateProfileSectionNamesA(char* buffer, uint32_t size, const char* file);

// The same on WIN.INI in the Windows directory.
uint32_t GetProfileStringA(const char* section, const char* key, const char* default_text,
                           char* buffer, uint32_t size);
int32_t WriteProfileStringA(const char* section, const char* key, const char* value);
uint32_t GetProfileIntA(const char* section, const char* key, int32_t default_value);

// What stands in the way of WritePrivateProfileStringA on `file` now, found
// without writing it: 0 when nothing does, else the Windows code of the first
// obstacle (3 the directory is missing, 5 the name is a directory or a
// read-only file, or the directory takes no new file, 32 another opener denies
// writing). The directory is tried the way the write uses it: a file is made
// there and removed again.
uint32_t ProfileWriteObstacle(const char* file);

// Copies the Windows directory (no trailing backslash) and returns its length;
// when size is too small, returns the size needed and leaves buffer alone.
uint32_t GetWindowsDirectoryA(char* buffer, uint32_t size);

// Linux only: the Windows path that stands for the Windows directory (default
// "C:\windows"; map the drive with AddPathMapping). On Windows it cannot be
// changed and this returns false.
bool SetWindowsDirectory(std::string_view windows_path);
std::string WindowsDirectory();

}  // namespace platform
