// The GUI class library on the headless back-end, with a dialog class of the test's own:
// binding to the template, click routing by label name, list box lines, failures, and the
// modal loop's handling of quit and Esc.
#include "gui/headless.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "errors/error_object.h"
#include "gui/dialog_template.h"
#include "gui/gui.h"
#include "runtime/error.h"
#include "runtime/object.h"

namespace gui {
namespace {

using rt::Value;
using ::testing::ElementsAre;

rt::Symbol Sym(std::string_view s) { return rt::String2Symbol(s); }

Value New(std::string_view cls, std::initializer_list<Value> args = {}) {
  return rt::CreateInstance(Sym(cls), rt::Args(args.begin(), args.size()));
}

class HeadlessGuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Drain();
    errors::DeclareErrorClass();
    DeclareClasses();
    DialogTemplate t;
    t.caption = "Essai";
    t.cx = 100, t.cy = 80;
    t.controls = {{10, "BUTTON", "Go", 5, 60, 40, 12, style::kWsChild | style::kWsTabStop, 0},
                  {11, "BUTTON", "Muet", 50, 60, 40, 12, style::kWsChild, 0},
                  {12, "LISTBOX", "", 5, 5, 90, 48, style::kWsChild, 0}};
    RegisterDialogTemplate("TESTDIALOG", t);
    // A dialog with one handler, Go, bound to control 10; control 11 has no method.
    rt::ClassBuilder("TestDialog", "DialogWindow")
        .Method("Go",
                [this](const rt::ObjectRef&, rt::Args) {
                  ++clicks_;
                  return Value();
                })
        .Register();
    old_block_ = rt::ErrorBlock(Value::FromBlock(rt::MakeBlock(
        [this](rt::Args args) {
          errors_.push_back(rt::IVarGet(args[0], Sym("GenCode")).GetDword());
          return Value::Logic(false);
        },
        1)));
  }
  void TearDown() override {
    headless::SetIdleHandler(nullptr);
    rt::ErrorBlock(old_block_);
    Drain();
  }
  static void Drain() {
    platform::Message m;
    while (platform::PeekMessageA(&m, nullptr, 0, 0, platform::kPmRemove)) {
      if (m.message == platform::kWmPaint) platform::DispatchMessageA(m);
    }
  }

  Value NewDialog() {
    Value d = New("TestDialog",
                  {Value(), New("ResourceID", {Value::String("TestDialog")}), Value::Logic(true)});
    Value go = New("PushButton", {d, New("ResourceID", {Value::Long(10)})});
    rt::IVarPut(go, Sym("HyperLabel"),
                New("HyperLabel", {Value::Sym(Sym("Go")), Value::String("Go")}));
    Value mute = New("PushButton", {d, Value::Long(11)});
    rt::IVarPut(mute, Sym("HyperLabel"),
                New("HyperLabel", {Value::Sym(Sym("Muet")), Value::String("Muet")}));
    keep_ = {go, mute};
    return d;
  }

  // Show with inputs given one per idle turn; the dialog ends with -1 when they run out.
  int ShowWith(const Value& dialog, std::vector<std::function<void(platform::WindowHandle)>> in) {
    size_t next = 0;
    headless::SetIdleHandler([&](platform::WindowHandle h) {
      if (next >= in.size()) return false;
      in[next++](h);
      return true;
    });
    return rt::Send(dialog, "Show").GetLong();
  }

  int clicks_ = 0;
  std::vector<uint32_t> errors_;
  std::vector<Value> keep_;
  Value old_block_;
};

TEST_F(HeadlessGuiTest, ClickRunsTheMethodNamedByTheLabelOnlyWhileEnabled) {
  Value d = NewDialog();
  platform::WindowHandle h = rt::Send(d, "Handle").GetPtr();
  int result = ShowWith(
      d, {[](auto h) { headless::PostClick(h, 10); },
          [](auto h) { headless::PostClick(h, 11); },  // no method: nothing
          [&](auto) { rt::Send(keep_[0], "Disable"); },
          [](auto h) { headless::PostClick(h, 10); },  // greyed: ignored
          [&](auto) { rt::Send(keep_[0], "Enable"); }, [](auto h) { headless::PostClick(h, 10); }});
  EXPECT_EQ(result, -1);
  EXPECT_EQ(clicks_, 2);
  EXPECT_TRUE(errors_.empty());
  EXPECT_NE(headless::FindDialog(h), nullptr);
  d = Value();
  keep_.clear();
  EXPECT_EQ(headless::FindDialog(h), nullptr);  // the window goes with the last reference
}

