// The other program of a two-process test: this test binary started again,
// fresh (not a fork, which would share our open files and so our locks), with
// a gtest filter and one environment variable; and one-shot signals between
// the two as files in a directory both see.
#pragma once

#include <string>

namespace tables::dbftest {

class OtherProcess {
 public:
  OtherProcess() = default;
  OtherProcess(const OtherProcess&) = delete;
  OtherProcess& operator=(const OtherProcess&) = delete;
  ~OtherProcess();
  // Starts this test binary running only the tests matching filter, with
  // the variable name=value in its environment.
  bool Start(const std::string& filter, const std::string& name, const std::string& value);
  // Waits for the program to end; its exit code, or -1 when it did not start
  // or ended abnormally.
  int Wait();

 private:
  long long handle_ = -1;
};

// Creates the file dir/name.
bool Signal(const std::string& dir, const std::string& name);
// Waits until dir/name exists, for at most a minute.
bool AwaitSignal(const std::string& dir, const std::string& name);

}  // namespace tables::dbftest
