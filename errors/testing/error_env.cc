#include "errors/testing/error_env.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "errors/call_stack.h"
#include "errors/error_object.h"
#include "errors/international.h"
#include "platform/dialogs.h"
#include "runtime/error.h"
#include "runtime/program.h"
#include "runtime/settings.h"
#include "testing/scratch_dir.h"

namespace errors::testing {

namespace fs = std::filesystem;

void ErrorEnvTest::SetUp() {
  rt::ResetSettings();
  DeclareErrorClass();
  InitCallStackSettings();
  rt::ErrorBlock(rt::Value());
  rt::ErrorFunc(nullptr);
  rt::NetErr(false);
  rt::ErrorLevel(0);
  SetLocaleSource(nullptr);
  box_ = std::make_shared<rt::ScriptedErrorBox>(1);
  rt::SetErrorBoxFrontEnd(box_);
  platform::SetBeepHook([this](uint32_t f, uint32_t d) { tones_.emplace_back(f, d); });
  platform::SetMessageBoxHook(
      [this](std::string_view text, std::string_view caption, uint32_t type) {
        messages_.push_back({std::string(text), std::string(caption), type});
        return platform::kIdOk;
      });
  dir_ = testsupport::MakeScratchDir("errors_test");
  EXPECT_FALSE(dir_.empty());
  dir_.push_back(static_cast<char>(fs::path::preferred_separator));
  rt::SetWorkDir(dir_);
  rt::SetExecName("C:\\XQ\\TARIF2017.EXE");
}

void ErrorEnvTest::TearDown() {
  rt::ErrorBlock(rt::Value());
  rt::ErrorFunc(nullptr);
  rt::SetErrorBoxFrontEnd(nullptr);
  platform::SetBeepHook(nullptr);
  platform::SetMessageBoxHook(nullptr);
  SetLocaleSource(nullptr);
  rt::SetWorkDir("");
  rt::SetExecName("");
  rt::ResetSettings();
  std::error_code ec;
  fs::remove_all(fs::path(dir_), ec);
}

std::string ErrorEnvTest::LogPath() const { return dir_ + "XQERROR.LOG"; }

bool ErrorEnvTest::LogExists() const { return fs::exists(fs::path(LogPath())); }

std::string ErrorEnvTest::ReadLog() const { return ReadBytes(LogPath()); }

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string TestDataPath(const std::string& name) {
  return std::string(PROJECT_TESTDATA_DIR) + "/errors/" + name;
}

}  // namespace errors::testing
