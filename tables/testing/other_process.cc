// OtherProcess's destructor and the signals between the two processes; how
// the other process is started and waited for: tables/testing/posix/ and
// tables/testing/win32/other_process.cc.
#include "tables/testing/other_process.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace tables::dbftest {

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
