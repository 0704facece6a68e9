// The Linux console error box, driven through explicit streams.
#include "platform/dialogs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/posix/dialogs_console.h"

namespace platform {
namespace {

class ConsoleBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    in_ = std::tmpfile();
    err_ = std::tmpfile();
    ASSERT_TRUE(in_ && err_);
  }
  void TearDown() override {
    std::fclose(in_);
    std::fclose(err_);
  }
  void Input(const std::string& s) {
    std::fputs(s.c_str(), in_);
    std::rewind(in_);
  }
  std::string Output() {
    std::rewind(err_);
    std::string out;
    char buf[256];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, err_)) > 0) out.append(buf, n);
    return out;
  }
  uint32_t Show(bool interactive, uint32_t policy, uint32_t def, uint32_t retry,
                uint32_t quit = 0x80000000u) {
    return ConsoleErrorBox(in_, err_, interactive, policy,
                           "Error Code:  21 [ OPEN ERROR ]\r\n"
                           "Description: fichier d\xe9j\xe0 ouvert\r\n",
                           "ERROR", def, retry, quit);
  }
  std::FILE* in_ = nullptr;
  std::FILE* err_ = nullptr;
};

TEST_F(ConsoleBoxTest, ReportGoesOutInUtf8WithPlainLineEnds) {
  Show(false, kErrorBoxQuit, 1, 0);
  EXPECT_EQ(Output(),
            "*** ERROR ***\nError Code:  21 [ OPEN ERROR ]\n"
            "Description: fichier d\xC3\xA9j\xC3\xA0 ouvert\n(answered: quit)\n");
}

TEST_F(ConsoleBoxTest, PolicyAnswersOnlyWithAnOfferedOption) {
  EXPECT_EQ(Show(false, kErrorBoxQuit, 1, 2), kErrorBoxQuit);
  EXPECT_EQ(Show(false, kErrorBoxDefault, 1, 0), kErrorBoxDefault);
  EXPECT_EQ(Show(false, kErrorBoxDefault, 0, 2), kErrorBoxQuit);
  EXPECT_EQ(Show(false, kErrorBoxRetry, 1, 2), kErrorBoxRetry);
  EXPECT_EQ(Show(false, kErrorBoxRetry, 1, 0), kErrorBoxQuit);
}

TEST_F(ConsoleBoxTest, PromptOffersOnlyTheOfferedOptions) {
  Input("x\nd\nR\n");
  EXPECT_EQ(Show(true, kErrorBoxQuit, 0, 2, 0x80000003u), kErrorBoxRetry);
  std::string out = Output();
  EXPECT_NE(out.find("[r]etry, [q]uit the operation? "), std::string::npos) << out;
  EXPECT_EQ(out.find("[d]efault"), std::string::npos);
}

TEST_F(ConsoleBoxTest, EndOfInputQuits) {
  Input("");
  EXPECT_EQ(Show(true, kErrorBoxDefault, 1, 2), kErrorBoxQuit);
  EXPECT_NE(Output().find("[d]efault, [r]etry, [q]uit the program? "), std::string::npos);
}

TEST(DialogHooksTest, HooksSeeMessageBoxesAndTones) {
  std::string seen;
  SetMessageBoxHook([&](std::string_view text, std::string_view caption, uint32_t type) {
    seen = std::string(caption) + "|" + std::string(text);
    return 7;
  });
  EXPECT_EQ(MessageBoxA("text", "caption", kMbOk), 7);
  EXPECT_EQ(seen, "caption|text");
  SetMessageBoxHook(nullptr);
  uint32_t heard = 0;
  SetBeepHook([&](uint32_t f, uint32_t) { heard = f; });
  EXPECT_TRUE(Beep(440, 55));
  EXPECT_EQ(heard, 440u);
  SetBeepHook(nullptr);
  SetErrorBoxPolicy(kErrorBoxRetry);
  EXPECT_EQ(ErrorBoxPolicy(), kErrorBoxRetry);
  SetErrorBoxPolicy(kErrorBoxQuit);
}

}  // namespace
}  // namespace platform
