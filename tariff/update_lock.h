// The update lock of one practice: while a step of the update changes a
// practice, it holds a byte-range lock on "tarif2017.lck" in the practice
// directory, so that two runs at once (two workstations, a double click) take
// turns instead of both appending. Only this program takes that lock; the file
// is created when missing and never deleted. A run that cannot get the lock
// within the patience leaves the practice alone.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/file.h"
#include "tariff/tariff.h"

namespace tariff {

inline constexpr char kUpdateLockFile[] = "tarif2017.lck";

class UpdateLock {
 public:
  enum class Result { kHeld, kBusy, kCannotOpen };
  // Opens practice_dir + "tarif2017.lck" and waits for the lock.
  explicit UpdateLock(const std::string& practice_dir);
  UpdateLock(const UpdateLock&) = delete;
  UpdateLock& operator=(const UpdateLock&) = delete;
  Result result() const { return result_; }
  // The Windows code of a failed open, for kCannotOpen.
  uint32_t os_code() const { return os_code_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::unique_ptr<platform::File> file_;  // the lock goes with it
  Result result_ = Result::kCannotOpen;
  uint32_t os_code_ = 0;
};

}  // namespace tariff
