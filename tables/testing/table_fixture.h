// Test helpers of the table-layer tests: the fixture tree, hex for the dumps
// (with Hex and Sha256Hex of tables/tools/digest.h), temporary directories holding
// copies of fixtures.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tables/tools/digest.h"

namespace tables::dbftest {

// PROJECT_TESTDATA_DIR "/tables/fixtures".
std::string FixtureRoot();
// The demo installation: its directory names end in blanks, which Windows
// cannot hold, so Windows builds use the same tables from demo-tree-trim
// (Windows strips the blank from "doc01 \" and so reaches "doc01").
std::string DemoTree();
std::string FromHex(std::string_view hex);
// Paths go through platform::MapPath, as the table service's own do; a file
// that cannot be read or written is a test failure.
std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// A fresh directory under the system temp dir, removed with the object.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  // Copies src (a file, or a directory tree) into the directory under name;
  // returns the copy's path. Copies are writable.
  std::string Copy(const std::string& src, const std::string& name);

 private:
  std::string path_;
};

// While alive: an error block that records every runtime error and answers
// "default" (an Error class with the 28 fields is declared when none exists).
class ErrorCatcher {
 public:
  struct Seen {
    std::string subsystem, operation, description, file_name;
    uint32_t gen_code = 0, os_code = 0;
    bool can_retry = false, can_default = false;
  };
  ErrorCatcher();
  ~ErrorCatcher();
  ErrorCatcher(const ErrorCatcher&) = delete;
  ErrorCatcher& operator=(const ErrorCatcher&) = delete;
  const std::vector<Seen>& errors() const { return *errors_; }
  void clear() { errors_->clear(); }
  // Retries answered "retry" before answering default (retry tests).
  void set_retries(int n) { *retries_ = n; }

 private:
  std::shared_ptr<std::vector<Seen>> errors_;
  std::shared_ptr<int> retries_;
};

// A writable copy of the demo practice doc01 in dir_, errors caught, and the
// lock patience cut to 200 ms: for the tests of what another program's hold
// on a file does to an open.
class PracticeCopyTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  ScratchDir scratch_;
  ErrorCatcher errors_;
  std::string dir_;
};

}  // namespace tables::dbftest
