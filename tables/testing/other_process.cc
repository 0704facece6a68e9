#include "tables/testing/other_process.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#ifdef _WIN32
#include <process.h>
#include <stdlib.h>

#include "platform/path.h"
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tables::dbftest {

bool OtherProcess::Start(const std::string& filter, const std::string& name,
                         const std::string& value) {
  std::string filter_arg = "--gtest_filter=" + filter;
#ifdef _WIN32
  if (_putenv_s(name.c_str(), value.c_str()) != 0) return false;
  std::string self = platform::ExecutablePath();
  if (self.empty()) return false;
  intptr_t h = _spawnl(_P_NOWAIT, self.c_str(), "tables_tests", filter_arg.c_str(), nullptr);
  _putenv_s(name.c_str(), "");
  if (h == -1) return false;
  handle_ = h;
#else
  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    setenv(name.c_str(), value.c_str(), 1);
    execl("/proc/self/exe", "tables_tests", filter_arg.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  handle_ = child;
#endif
  return true;
}

int OtherProcess::Wait() {
  if (handle_ == -1) return -1;
  int code = -1;
#ifdef _WIN32
  int status = 0;
  if (_cwait(&status, static_cast<intptr_t>(handle_), 0) != -1) code = status;
#else
  int status = 0;
  if (waitpid(static_cast<pid_t>(handle_), &status, 0) == handle_ && WIFEXITED(status)) {
    code = WEXITSTATUS(status);
  }
#endif
  handle_ = -1;
  return code;
}

OtherProcess::~OtherProcess() { Wait(); }

bool Signal(const std::string& dir, const std::string& name) {
  std::ofstream out(std::filesystem::path(dir) / name);
  out << name;
  return out.good();
}

bool AwaitSignal(const std::string& dir, const std::string& name) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!std::filesystem::exists(std::filesystem::path(dir) / name)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace tables::dbftest
