// Result of an index operation below the runtime: OK, or a general error code
// in the runtime's numbering (32 corruption, 30 unsupported, 36 no order, 41
// lock, 23 read, 24 write, 33 data type) with a text that names the file, the
// tag and the page. The table turns a failure into an rt::ErrorInfo with
// SubSystem "DBFCDX". Cheap to copy; the OK status holds no text.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace tables {

class IndexStatus {
 public:
  enum Code : uint32_t {
    kOk = 0,
    kArgument = 1,
    kRead = 23,
    kWrite = 24,
    kUnsupported = 30,
    kCorruption = 32,
    kDataType = 33,
    kNoOrder = 36,
    kLock = 41,
  };

  IndexStatus() = default;
  static IndexStatus Ok() { return IndexStatus(); }
  static IndexStatus Corruption(std::string text) { return IndexStatus(kCorruption, std::move(text)); }
  static IndexStatus Unsupported(std::string text) { return IndexStatus(kUnsupported, std::move(text)); }
  static IndexStatus DataType(std::string text) { return IndexStatus(kDataType, std::move(text)); }
  static IndexStatus Argument(std::string text) { return IndexStatus(kArgument, std::move(text)); }
  static IndexStatus Io(Code code, std::string text, uint32_t os_code) {
    IndexStatus s(code, std::move(text));
    s.os_code_ = os_code;
    return s;
  }

  bool ok() const { return code_ == kOk; }
  Code code() const { return code_; }
  uint32_t os_code() const { return os_code_; }
  const std::string& text() const { return text_; }
  // Retrying makes sense for lock conflicts and sharing violations only.
  bool can_retry() const { return code_ == kLock || os_code_ == 32 || os_code_ == 33; }

 private:
  IndexStatus(Code code, std::string text) : code_(code), text_(std::move(text)) {}
  Code code_ = kOk;
  uint32_t os_code_ = 0;
  std::string text_;
};

// Returns from the calling function when the expression gives a failure.
#define INDEX_RETURN_IF_ERROR(expr)              \
  do {                                           \
    ::tables::IndexStatus status_ = (expr);      \
    if (!status_.ok()) return status_;           \
  } while (0)

}  // namespace tables
