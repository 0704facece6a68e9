// A runtime error of a real run, end to end: the program started as the
// entry point starts it, its main dialog shown by App:Start, OK clicked, and a
// practice whose coefficient table is missing. The error box text and the
// whole XQERROR.LOG block are compared byte for byte with a golden file; only
// what changes from run to run is masked: the date and time, the program's
// path, the installation's directory and the source line numbers of the
// call stack.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <string>

#include "apps/program/program.h"
#include "apps/program/testing/install.h"
#include "apps/program/testing/program_fixture.h"
#include "platform/exceptions.h"
#include "runtime/convert.h"
#include "runtime/error_box.h"
#include "runtime/object.h"
#include "runtime/os_exception.h"
#include "runtime/program.h"
#include "runtime/settings.h"
#include "shell/shell.h"

#if defined(_WIN32)
#include <windows.h>

#include "platform/message_queue.h"
#endif

namespace tariff {
namespace {

namespace fs = std::filesystem;
using testing::Installation;
using testing::ReadFile;

#if defined(_WIN32)
BOOL CALLBACK MatchMainDialog(HWND window, LPARAM found) {
  char caption[64] = {};
  GetWindowTextA(window, caption, static_cast<int>(sizeof caption));
  if (std::string(caption) != "Modification Tarifs 2017") return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// The main dialog of this test's own thread: ctest runs the other test programs
// beside this one, on the same desktop, with dialogs of the same caption.
HWND OwnMainDialog() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), &MatchMainDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}
#endif

// Starts the program's dialog, clicks OK, and once the update has returned
// clicks "Fermer".
void RunTheDialog() {
#if defined(_WIN32)
  // A window of our own, served by the dialog's modal loop: the first message
  // finds the dialog and clicks OK; the second one, which the update's pump
  // leaves alone (it serves the dialog only), comes after the update.
  HWND dialog = nullptr;
  platform::WindowHandle probe = platform::CreateProcWindow(
      nullptr, [&](platform::WindowHandle self, uint32_t m, uintptr_t, intptr_t) -> intptr_t {
        if (m == WM_APP) {
          dialog = OwnMainDialog();
          if (!dialog) return 0;
          PostMessageA(GetDlgItem(dialog, IDC_OKBUTTON), BM_CLICK, 0, 0);
          PostMessageA(static_cast<HWND>(self), WM_APP + 1, 0, 0);
        } else if (m == WM_APP + 1 && dialog) {
          PostMessageA(GetDlgItem(dialog, IDC_CANCELBUTTON), BM_CLICK, 0, 0);
        }
        return 0;
      });
  PostMessageA(static_cast<HWND>(probe), WM_APP, 0, 0);
  rt::Send(rt::CreateInstance(rt::String2Symbol("App")), "Start");
  platform::DestroyProcWindow(probe);
  ASSERT_NE(dialog, nullptr);
#else
  bool ended = false;
  shell::RunUnattended([&](const rt::Value&) { ended = true; });
  EXPECT_TRUE(ended);
#endif
}

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
    s.replace(at, from.size(), to);
  }
}

// The value after `label` up to the end of its line ("" when absent).
std::string LineValue(const std::string& text, const std::string& label) {
  size_t at = text.find("\r\n" + label);
  if (at == std::string::npos) return "";
  at += 2 + label.size();
  return text.substr(at, text.find("\r\n", at) - at);
}

// Masks what changes from run to run, after checking what it can of it.
std::string Masked(std::string text, const Installation& inst, const std::string& file_name) {
  const std::string today = rt::DToC(rt::Today()) + " ";
  if (size_t at = text.find("\r\n" + today); at != std::string::npos) {
    at += 2;
    size_t end = text.find("\r\n", at);
    EXPECT_EQ(end - at, today.size() + rt::Time().size());
    text.replace(at, end - at, "<DATE> <TIME>");
  }
  ReplaceAll(text, "Application: " + rt::ExecName() + "\r\n", "Application: <PROGRAM>\r\n");
  // The box names the file by its first 40 characters, which depend on where
  // the installation was copied.
  ReplaceAll(text, "\r\nFilename: " + file_name.substr(0, 40) + "\r\n",
             "\r\nFilename: <FIRST 40 OF FILENAME>\r\n");
  ReplaceAll(text, inst.root(), "<ROOT>");
  static const std::regex line_number(R"(\(Line:([0-9]+)\))");
  std::smatch m;
  for (std::string rest = text; std::regex_search(rest, m, line_number); rest = m.suffix()) {
    EXPECT_NE(m[1].str(), "0") << "a frame without a line";
  }
  return std::regex_replace(text, line_number, "(Line:<N>)");
}

