// What the update's safety tests share (POSIX): an installation's tables and
// markers as one comparable text, the console runner started as a process,
// and the fixture that starts the program's runtime once.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace tariff::testing {

// The directory of the running test program, where the runner is built too.
std::filesystem::path BinDir();

// Every table below root (each record: deletion flag and fields) and every
// practice Velmora.ini, as one text, so two states compare with a readable diff.
std::string DiskState(const std::string& root);

// "" when a == b, else the first line where they part, from both.
std::string FirstDifference(const std::string& a, const std::string& b);

// The runner's standard output and exit status (-1 when it did not exit).
struct Outcome {
  std::string out;
  int status = -1;
};
// Starts tarif2017 with args (shell words) without waiting for it.
FILE* StartRunner(const std::string& args);
// Waits for a runner StartRunner started; its output and status.
Outcome Finish(FILE* p);
Outcome RunRunner(const std::string& args);

// Starts the runtime once; skips when the runner was not built.
class UpdateSafety : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;
};

}  // namespace tariff::testing
