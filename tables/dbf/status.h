// Result of an operation of the table service below the runtime (tables, memo
// files, expressions, indexes, journal): OK, or a general error code in the
// runtime's numbering (21 open, 23 read, 24 write, 32 corruption, 33 data
// type, 34 data width, 36 no order, 38 lock required, 40 append lock, 41 lock,
// 30 unsupported, 39 read-only) with the Windows OS code, the file and a text
// that names what failed (for an index: the tag and the page). DBServer turns a
// failure into an rt::ErrorInfo with SubSystem "DBFCDX" in one place
// (MakeErrorInfo). Cheap to copy; OK carries no text.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace tables {

class Status {
 public:
  enum Code : uint32_t {
    kOk = 0,
    kArgument = 1,
    kNoVar = 14,
    kOpen = 21,
    kRead = 23,
    kWrite = 24,
    kUnsupported = 30,
    kCorruption = 32,
    kDataType = 33,
    kDataWidth = 34,
    kNoOrder = 36,
    kLockRequired = 38,
    kReadOnly = 39,
    kAppendLock = 40,
    kLock = 41,
  };

  Status() = default;
  Status(Code code, std::string text, uint32_t os_code = 0, std::string file = {})
      : code_(code), os_code_(os_code), text_(std::move(text)), file_(std::move(file)) {}
  static Status Ok() { return Status(); }
  static Status Corruption(std::string text, std::string file = {}) {
    return Status(kCorruption, std::move(text), 0, std::move(file));
  }
  static Status Unsupported(std::string text, std::string file = {}) {
    return Status(kUnsupported, std::move(text), 0, std::move(file));
  }
  static Status DataType(std::string text, std::string file = {}) {
    return Status(kDataType, std::move(text), 0, std::move(file));
  }
  static Status Argument(std::string text, std::string file = {}) {
    return Status(kArgument, std::move(text), 0, std::move(file));
  }
  // A failed read, write or lock (code) with the Windows OS code.
  static Status Io(Code code, std::string text, uint32_t os_code, std::string file = {}) {
    return Status(code, std::move(text), os_code, std::move(file));
  }
  // The same failure in file (an index's failures name the file this way); OK stays OK.
  Status WithFile(std::string file) const {
    if (ok()) return *this;
    return Status(code_, text_, os_code_, std::move(file));
  }

  bool ok() const { return code_ == kOk; }
  Code code() const { return code_; }
  uint32_t os_code() const { return os_code_; }
  const std::string& text() const { return text_; }
  const std::string& file() const { return file_; }
  // Lock conflicts and sharing violations may go away when tried again.
  bool can_retry() const {
    return code_ == kLock || code_ == kAppendLock || code_ == kLockRequired || os_code_ == 32 ||
           os_code_ == 33;
  }

 private:
  Code code_ = kOk;
  uint32_t os_code_ = 0;
  std::string text_;
  std::string file_;
};

// Returns from the calling function when the expression gives a failure.
#define TABLE_RETURN_IF_ERROR(expr)    \
  do {                                 \
    ::tables::Status status_ = (expr); \
    if (!status_.ok()) return status_; \
  } while (0)

}  // namespace tables
