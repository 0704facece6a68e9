#include "tariff/update_lock.h"

#include <utility>

namespace tariff {
namespace {

std::chrono::milliseconds& Patience() {
  static std::chrono::milliseconds patience = platform::kLockPatience;
  return patience;
}

}  // namespace

std::chrono::milliseconds SetUpdateLockPatience(std::chrono::milliseconds patience) {
  return std::exchange(Patience(), patience);
}

UpdateLock::UpdateLock(const std::string& practice_dir) : path_(practice_dir + kUpdateLockFile) {
  platform::OsStatus open =
      platform::OpenFile(path_, platform::Access::kReadWrite, platform::Share::kDenyNone,
                         platform::Disposition::kOpenAlways, 0x80, &file_);
  if (!open.ok()) {
    os_code_ = open.code();
    result_ = Result::kCannotOpen;
    return;
  }
  platform::OsStatus lock =
      platform::LockWithin(file_.get(), 0, 1, platform::LockKind::kExclusive, Patience());
  if (lock.ok()) {
    result_ = Result::kHeld;
  } else if (lock.code() == platform::kErrorLockViolation) {
    result_ = Result::kBusy;
  } else {
    os_code_ = lock.code();
    result_ = Result::kCannotOpen;
  }
}

}  // namespace tariff
