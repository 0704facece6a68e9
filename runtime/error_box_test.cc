#include "runtime/error_box.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/dialogs.h"

namespace rt {
namespace {

TEST(ErrorBoxTest, ScriptedBoxAnswersInOrderThenItsDefaultAndRecords) {
  auto box = std::make_shared<ScriptedErrorBox>(3);
  std::shared_ptr<ErrorBoxFrontEnd> old = SetErrorBoxFrontEnd(box);
  box->Answer(2);
  box->Answer(1);
  EXPECT_EQ(ErrorMessageBox("a", "ERROR", 1, 2, 0x80000000u), 2u);
  EXPECT_EQ(ErrorMessageBox("b", "WARNING", 0, 0, 0x80000003u), 1u);
  EXPECT_EQ(ErrorMessageBox("c", "ERROR", 1, 0, 0x80000000u), 3u);
  ASSERT_EQ(box->shown().size(), 3u);
  EXPECT_EQ(box->shown()[1].text, "b");
  EXPECT_EQ(box->shown()[1].caption, "WARNING");
  EXPECT_EQ(box->shown()[1].quit, 0x80000003u);
  EXPECT_EQ(SetErrorBoxFrontEnd(old), box);
}

// A front end that installs another while it is showing must not be freed
// under its own feet.
TEST(ErrorBoxTest, FrontEndReplacedWhileShowing) {
  struct SelfReplacing : ErrorBoxFrontEnd {
    uint32_t Show(const std::string&, const std::string&, uint32_t, uint32_t, uint32_t) override {
      SetErrorBoxFrontEnd(std::make_shared<ScriptedErrorBox>(2));
      return 1;
    }
  };
  std::shared_ptr<ErrorBoxFrontEnd> old = SetErrorBoxFrontEnd(std::make_shared<SelfReplacing>());
  EXPECT_EQ(ErrorMessageBox("x", "ERROR", 1, 0, 0), 1u);
  EXPECT_EQ(ErrorMessageBox("x", "ERROR", 1, 0, 0), 2u);
  SetErrorBoxFrontEnd(old);
}

TEST(ErrorBoxTest, ToneCountsClockTicks) {
  std::vector<std::pair<uint32_t, uint32_t>> tones;
  platform::SetBeepHook([&](uint32_t f, uint32_t ms) { tones.emplace_back(f, ms); });
  Tone(440, 1);
  Tone(523, 18);
  platform::SetBeepHook(nullptr);
  ASSERT_EQ(tones.size(), 2u);
  EXPECT_EQ(tones[0], std::make_pair(440u, 54u));
  EXPECT_EQ(tones[1], std::make_pair(523u, 989u));
}

}  // namespace
}  // namespace rt
