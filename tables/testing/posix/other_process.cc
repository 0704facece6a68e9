// OtherProcess on POSIX: this test binary again through fork and exec of
// /proc/self/exe (exec, so that it shares none of our open files and locks).
// The signals between the two: tables/testing/other_process.cc.
#include "tables/testing/other_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace tables::dbftest {

bool OtherProcess::Start(const std::string& filter, const std::string& name,
                         const std::string& value) {
  std::string filter_arg = "--gtest_filter=" + filter;
  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    setenv(name.c_str(), value.c_str(), 1);
    execl("/proc/self/exe", "tables_tests", filter_arg.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  handle_ = child;
  return true;
}

int OtherProcess::Wait() {
  if (handle_ == -1) return -1;
  int code = -1;
  int status = 0;
  if (waitpid(static_cast<pid_t>(handle_), &status, 0) == handle_ && WIFEXITED(status)) {
    code = WEXITSTATUS(status);
  }
  handle_ = -1;
  return code;
}

}  // namespace tables::dbftest