TEST_F(HeadlessGuiTest, ListBoxLinesPositionsAndSelection) {
  Value d = NewDialog();
  Value list = New("ListBox", {d, Value::Long(12)});
  auto add = [&](const char* text, int pos) {
    return rt::Send(list, "AddItem", {Value::String(text), Value::Long(pos), Value::Long(0)})
        .GetLong();
  };
  EXPECT_EQ(add("b", 0), 1);
  EXPECT_EQ(add("c", 0), 2);
  EXPECT_EQ(add("a", 1), 1);  // before line 1
  rt::IVarPut(list, Sym("CurrentItemNo"), Value::Long(3));
  EXPECT_EQ(add("a2", 2), 2);  // the selection moves with its line
  EXPECT_EQ(rt::IVarGet(list, Sym("CurrentItemNo")).GetLong(), 4);
  const auto* state = headless::FindDialog(rt::Send(d, "Handle").GetPtr())->Control(12);
  EXPECT_THAT(state->items, ElementsAre("a", "a2", "b", "c"));
  rt::IVarPut(list, Sym("CurrentItemNo"), Value::Long(0));
  EXPECT_EQ(rt::IVarGet(list, Sym("CurrentItemNo")).GetLong(), 0);
  rt::IVarPut(list, Sym("CurrentItemNo"), Value::Long(9));  // beyond the end: nothing
  EXPECT_EQ(state->selected, -1);
  EXPECT_EQ(rt::Send(list, "GetItem", {Value::Long(5)}).GetString(), "");
}

TEST_F(HeadlessGuiTest, MissingTemplateControlOrIconRaisesRuntimeErrors) {
  Value d = New("DialogWindow", {Value(), New("ResourceID", {Value::String("Absent")})});
  EXPECT_THAT(errors_, ElementsAre(rt::kGenCreate));
  Value ok = NewDialog();
  New("PushButton", {ok, Value::Long(99)});
  New("Icon", {New("ResourceID", {Value::String("NOICON")})});
  EXPECT_THAT(errors_, ElementsAre(rt::kGenCreate, rt::kGenCreate, rt::kGenOpen));
  EXPECT_TRUE(rt::Send(d, "Show").IsNil());  // a dialog that was never made does not run
}

TEST_F(HeadlessGuiTest, QuitEndsTheModalLoopAndStaysForTheOuterLoop) {
  Value d = NewDialog();
  EXPECT_EQ(ShowWith(d, {[](auto) { platform::PostQuitMessage(4); }}), 0);
  platform::Message m;
  ASSERT_TRUE(platform::PeekMessageA(&m, nullptr, 0, 0, platform::kPmRemove));
  EXPECT_EQ(m.message, platform::kWmQuit);
  EXPECT_EQ(m.wparam, 4u);
}

TEST_F(HeadlessGuiTest, EscapeAndCloseEndWithCancelThroughEndDialog) {
  Value d = NewDialog();
  EXPECT_EQ(ShowWith(d, {[](auto h) { headless::PostKey(h, 0x1B); }}), kIdCancel);
  EXPECT_EQ(ShowWith(d, {[](auto h) { headless::PostClose(h); }}), kIdCancel);
  EXPECT_EQ(rt::IVarGet(d, Sym("Result")).GetLong(), kIdCancel);
}

TEST_F(HeadlessGuiTest, SupportObjectsKeepWhatTheyWereMadeWith) {
  Value font = New("Font", {Value(), Value::Long(10), Value::String("Microsoft Sans Serif")});
  EXPECT_EQ(rt::IVarGet(font, Sym("PointSize")).GetLong(), 10);
  EXPECT_EQ(rt::IVarGet(font, Sym("FaceName")).GetString(), "Microsoft Sans Serif");
  Value color = New("Color", {Value::Long(128), Value::Long(300), Value::Long(-5)});
  EXPECT_EQ(rt::IVarGet(color, Sym("Green")).GetLong(), 255);  // clamped
  EXPECT_EQ(rt::IVarGet(color, Sym("Blue")).GetLong(), 0);
  Value label = New("HyperLabel", {Value::String("okbutton"), Value::String("OK"),
                                   Value::NullString(), Value::NullString()});
  EXPECT_EQ(rt::IVarGet(label, Sym("NameSym")).GetSymbol(), Sym("OKBUTTON"));
  EXPECT_TRUE(rt::IVarGet(label, Sym("Description")).IsNullString());
}

}  // namespace
}  // namespace gui
