// Test fixture for the error-reporting module: a fresh ERROR class, default
// settings, a scripted error box, recorded tones and message boxes, a private
// program directory for XQERROR.LOG, and no error block or generator.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "runtime/error_box.h"
#include "runtime/value.h"

namespace errors::testing {

class ErrorEnvTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The program directory (ends with a separator) and the log file in it.
  const std::string& dir() const { return dir_; }
  std::string LogPath() const;
  bool LogExists() const;
  std::string ReadLog() const;

  struct ShownMessage {
    std::string text, caption;
    uint32_t type;
  };

  std::shared_ptr<rt::ScriptedErrorBox> box_;
  std::vector<std::pair<uint32_t, uint32_t>> tones_;
  std::vector<ShownMessage> messages_;

 private:
  std::string dir_;
};

// Reads a whole file as bytes ("" when missing).
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
// A test data file under testdata/errors/.
std::string TestDataPath(const std::string& name);

}  // namespace errors::testing
