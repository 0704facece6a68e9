// Windows paths inside the system, native paths only here.
//
// The system builds Windows paths by plain concatenation ("C:\x\" + "data\comm\").
// On Windows they go to the API unchanged. On Linux MapPath turns them into a
// native path: backslashes become slashes; a drive letter or UNC prefix is looked
// up in a mapping table (AddPathMapping); a path that already starts with "/" is
// native. Each component that does not exist with the exact spelling is matched
// as the Windows file system would: without regard to case, and ignoring the
// trailing blanks and dots that Windows strips from names. Not thread-safe: the
// mapping table is set up at start-up, on the one GUI thread.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// prefix: "X:" (any case) or "\\server\share"; native_dir: an absolute native
// directory. A later mapping of the same prefix replaces the earlier one.
void AddPathMapping(std::string_view prefix, std::string_view native_dir);
void ClearPathMappings();
// Maps prefix to native_dir and answers the Windows path that now reaches
// native_dir: prefix on Linux; on Windows, which has no mapping table, the
// directory itself.
std::string MapDirectory(std::string_view prefix, std::string_view native_dir);

// The native path for a Windows path (identity on Windows). Components that do
// not exist are kept as given (with backslashes turned into separators), so a
// file about to be created maps to the name it will have.
std::string MapPath(std::string_view windows_path);

// The current directory as a Windows path without trailing separator
// ("C:\work", "C:\" at a drive root). On Linux a native directory is shown
// through the first mapping whose native directory contains it, else as
// "Z:" + the native path with backslashes, as Wine shows it.
std::string CurrentDirectory();
bool SetCurrentDirectory(std::string_view windows_path);

// The system's form of a path that the OS gave in its own encoding (a command-
// line argument, a name read from the file system). On Linux the UTF-8 name
// becomes Windows-1252, and MapPath leads the result back to the same native
// name; on Windows (ANSI already) it is returned unchanged. False, *path
// untouched, when a character has no Windows-1252 byte.
bool PathFromNative(std::string_view native, std::string* path);

// Full path of the running executable, as a Windows path on Windows and as a
// native path on Linux.
std::string ExecutablePath();

}  // namespace platform
