// errno → Windows error code, for the POSIX back-ends of the platform layer.
// ENOENT needs the path: Windows says 3 (path not found) when a directory on
// the way is missing and 2 when only the file itself is.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

uint32_t OsCodeFromErrno(int error_number);
// Like OsCodeFromErrno, telling 2 from 3 for ENOENT/ENOTDIR by looking at the
// parent directory of native_path.
uint32_t OsCodeFromErrnoForPath(int error_number, const std::string& native_path);

}  // namespace platform
