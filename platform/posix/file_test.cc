// POSIX-only: locks and share modes must hold between processes too.
#include "platform/file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace platform {
namespace {

TEST(PosixFileTest, LocksAndShareModesConflictAcrossProcesses) {
  std::string path =
      (std::filesystem::temp_directory_path() / ("xproc_" + std::to_string(getpid()) + ".dbf"))
          .string();
  std::unique_ptr<File> f;
  ASSERT_TRUE(
      OpenFile(path, Access::kReadWrite, Share::kDenyNone, Disposition::kCreateAlways, 0, &f).ok());
  ASSERT_TRUE(f->Lock(1000000001, 1, LockKind::kExclusive, false).ok());
  std::unique_ptr<File> excl;
  pid_t child = fork();
  if (child == 0) {
    std::unique_ptr<File> g;
    int code = 0;
    if (!OpenFile(path, Access::kReadWrite, Share::kDenyNone, Disposition::kOpenExisting, 0, &g)
             .ok()) {
      _exit(10);
    }
    if (g->Lock(1000000001, 1, LockKind::kExclusive, false).code() != kErrorLockViolation)
      code |= 1;
    if (!g->Lock(1000000002, 1, LockKind::kExclusive, false).ok()) code |= 2;
    std::unique_ptr<File> h;
    if (OpenFile(path, Access::kRead, Share::kExclusive, Disposition::kOpenExisting, 0, &h)
            .code() != kErrorSharingViolation) {
      code |= 4;
    }
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  f.reset();
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace platform
