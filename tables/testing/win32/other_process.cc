// OtherProcess on Windows: this test binary again through _spawnl, the
// variable put in our own environment for the child to inherit and taken out
// again. The signals between the two: tables/testing/other_process.cc.
#include "tables/testing/other_process.h"

#include <process.h>
#include <stdlib.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/path.h"

namespace tables::dbftest {

bool OtherProcess::Start(const std::string& filter, const std::string& name,
                         const std::string& value) {
  std::string filter_arg = "--gtest_filter=" + filter;
  if (_putenv_s(name.c_str(), value.c_str()) != 0) return false;
  std::string self = platform::ExecutablePath();
  if (self.empty()) return false;
  // Starting a process can fail for a moment on a loaded machine (seen once
  // under Wine with four test suites running): a few tries before giving up,
  // each failure told on standard error.
  intptr_t h = -1;
  for (int attempt = 1; attempt <= 3 && h == -1; ++attempt) {
    if (attempt > 1) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    h = _spawnl(_P_NOWAIT, self.c_str(), "tables_tests", filter_arg.c_str(), nullptr);
    if (h == -1) {
      std::fprintf(stderr, "OtherProcess: starting %s failed (try %d): %s\n", self.c_str(), attempt,
                   std::strerror(errno));
    }
  }
  _putenv_s(name.c_str(), "");
  if (h == -1) return false;
  handle_ = h;
  return true;
}

int OtherProcess::Wait() {
  if (handle_ == -1) return -1;
  int code = -1;
  int status = 0;
  if (_cwait(&status, static_cast<intptr_t>(handle_), 0) != -1) code = status;
  handle_ = -1;
  return code;
}

}  // namespace tables::dbftest
