// Helpers shared by the read and write halves of the POSIX profile functions:
// where a profile file name points, reading it whole, and the integer rule of
// GetPrivateProfileIntA. Internal to platform/posix.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace platform {

// The Windows path a profile call addresses: NULL is WIN.INI, a bare name lies
// in the Windows directory, a relative path in the current directory. "" for
// the empty name, which addresses nothing.
std::string ResolveProfilePath(const char* file);
// The whole file, or nothing when it cannot be opened or read.
std::optional<std::string> ReadProfileFile(const std::string& windows_path);
std::optional<std::string> ReadWholeFile(File& file);
// Leading blanks, one sign, a lower-case 0x/0o/0b prefix, digits up to the
// first character that is not one; modulo 2^32; no digits gives 0.
uint32_t ParseProfileInt(std::string_view text);

}  // namespace platform
