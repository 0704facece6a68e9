// The runtime's low-level file functions (FOpen2, FCreate2, ...), on Windows
// paths. Handles are small integers; -1 is the invalid handle. FError gives the
// Windows error code of the last file operation. One thread only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rt {

constexpr int32_t kInvalidHandle = -1;

// Mode: low bits 0 read, 1 write, 2 read-write; sharing bits 0x10 exclusive,
// 0x20 deny write, 0x30 deny read, 0x40 deny none (0: compatibility = deny none).
int32_t FOpen2(std::string_view path, uint32_t mode);
// Creates (or truncates) the file with the given attributes, opened read-write.
int32_t FCreate2(std::string_view path, uint32_t attributes);
// Origin 0 start, 1 current, 2 end. Returns the new position (-1 on error).
int64_t FSeek3(int32_t handle, int64_t offset, uint32_t origin);
// Writes text followed by CR LF; returns the bytes written.
uint32_t FPutS(int32_t handle, std::string_view text);
// Writes the first len bytes of text (all of it when len is 0) and CR LF.
uint32_t FPutS3(int32_t handle, std::string_view text, uint32_t len);
uint32_t FWrite(int32_t handle, std::string_view data);
std::string FRead(int32_t handle, uint32_t max);
bool FClose(int32_t handle);
uint32_t FError();

}  // namespace rt
