// YieldMessageLoop over the portable queue: what it takes, what it leaves, what it gives.
#include <gmock/gmock.h>

#include "runtime/functions.h"
#include "shell/posix/shell_test_fixture.h"

namespace shell {
namespace {

using rt::Value;
using ::testing::ElementsAre;
using testing::ShellTest;

class YieldMessageLoopTest : public ShellTest {
 protected:
  // A window outside the dialog that counts what reaches it.
  platform::WindowHandle Stranger() {
    stranger_ = platform::CreateProcWindow(
        nullptr, [this](platform::WindowHandle, uint32_t m, uintptr_t, intptr_t) -> intptr_t {
          if (m == platform::kWmUser) ++stranger_messages_;
          return 0;
        });
    return stranger_;
  }
  void TearDown() override {
    if (stranger_) platform::DestroyProcWindow(stranger_);
    ShellTest::TearDown();
  }
  platform::WindowHandle stranger_ = nullptr;
  int stranger_messages_ = 0;
};

TEST_F(YieldMessageLoopTest, EmptyQueueReturnsNilAtOnce) {
  Value dialog = NewDialog();
  Drain();
  EXPECT_TRUE(YieldMessageLoop(dialog).IsNil());
  EXPECT_TRUE(YieldMessageLoop(Value()).IsNil());
  // Through the function table, as the update calls it.
  EXPECT_TRUE(rt::CallFunction("YieldMessageLoop", {dialog}).IsNil());
  platform::Message m;
  EXPECT_FALSE(platform::PeekMessageA(&m, nullptr, 0, 0, platform::kPmNoRemove));
}

TEST_F(YieldMessageLoopTest, DialogFilterPaintsTheDialogAndListButLeavesOtherWindows) {
  Value dialog = NewDialog();
  platform::WindowHandle other = Stranger();
  Drain();
  PostLine(dialog, "a line");  // the list box wants painting
  platform::PostMessageA(other, platform::kWmUser, 0, 0);
  int list_paints = Control(dialog, IDC_LISTBOX1).paint_count;

  EXPECT_TRUE(YieldMessageLoop(dialog).IsNil());
  EXPECT_EQ(Control(dialog, IDC_LISTBOX1).paint_count, list_paints + 1);
  EXPECT_EQ(stranger_messages_, 0);

  // Without a window every pending message of the thread goes.
  EXPECT_TRUE(YieldMessageLoop(Value()).IsNil());
  EXPECT_EQ(stranger_messages_, 1);
}

TEST_F(YieldMessageLoopTest, RunsUntilNothingIsLeftIncludingWhatHandlersPost) {
  int lines_seen = 0;
  PlantUpdateForTest([&](const Value& d) { PostLine(d, "from the click"); });
  Value dialog = NewDialog();
  Drain();
  gui::headless::PostClick(HandleOf(dialog), IDC_OKBUTTON);
  EXPECT_TRUE(YieldMessageLoop(dialog).IsNil());  // result NIL whatever it dispatched
  lines_seen = static_cast<int>(Control(dialog, IDC_LISTBOX1).items.size());
  EXPECT_EQ(lines_seen, 1);
  EXPECT_EQ(Control(dialog, IDC_LISTBOX1).paint_count, 1);  // the line was painted too
  platform::Message m;
  EXPECT_FALSE(platform::PeekMessageA(&m, HandleOf(dialog), 0, 0, platform::kPmNoRemove));
}

TEST_F(YieldMessageLoopTest, QuitTakenByThePumpIsPostedAgain) {
  Value dialog = NewDialog();
  platform::WindowHandle other = Stranger();
  Drain();
  platform::PostQuitMessage(3);
  platform::PostMessageA(other, platform::kWmUser, 0, 0);
  EXPECT_TRUE(YieldMessageLoop(Value()).IsNil());
  EXPECT_EQ(stranger_messages_, 1);  // the rest was still dispatched
  platform::Message m;
  ASSERT_TRUE(platform::PeekMessageA(&m, nullptr, 0, 0, platform::kPmRemove));
  EXPECT_EQ(m.message, platform::kWmQuit);
  EXPECT_EQ(m.wparam, 3u);
}

TEST_F(YieldMessageLoopTest, QuitDuringARunEndsTheDialogAfterTheUpdate) {
  std::vector<std::string> done;
  PlantUpdateForTest([&](const Value& d) {
    platform::PostQuitMessage(0);
    Pump(d);
    done.push_back("after pump");
  });
  Value dialog = NewDialog();
  ShowWith(dialog, {Click(IDC_OKBUTTON)});
  EXPECT_THAT(done, ElementsAre("after pump"));
  EXPECT_EQ(idle_turns_, 1);  // the modal loop met the quit again and ended
  platform::Message m;
  ASSERT_TRUE(platform::PeekMessageA(&m, nullptr, 0, 0, platform::kPmRemove));
  EXPECT_EQ(m.message, platform::kWmQuit);  // left for the loop outside
}

TEST_F(YieldMessageLoopTest, ListKeepsInsertionOrderAndShowsTheLastLine) {
  Value dialog = NewDialog();
  const auto& list = Control(dialog, IDC_LISTBOX1);
  EXPECT_TRUE(list.style & gui::style::kLbsDisableNoScroll);
  EXPECT_FALSE(list.style & gui::style::kLbsSort);
  std::vector<std::string> want;
  for (int i = 0; i < 40; ++i) {
    // Not in sorted order on purpose.
    std::string line = std::to_string((i * 7) % 40) + (i % 2 ? " z" : " a");
    PostLine(dialog, line);
    want.push_back(line);
    ShowLastLine(dialog);
    Pump(dialog);
  }
  EXPECT_EQ(list.items, want);
  EXPECT_EQ(list.selected, 39);
  EXPECT_EQ(list.top_index, 40 - list.visible_lines);
  EXPECT_TRUE(list.ScrollBarEnabled());
  Value lb = ListBox(dialog);
  EXPECT_EQ(rt::IVarGet(lb, rt::String2Symbol("CurrentItemNo")).GetLong(), 40);
  EXPECT_EQ(rt::Send(lb, "GetItem", {Value::Long(1)}).GetString(), want[0]);
}

}  // namespace
}  // namespace shell
