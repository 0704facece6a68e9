#include "errors/call_stack.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "runtime/activation.h"

namespace errors {
namespace {

// Pushes activations outermost first; names and modules outlive the frames.
class Frames {
 public:
  void Push(std::string name, std::string module, uint32_t line) {
    names_.push_back(std::make_unique<std::string>(std::move(name)));
    modules_.push_back(std::make_unique<std::string>(std::move(module)));
    frames_.push_back(
        std::make_unique<rt::Routine>(names_.back()->c_str(), modules_.back()->c_str(), line));
  }
  // Frames named F1 (outermost) .. Fn, line 10 * i, module "Mod<i>".
  void PushNumbered(int n) {
    for (int i = 1; i <= n; ++i) {
      std::string n = std::to_string(i);
      Push(std::string(1, 'F').append(n), std::string("Mod").append(n),
           static_cast<uint32_t>(10 * i));
    }
  }
  ~Frames() {
    while (!frames_.empty()) frames_.pop_back();  // innermost leaves first
  }

 private:
  std::vector<std::unique_ptr<std::string>> names_, modules_;
  std::vector<std::unique_ptr<rt::Routine>> frames_;
};

class CallStackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitCallStackSettings();
    ASSERT_EQ(rt::ActivationDepth(), 0u);
  }
  void TearDown() override { InitCallStackSettings(); }
};

TEST_F(CallStackTest, DefaultSettingsListNameAndLineInnermostFirst) {
  Frames f;
  f.Push("APP:START", "Start", 12);
  f.Push("MAINDIALOG:OKBUTTON", "Dialog", 42);
  f.Push("MAINDIALOG:MODTARIF06", "Dialog", 117);
  EXPECT_EQ(CallStackText(0),
            "MAINDIALOG:MODTARIF06 (Line:117)\r\n"
            "MAINDIALOG:OKBUTTON (Line:42)\r\n"
            "APP:START (Line:12)\r\n");
  EXPECT_EQ(CallStackText(2), "APP:START (Line:12)\r\n");
}

TEST_F(CallStackTest, NothingAtOrBeyondTheStartLevelGivesTheEmptyMarker) {
  EXPECT_EQ(CallStackText(0), "*EmptyCallStack*\r\n");
  Frames f;
  f.PushNumbered(3);
  EXPECT_EQ(CallStackText(3), "*EmptyCallStack*\r\n");
}

TEST_F(CallStackTest, TwentyFramesFromLevelOneListFiveLines) {
  Frames f;
  f.PushNumbered(20);
  EXPECT_EQ(CallStackText(1),
            "F19 (Line:190)\r\nF18 (Line:180)\r\nF17 (Line:170)\r\nF16 (Line:160)\r\n"
            "F15 (Line:150)\r\n");
}

TEST_F(CallStackTest, MaxLinesZeroCountsAsOne) {
  Frames f;
  f.PushNumbered(4);
  CallStackConfig().max_lines = 0;
  EXPECT_EQ(CallStackText(0), "F4 (Line:40)\r\n");
  CallStackConfig().max_lines = 2;
  EXPECT_EQ(CallStackText(0), "F4 (Line:40)\r\nF3 (Line:30)\r\n");
}

TEST_F(CallStackTest, ShowLevelPrefixesTheFrameNumber) {
  Frames f;
  f.PushNumbered(10);
  CallStackConfig().show_level = true;
  CallStackConfig().max_lines = 20;
  std::string text = CallStackText(1);
  EXPECT_EQ(text.substr(0, 20), "009, F9 (Line:90)\r\n0");
  EXPECT_NE(text.find("\r\n001, F1 (Line:10)\r\n"), std::string::npos);
  EXPECT_EQ(text.size() - text.rfind("001, "), std::string("001, F1 (Line:10)\r\n").size());
}

TEST_F(CallStackTest, ShowFileAndShowLevelTogether) {
  Frames f;
  f.Push("APP:START", "Start", 12);
  f.Push("MAINDIALOG:MODTARIF06", "Dialog", 117);
  CallStackConfig().show_file = true;
  EXPECT_EQ(CallStackText(0),
            "Dialog, MAINDIALOG:MODTARIF06 (Line:117)\r\nStart, APP:START (Line:12)\r\n");
  CallStackConfig().show_level = true;
  EXPECT_EQ(CallStackText(0),
            "002, Dialog, MAINDIALOG:MODTARIF06 (Line:117)\r\n001, Start, APP:START (Line:12)\r\n");
}

TEST_F(CallStackTest, ExecLevelsStopAfterThatManyExecOrDispatchFrames) {
  Frames f;
  f.Push("APP:START", "Start", 1);
  f.Push("DIALOGWINDOW:EXEC", "Gui", 2);
  f.Push("MAINDIALOG:DISPATCH", "Gui", 3);
  f.Push("LIST:exec", "Gui", 4);  // lower case does not count
  f.Push("MAINDIALOG:OKBUTTON", "Dialog", 5);
  CallStackConfig().exec_levels = 1;
  EXPECT_EQ(CallStackText(0),
            "MAINDIALOG:OKBUTTON (Line:5)\r\nLIST:exec (Line:4)\r\n"
            "MAINDIALOG:DISPATCH (Line:3)\r\n");
  CallStackConfig().exec_levels = 2;
  EXPECT_EQ(CallStackText(0).substr(CallStackText(0).rfind("DIALOGWINDOW")),
            "DIALOGWINDOW:EXEC (Line:2)\r\n");
  CallStackConfig().exec_levels = 0;
  EXPECT_EQ(CallStackText(0).substr(CallStackText(0).rfind("APP")), "APP:START (Line:1)\r\n");
}

TEST_F(CallStackTest, StartBeyondTheDepthRunsUntilTheBudgetIsSpent) {
  Frames f;
  f.PushNumbered(2);
  std::string line = "*ProcName* (Line:0)\r\n";
  EXPECT_EQ(CallStackText(5), line + line + line + line + line);
  CallStackConfig().show_level = true;
  CallStackConfig().max_lines = 2;
  EXPECT_EQ(CallStackText(7), "*** , " + line + "*** , " + line);
}

TEST_F(CallStackTest, EmptyNameIsShownAsProcName) {
  Frames f;
  f.Push("", "Start", 7);
  EXPECT_EQ(CallStackText(0), "*ProcName* (Line:7)\r\n");
}

}  // namespace
}  // namespace errors
