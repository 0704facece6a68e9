// MainDialog on the headless back-end: what Init builds, the two handlers, the guard
// against a second update and a close during a run.
#include <gmock/gmock.h>

#include <cstdint>
#include <iterator>
#include <string>
#include <tuple>

#include "ini/ini_file_spec.h"
#include "runtime/activation.h"
#include "runtime/filespec.h"
#include "runtime/program.h"
#include "runtime/recovery.h"
#include "shell/posix/shell_test_fixture.h"
#include "tariff/texts.h"
#include "testing/scratch_dir.h"

namespace shell {
namespace {

using rt::Value;
using ::testing::ElementsAre;
using testing::ShellTest;

constexpr char kPrompt[] = "Poussez <OK> pour d\xe9marer l'import des tarifs";

class MainDialogTest : public ShellTest {};

// The template's numbers, written out here once more: the template and the resource script
// are made from one description, and this is what that description must say.
struct ControlNumbers {
  int id;
  const char* class_name;
  const char* text;
  int x, y, cx, cy;
  uint32_t style, ex_style;
};

TEST_F(MainDialogTest, InitBindsTheFourControlsOfTheTemplate) {
  using namespace gui::style;
  const gui::DialogTemplate& t = MainDialogTemplate();
  EXPECT_EQ(std::tuple(t.x, t.y, t.cx, t.cy), std::tuple(11, 24, 206, 182));
  EXPECT_EQ(t.style, kWsPopup | kWsCaption | kWsSysMenu | kWsMinimizeBox | kDsCenter |
                         kDsModalFrame | kDsSetFont | kDs3dLook);
  EXPECT_EQ(t.ex_style, 0u);
  EXPECT_EQ(std::tuple(t.font_points, t.font_face, t.font_weight, t.font_italic, t.font_charset),
            std::tuple(8, std::string("MS Shell Dlg"), 0, false, 1));

  const uint32_t button = kWsChild | kWsVisible | kWsTabStop | kBsPushButton;
  const ControlNumbers want[] = {
      {100, "BUTTON", "OK", 161, 163, 40, 12, button, 0},
      {101, "BUTTON", "Fermer", 117, 163, 40, 12, button, 0},
      {102, "STATIC", kPrompt, 9, 5, 191, 14, kWsChild | kWsVisible | kSsCenter | kSsCenterImage,
       0},
      {103, "LISTBOX", "", 9, 30, 191, 124,
       kWsChild | kWsVisible | kWsVScroll | kWsTabStop | kLbsDisableNoScroll |
           kLbsNoIntegralHeight | kLbsNotify,
       kWsExClientEdge},
  };
  Value dialog = NewDialog();
  const auto& s = StateOf(dialog);
  EXPECT_EQ(s.caption, "Modification Tarifs 2017");
  EXPECT_EQ(s.style, t.style);
  EXPECT_FALSE(s.visible);
  ASSERT_EQ(s.controls.size(), std::size(want));
  for (size_t i = 0; i < std::size(want); ++i) {
    SCOPED_TRACE(want[i].id);
    const auto& c = s.controls[i];
    EXPECT_EQ(
        std::tuple(c.id, c.class_name, c.text, c.x, c.y, c.cx, c.cy, c.style, c.ex_style),
        std::tuple(want[i].id, std::string(want[i].class_name), std::string(want[i].text),
                   want[i].x, want[i].y, want[i].cx, want[i].cy, want[i].style, want[i].ex_style));
  }
  EXPECT_TRUE(s.controls[3].items.empty());

  // The references are the controls bound to ids 100 to 103, each named by its label.
  const char* names[] = {"OkButton", "CancelButton", "FixedText1", "ListBox1"};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(names[i]);
    Value control = rt::IVarGet(dialog, rt::String2Symbol(names[i]));
    EXPECT_EQ(rt::Send(control, "Handle").GetPtr(), s.controls[i].handle);
    EXPECT_EQ(rt::IVarGet(control, rt::String2Symbol("NameSym")).GetSymbol(),
              rt::String2Symbol(names[i]));
  }
  Value label = rt::IVarGet(dialog, rt::String2Symbol("HyperLabel"));
  EXPECT_EQ(rt::IVarGet(label, rt::String2Symbol("NameSym")).GetSymbol(),
            rt::String2Symbol("MainDialog"));
  EXPECT_EQ(rt::IVarGet(label, rt::String2Symbol("Caption")).GetString(),
            "Modification Tarifs 2017");
  EXPECT_TRUE(error_codes_.empty());
}

TEST_F(MainDialogTest, PromptHasItsOwnFontAndColoursAndTheDialogBothIcons) {
  Value dialog = NewDialog();
  const auto& prompt = Control(dialog, IDC_FIXEDTEXT1);
  ASSERT_TRUE(prompt.font.has_value());
  EXPECT_EQ(*prompt.font, (gui::FontSpec{"Microsoft Sans Serif", 10, 0}));
  EXPECT_EQ(prompt.text_color, (gui::Rgb{0, 0, 0}));
  EXPECT_EQ(prompt.background, (gui::Rgb{128, 255, 0}));
  // The buttons and the list keep the template's font.
  EXPECT_FALSE(Control(dialog, IDC_OKBUTTON).font.has_value());
  EXPECT_FALSE(Control(dialog, IDC_LISTBOX1).font.has_value());

  const auto& s = StateOf(dialog);
  EXPECT_NE(s.icon, nullptr);
  EXPECT_EQ(s.icon, s.icon_small);  // one resource
  Value icon = rt::IVarGet(dialog, rt::String2Symbol("Icon"));
  Value small = rt::IVarGet(dialog, rt::String2Symbol("IconSm"));
  EXPECT_TRUE(rt::IsInstanceOf(icon, rt::String2Symbol("AItemIcon")));
  EXPECT_TRUE(rt::IsInstanceOf(small, rt::String2Symbol("AItemIcon")));
  EXPECT_FALSE(icon == small);  // two objects
}

TEST_F(MainDialogTest, OkRunsTheUpdateOnceThenDisablesOkAndFermerEndsWithOne) {
  int runs = 0;
  bool ok_enabled_during_run = false;
  PlantUpdateForTest([&](const Value& dialog) {
    ++runs;
    ok_enabled_during_run = Control(dialog, IDC_OKBUTTON).enabled;
    PostLine(dialog, "IniFile non trouv\xe9 : C:\\prog\\velmora.ini");
  });
  Value dialog = NewDialog();
  bool ok_enabled_after = true;
  int result = ShowWith(dialog, {Click(IDC_OKBUTTON),
                                 [&](platform::WindowHandle) {
                                   ok_enabled_after = Control(dialog, IDC_OKBUTTON).enabled;
                                 },
                                 Click(IDC_OKBUTTON),  // greyed: nothing happens
                                 Click(IDC_CANCELBUTTON)});
  EXPECT_EQ(result, 1);
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(ok_enabled_during_run);
  EXPECT_FALSE(ok_enabled_after);
  EXPECT_THAT(Control(dialog, IDC_LISTBOX1).items,
              ElementsAre("IniFile non trouv\xe9 : C:\\prog\\velmora.ini"));
  EXPECT_FALSE(StateOf(dialog).running);
}

TEST_F(MainDialogTest, FermerWithoutARunEndsWithOne) {
  Value dialog = NewDialog();
  EXPECT_EQ(ShowWith(dialog, {Click(IDC_CANCELBUTTON)}), 1);
  EXPECT_EQ(rt::IVarGet(dialog, rt::String2Symbol("Result")).GetLong(), 1);
}

TEST_F(MainDialogTest, SecondOkDuringTheRunIsIgnored) {
  int runs = 0;
  PlantUpdateForTest([&](const Value& dialog) {
    ++runs;
    PostLine(dialog, "first");
    gui::headless::PostClick(HandleOf(dialog), IDC_OKBUTTON);
    Pump(dialog);  // dispatches the click inside the run
    PostLine(dialog, "last");
    ShowLastLine(dialog);
  });
  Value dialog = NewDialog();
  EXPECT_EQ(ShowWith(dialog, {Click(IDC_OKBUTTON), Click(IDC_CANCELBUTTON)}), 1);
  EXPECT_EQ(runs, 1);
  EXPECT_THAT(Control(dialog, IDC_LISTBOX1).items, ElementsAre("first", "last"));
  EXPECT_FALSE(Control(dialog, IDC_OKBUTTON).enabled);
}

// The update sees the request at its next safe point, stops, and the dialog ends with 1
// right after the OK handler, without another turn of the loop.
TEST_F(MainDialogTest, CloseDuringTheRunStopsTheUpdateThenEndsWithOne) {
  for (bool close_box : {false, true}) {
    SCOPED_TRACE(close_box ? "close box" : "Fermer");
    std::vector<int> steps_done;
    PlantUpdateForTest([&](const Value& dialog) {
      for (int step = 1; step <= 5; ++step) {
        if (rt::Send(dialog, "UpdateStopRequested").GetLogic()) return;
        PostLine(dialog, "step " + std::to_string(step));
        steps_done.push_back(step);
        if (step == 2) {
          if (close_box) {
            gui::headless::PostClose(HandleOf(dialog));
          } else {
            gui::headless::PostClick(HandleOf(dialog), IDC_CANCELBUTTON);
          }
        }
        Pump(dialog);
        EXPECT_TRUE(StateOf(dialog).running);  // still open while the update runs
      }
    });
    Value dialog = NewDialog();
    idle_turns_ = 0;
    EXPECT_EQ(ShowWith(dialog, {Click(IDC_OKBUTTON)}), 1);
    EXPECT_THAT(steps_done, ElementsAre(1, 2));
    EXPECT_THAT(Control(dialog, IDC_LISTBOX1).items, ElementsAre("step 1", "step 2"));
    EXPECT_EQ(idle_turns_, 1);  // ended by the OK handler, not by running out of input
  }
}

TEST_F(MainDialogTest, CloseBoxOrEscapeWhenIdleEndsWithCancel) {
  Value dialog = NewDialog();
  EXPECT_EQ(ShowWith(dialog, {[](platform::WindowHandle h) { gui::headless::PostClose(h); }}),
            gui::kIdCancel);
  Value again = NewDialog();
  EXPECT_EQ(ShowWith(again, {[](platform::WindowHandle h) { gui::headless::PostKey(h, 0x1B); }}),
            gui::kIdCancel);
}

TEST_F(MainDialogTest, UpdateEndedByAnErrorLeavesOkEnabledAndAllowsAnotherRun) {
  int runs = 0;
  PlantUpdateForTest([&](const Value& dialog) {
    if (++runs == 1) rt::LabelJump(Value::String("table cannot be opened"));
    PostLine(dialog, "second run");
  });
  Value dialog = NewDialog();
  std::optional<Value> left = rt::BeginSequence([&] { ShowWith(dialog, {Click(IDC_OKBUTTON)}); });
  ASSERT_TRUE(left.has_value());
  EXPECT_EQ(left->GetString(), "table cannot be opened");
  EXPECT_TRUE(Control(dialog, IDC_OKBUTTON).enabled);
  EXPECT_FALSE(StateOf(dialog).running);
  Drain();
  EXPECT_EQ(ShowWith(dialog, {Click(IDC_OKBUTTON), Click(IDC_CANCELBUTTON)}), 1);
  EXPECT_EQ(runs, 2);
  EXPECT_FALSE(Control(dialog, IDC_OKBUTTON).enabled);
}

// Nothing planted: OK runs the tariff update itself; in a program directory without its
// configuration that is the one line saying so.
TEST_F(MainDialogTest, WithoutAPlantedUpdateOkRunsTheTariffUpdate) {
  testsupport::ScratchDir dir("shell-no-config");
  ASSERT_FALSE(dir.path().empty());
  const std::string program_dir = dir.path() + "/";
  rt::DeclareFileSpecClass();  // the update reads its configuration through IniFileSpec
  ini::DeclareIniClasses();
  rt::SetWorkDir(program_dir);
  Value dialog = NewDialog();
  EXPECT_EQ(ShowWith(dialog, {Click(IDC_OKBUTTON), Click(IDC_CANCELBUTTON)}), 1);
  rt::SetWorkDir("");
  EXPECT_THAT(
      Control(dialog, IDC_LISTBOX1).items,
      ElementsAre(std::string(tariff::text::kIniNotFound) + program_dir + tariff::text::kIniName));
  EXPECT_FALSE(Control(dialog, IDC_OKBUTTON).enabled);
  EXPECT_TRUE(error_codes_.empty());
}

TEST_F(MainDialogTest, UpdateRunsInsideTheOkHandlersActivation) {
  std::vector<std::string> names;
  PlantUpdateForTest([&](const Value&) {
    for (uint32_t level = 0; level < 3; ++level) {
      names.push_back(rt::ProcName(level) + "/" + rt::ProcFile(level));
    }
  });
  Value dialog = NewDialog();
  ShowWith(dialog, {Click(IDC_OKBUTTON), Click(IDC_CANCELBUTTON)});
  // The click reaches the handler from inside the dialog's modal loop.
  EXPECT_THAT(names, ElementsAre("MAINDIALOG:OKBUTTON/Dialog", "DIALOGWINDOW:SHOW/Gui", "/"));
}

TEST_F(MainDialogTest, AppStartShowsTheDialogAndReturnsWhenItEnds) {
  std::string seen;
  gui::headless::SetIdleHandler([&](platform::WindowHandle h) {
    if (!seen.empty()) return false;
    const gui::headless::DialogState* active = gui::headless::ActiveDialog();
    if (!active || active->handle != h) return false;
    seen = active->template_name + " " + active->caption;
    gui::headless::PostClick(h, IDC_CANCELBUTTON);
    return true;
  });
  Value r = gui::Start();
  EXPECT_TRUE(r.IsNil());
  EXPECT_EQ(seen, "MainDialog Modification Tarifs 2017");
  EXPECT_EQ(gui::headless::ActiveDialog(), nullptr);
}

}  // namespace
}  // namespace shell

