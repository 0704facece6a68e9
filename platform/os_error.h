// Windows system error codes, the common currency of every platform call.
// Both back-ends report failures with these numbers (the POSIX one maps errno),
// so the runtime and the table service can put them into Error:OsCode as is.
#pragma once

#include <cstdint>

namespace platform {

constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorTooManyOpenFiles = 4;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorWriteFault = 29;
constexpr uint32_t kErrorReadFault = 30;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorLockViolation = 33;
constexpr uint32_t kErrorHandleEof = 38;
constexpr uint32_t kErrorHandleDiskFull = 39;
constexpr uint32_t kErrorFileExists = 80;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorNotLocked = 158;  // unlocking a range this File did not lock
constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kErrorNegativeSeek = 131;
constexpr uint32_t kErrorDirNotEmpty = 145;
constexpr uint32_t kErrorAlreadyExists = 183;

// Result of a platform call: 0 or the Windows error code.
class OsStatus {
 public:
  constexpr OsStatus() = default;
  constexpr explicit OsStatus(uint32_t code) : code_(code) {}
  static constexpr OsStatus Ok() { return OsStatus(); }
  constexpr bool ok() const { return code_ == 0; }
  constexpr uint32_t code() const { return code_; }

 private:
  uint32_t code_ = 0;
};

}  // namespace platform