class ErrorReportRun : public testing::ProgramFixture {
 protected:
  void SetUp() override {
    ProgramFixture::SetUp();
    rt::SetErrorLog(true);
  }
};

TEST_F(ErrorReportRun, MissingPracticeTableBoxAndLogBlockByteForByte) {
  // The demo installation as Windows stores it: no directory name ends in a
  // blank (the practice codes in doc.dbf still do; opening trims them).
  Installation inst("demo-tree-trim");
  ASSERT_TRUE(fs::remove(inst.data("doc01/tarif.dbf")));
  rt::SetWorkDir(inst.prog());
  RunTheDialog();

  ASSERT_FALSE(box_->shown().empty());
  const rt::ScriptedErrorBox::Shown& shown = box_->shown()[0];
  const std::string log = ReadFile(inst.prog() + "XQERROR.LOG");
  const std::string file_name = LineValue(log, "FileName        :");
  EXPECT_EQ(file_name.rfind(inst.root(), 0), 0u) << file_name;
  // The first block of the log: the log holds one block per box.
  const std::string rule = "\r\n--------------------\r\n";
  size_t first_end = log.find(rule, log.find(rule) + rule.size());
  ASSERT_NE(first_end, std::string::npos) << log;
  const std::string block = log.substr(0, first_end + rule.size());

  EXPECT_EQ(shown.caption, "ERROR");
  EXPECT_EQ(shown.def, 1u);
  EXPECT_EQ(shown.quit, 0x80000000u);
  const std::string golden_box =
      ReadFile(std::string(PROJECT_TESTDATA_DIR) + "/errors/run_missing_table_box.txt");
  const std::string golden_log =
      ReadFile(std::string(PROJECT_TESTDATA_DIR) + "/errors/run_missing_table_log.txt");
  EXPECT_EQ(Masked("\r\n" + shown.text, inst, file_name), "\r\n" + golden_box);
  EXPECT_EQ(Masked(block, inst, file_name), golden_log);
  // The box text is the log's error message, word for word.
  EXPECT_NE(block.find("--------------\r\n" + shown.text + "\r\nError Object created:"),
            std::string::npos);
}

constexpr int kExceptionExit = platform::ExitStatusOf(platform::kOsExceptionExitCode);

// An access violation inside the OK handler, under the dialog's modal loop
// (on Windows inside a window procedure): the exception block reaches the log,
// with the stack of the click, and the program ends with the exception's code.
TEST_F(ErrorReportRun, AccessViolationDuringTheRunIsLoggedAndEndsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // A directory the re-executed child finds without being told; the update
  // below touches no table, so no installation is needed.
  std::string tag = std::to_string(std::hash<std::string>()(PROJECT_TESTDATA_DIR) & 0xFFFFFF);
  std::string dir = (fs::temp_directory_path() / ("h-errors-run-fault-" + tag)).string();
  dir.push_back(static_cast<char>(fs::path::preferred_separator));
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir);
  const std::string log_path = dir + "XQERROR.LOG";
  box_->Answer(3);
  EXPECT_EXIT(
      {
        rt::SetWorkDir(dir);
        rt::InstallOsExceptionHandler();  // start-up leaves it out under the address sanitizer
        shell::PlantUpdateForTest([](const rt::Value&) {
          volatile uintptr_t address = 16;
          *reinterpret_cast<volatile int*>(address) = 1;
        });
        RunTheDialog();
      },
      ::testing::ExitedWithCode(kExceptionExit), "Operating-system exception C0000005");
  std::string log = ReadFile(log_path);
  EXPECT_NE(log.find("\r\nExceptionCode   :C0000005\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\r\nCallStack:\r\nMAINDIALOG:OKBUTTON (Line:"), std::string::npos) << log;
  EXPECT_NE(log.find(")\r\nDIALOGWINDOW:SHOW (Line:"), std::string::npos) << log;
  EXPECT_NE(log.find(")\r\nAPP:START (Line:"), std::string::npos) << log;
  fs::remove_all(dir, ec);
}

}  // namespace
}  // namespace tariff