namespace shell::testing {
namespace {

// Unattended: the program needs no input at all. OK is pressed by the program, the update runs
// once, `done` sees OK disabled and the lines, then "Fermer" ends the dialog. Started again
// the usual way, the dialog waits for input (here: none, so the loop ends it with -1 and
// nothing runs).
TEST_F(MainDialogTest, AutoRunPressesOkThenFermerWithoutAnyInput) {
  for (bool unattended : {true, false}) {
    SCOPED_TRACE(unattended);
    int runs = 0, done_calls = 0;
    bool ok_enabled_in_done = true;
    size_t lines_in_done = 0;
    PlantUpdateForTest([&](const rt::Value& dialog) {
      ++runs;
      PostLine(dialog, "ligne");
      Pump(dialog);
    });
    auto done = [&](const rt::Value& dialog) {
      ++done_calls;
      ok_enabled_in_done = Control(dialog, IDC_OKBUTTON).enabled;
      lines_in_done = Control(dialog, IDC_LISTBOX1).items.size();
    };
    if (unattended) {
      RunUnattended(done);
    } else {
      rt::Send(rt::CreateInstance(rt::String2Symbol("App")), "Start");
    }
    EXPECT_EQ(runs, unattended ? 1 : 0);
    EXPECT_EQ(done_calls, unattended ? 1 : 0);
    if (unattended) {
      EXPECT_FALSE(ok_enabled_in_done);
      EXPECT_EQ(lines_in_done, 1u);
    }
    EXPECT_TRUE(error_codes_.empty());
  }
}

}  // namespace
}  // namespace shell::testing
