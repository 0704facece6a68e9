// Result of a table-service operation below the runtime: OK, or a general
// error code in the runtime's numbering (21 open, 23 read, 24 write, 32
// corruption, 33 data type, 34 data width, 38 lock required, 40 append lock,
// 41 lock, 30 unsupported, 39 read-only) with the Windows OS code, the file and
// a text. DBServer turns a failure into an rt::ErrorInfo with SubSystem
// "DBFCDX". Cheap to copy; OK carries no text.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "tables/dbf/index_status.h"

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
  // An index failure, in table terms.
  static Status FromIndex(const IndexStatus& s, std::string file = {});

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

#define TABLE_RETURN_IF_ERROR(expr)         \
  do {                                      \
    ::tables::Status status_ = (expr);      \
    if (!status_.ok()) return status_;      \
  } while (0)

}  // namespace tables
