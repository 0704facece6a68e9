// The real main dialog under Windows (Wine in Xvfb): windows made from resources/maindialog.rc
// compared with the template's data through the Win32 API, and clicks through the real
// message path (BM_CLICK to the button, WM_COMMAND to the dialog, the method named by the
// button's label).
#include <windows.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "errors/error_object.h"
#include "gui/gui.h"
#include "platform/message_queue.h"
#include "runtime/error.h"
#include "runtime/functions.h"
#include "runtime/object.h"
#include "shell/shell.h"

namespace gui {
namespace {

using rt::Value;

std::string TextOf(HWND w) {
  char buf[512] = {};
  GetWindowTextA(w, buf, sizeof buf);
  return buf;
}

std::string ClassOf(HWND w) {
  char buf[64] = {};
  GetClassNameA(w, buf, sizeof buf);
  return rt::AsciiUpper(buf);
}

// A control's rectangle in the dialog's client coordinates.
RECT RectIn(HWND dialog, HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// The dialog manager maps position and size each on their own, as MapDialogRect maps the
// four members of a RECT; so do we, to get the pixels the template asks for.
RECT DialogUnits(HWND dialog, int x, int y, int cx, int cy) {
  RECT r{x, y, cx, cy};
  MapDialogRect(dialog, &r);
  return RECT{r.left, r.top, r.left + r.right, r.top + r.bottom};
}

MATCHER_P(SameRect, want, "") {
  return arg.left == want.left && arg.top == want.top && arg.right == want.right &&
         arg.bottom == want.bottom;
}

// Ends a dialog that nobody ends, so a broken click fails the test instead of hanging it.
class Watchdog {
 public:
  explicit Watchdog(HWND dialog)
      : thread_([this, dialog] {
          std::unique_lock lock(mutex_);
          if (!done_cv_.wait_for(lock, std::chrono::seconds(20), [this] { return done_; })) {
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_one();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread thread_;
};

class RealDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    errors::DeclareErrorClass();
    DeclareClasses();
    shell::DeclareClasses();
    rt::Program program;
    shell::AddToProgram(program);
    for (const rt::FunctionEntry& f : program.functions) {
      rt::RegisterFunction(f.name, f.declared_params, f.fn);
    }
    old_block_ = rt::ErrorBlock(Value::FromBlock(rt::MakeBlock(
        [this](rt::Args args) {
          errors_.push_back(
              args.empty() ? 0 : rt::IVarGet(args[0], rt::String2Symbol("GenCode")).GetDword());
          return Value::Logic(false);
        },
        1)));
    dialog_ = rt::CreateInstance(rt::String2Symbol("MainDialog"));
    hwnd_ = static_cast<HWND>(rt::Send(dialog_, "Handle").GetPtr());
    ASSERT_NE(hwnd_, nullptr);
  }
  void TearDown() override {
    shell::PlantUpdateForTest(nullptr);
    dialog_ = Value();
    rt::ErrorBlock(old_block_);
    EXPECT_TRUE(errors_.empty());
  }

  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

  static void PostLine(const Value& dialog, const std::string& line) {
    Value list = rt::IVarGet(dialog, rt::String2Symbol("ListBox1"));
    rt::Send(list, "AddItem", {Value::String(line), Value::Long(0), Value::Long(0)});
    rt::IVarPut(list, rt::String2Symbol("CurrentItemNo"),
                rt::IVarGet(list, rt::String2Symbol("ItemCount")));
  }

  Value dialog_;
  HWND hwnd_ = nullptr;
  std::vector<uint32_t> errors_;
  Value old_block_;
};

TEST_F(RealDialogTest, DialogMatchesTheTemplate) {
  const DialogTemplate& t = shell::MainDialogTemplate();
  EXPECT_EQ(TextOf(hwnd_), "Modification Tarifs 2017");
  DWORD style = GetWindowLongA(hwnd_, GWL_STYLE);
  EXPECT_EQ(style & t.style, t.style) << std::hex << style;
  EXPECT_FALSE(style & WS_VISIBLE);  // shown only by Show
  EXPECT_EQ(GetWindowLongA(hwnd_, GWL_EXSTYLE) & (WS_EX_CLIENTEDGE | WS_EX_TOOLWINDOW), 0);
  RECT client;
  GetClientRect(hwnd_, &client);
  RECT want = DialogUnits(hwnd_, 0, 0, t.cx, t.cy);
  EXPECT_EQ(client.right, want.right);
  EXPECT_EQ(client.bottom, want.bottom);

  // The controls, in template (tab) order.
  HWND child = GetWindow(hwnd_, GW_CHILD);
  for (const ControlTemplate& c : t.controls) {
    SCOPED_TRACE(c.id);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(GetDlgCtrlID(child), c.id);
    EXPECT_EQ(ClassOf(child), c.class_name);
    EXPECT_EQ(TextOf(child), c.text);
    DWORD cs = GetWindowLongA(child, GWL_STYLE);
    EXPECT_EQ(cs & c.style, c.style) << std::hex << cs;
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(child, GWL_EXSTYLE)) & WS_EX_CLIENTEDGE,
              c.ex_style);
    EXPECT_THAT(RectIn(hwnd_, child), SameRect(DialogUnits(hwnd_, c.x, c.y, c.cx, c.cy)));
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr);

  for (int id : {IDC_OKBUTTON, IDC_CANCELBUTTON}) {
    EXPECT_EQ(GetWindowLongA(Item(id), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);  // not default
  }
  DWORD list_style = GetWindowLongA(Item(IDC_LISTBOX1), GWL_STYLE);
  EXPECT_FALSE(list_style & LBS_SORT);
  EXPECT_TRUE(list_style & LBS_DISABLENOSCROLL);
  RECT ok = RectIn(hwnd_, Item(IDC_OKBUTTON));
  RECT fermer = RectIn(hwnd_, Item(IDC_CANCELBUTTON));
  EXPECT_LE(fermer.right, ok.left);
  EXPECT_EQ(fermer.top, ok.top);
}

TEST_F(RealDialogTest, PromptFontColoursAndIcons) {
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);

  HWND prompt = Item(IDC_FIXEDTEXT1);
  LOGFONTA lf{};
  ASSERT_TRUE(
      GetObjectA(reinterpret_cast<HFONT>(SendMessageA(prompt, WM_GETFONT, 0, 0)), sizeof lf, &lf));
  EXPECT_STREQ(lf.lfFaceName, "Microsoft Sans Serif");
  EXPECT_EQ(lf.lfHeight, -MulDiv(10, dpi, 72));
  LOGFONTA button_font{};
  ASSERT_TRUE(
      GetObjectA(reinterpret_cast<HFONT>(SendMessageA(Item(IDC_OKBUTTON), WM_GETFONT, 0, 0)),
                 sizeof button_font, &button_font));
  EXPECT_STREQ(button_font.lfFaceName, "MS Shell Dlg");
  EXPECT_EQ(button_font.lfHeight, -MulDiv(8, dpi, 72));

  HDC dc = GetDC(prompt);
  SetTextColor(dc, RGB(1, 2, 3));
  auto brush = reinterpret_cast<HBRUSH>(SendMessageA(
      hwnd_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(prompt)));
  LOGBRUSH lb{};
  ASSERT_TRUE(GetObjectA(brush, sizeof lb, &lb));
  EXPECT_EQ(lb.lbStyle, static_cast<UINT>(BS_SOLID));
  EXPECT_EQ(lb.lbColor, RGB(128, 255, 0));
  EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0));
  EXPECT_EQ(GetBkColor(dc), RGB(128, 255, 0));
  ReleaseDC(prompt, dc);

  auto big = reinterpret_cast<HICON>(SendMessageA(hwnd_, WM_GETICON, ICON_BIG, 0));
  auto small = reinterpret_cast<HICON>(SendMessageA(hwnd_, WM_GETICON, ICON_SMALL, 0));
  ASSERT_NE(big, nullptr);
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(big, rt::Send(rt::IVarGet(dialog_, rt::String2Symbol("Icon")), "Handle").GetPtr());
  EXPECT_EQ(small, rt::Send(rt::IVarGet(dialog_, rt::String2Symbol("IconSm")), "Handle").GetPtr());
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(big, &info));
  BITMAP bm{};
  GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
  EXPECT_EQ(bm.bmWidth, 32);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
}

TEST_F(RealDialogTest, ListScrollBarShowsDisabledUntilTheLinesOverflow) {
  HWND list = Item(IDC_LISTBOX1);
  SCROLLBARINFO sbi{};
  sbi.cbSize = sizeof sbi;
  ASSERT_TRUE(GetScrollBarInfo(list, OBJID_VSCROLL, &sbi));
  EXPECT_FALSE(sbi.rgstate[0] & STATE_SYSTEM_INVISIBLE);
  EXPECT_TRUE(sbi.rgstate[0] & STATE_SYSTEM_UNAVAILABLE);
  for (int i = 0; i < 40; ++i) PostLine(dialog_, "ligne " + std::to_string(40 - i));
  ASSERT_TRUE(GetScrollBarInfo(list, OBJID_VSCROLL, &sbi));
  EXPECT_FALSE(sbi.rgstate[0] & (STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_UNAVAILABLE));
  EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), 39);
  EXPECT_GT(SendMessageA(list, LB_GETTOPINDEX, 0, 0), 0);  // scrolled to the last line
  char first[32] = {};
  SendMessageA(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(first));
  EXPECT_STREQ(first, "ligne 40");  // in insertion order, not sorted
}

TEST_F(RealDialogTest, OkClickRunsTheUpdateOnceLeavesOkDisabledAndFermerEndsWithOne) {
  HWND ok = Item(IDC_OKBUTTON), fermer = Item(IDC_CANCELBUTTON);
  HWND list = Item(IDC_LISTBOX1);
  int runs = 0;
  bool ok_enabled_during_run = false;
  shell::PlantUpdateForTest([&](const Value& dialog) {
    ++runs;
    ok_enabled_during_run = IsWindowEnabled(ok);
    PostLine(dialog, "premi\xe8re ligne");
    PostMessageA(ok, BM_CLICK, 0, 0);  // a second click while the update runs
    rt::CallFunction("YieldMessageLoop", {dialog});
    PostLine(dialog, "derni\xe8re ligne");
  });
  bool ok_enabled_after = true;
  LRESULT lines = -1, selected = -1;
  std::string first_line(64, '\0');
  platform::WindowHandle probe = platform::CreateProcWindow(
      nullptr, [&](platform::WindowHandle, uint32_t m, uintptr_t, intptr_t) -> intptr_t {
        if (m != WM_APP) return 0;
        ok_enabled_after = IsWindowEnabled(ok);
        lines = SendMessageA(list, LB_GETCOUNT, 0, 0);
        selected = SendMessageA(list, LB_GETCURSEL, 0, 0);
        first_line.resize(
            SendMessageA(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(first_line.data())));
        PostMessageA(fermer, BM_CLICK, 0, 0);
        return 0;
      });
  PostMessageA(ok, BM_CLICK, 0, 0);
  PostMessageA(static_cast<HWND>(probe), WM_APP, 0, 0);
  Value result;
  {
    Watchdog watchdog(hwnd_);
    result = rt::Send(dialog_, "Show");
  }
  platform::DestroyProcWindow(probe);
  EXPECT_EQ(result.GetLong(), 1);
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(ok_enabled_during_run);
  EXPECT_FALSE(ok_enabled_after);
  EXPECT_EQ(lines, 2);
  EXPECT_EQ(selected, 1);
  EXPECT_EQ(first_line, "premi\xe8re ligne");
  EXPECT_FALSE(IsWindowVisible(hwnd_));
}

TEST_F(RealDialogTest, CloseBoxDuringTheRunStopsTheUpdateAndEndsWithOne) {
  int steps = 0;
  shell::PlantUpdateForTest([&](const Value& dialog) {
    for (int step = 1; step <= 4; ++step) {
      if (rt::Send(dialog, "UpdateStopRequested").GetLogic()) return;
      ++steps;
      if (step == 2) PostMessageA(hwnd_, WM_SYSCOMMAND, SC_CLOSE, 0);
      rt::CallFunction("YieldMessageLoop", {dialog});
      EXPECT_TRUE(IsWindowVisible(hwnd_));
    }
  });
  PostMessageA(Item(IDC_OKBUTTON), BM_CLICK, 0, 0);
  Value result;
  {
    Watchdog watchdog(hwnd_);
    result = rt::Send(dialog_, "Show");
  }
  EXPECT_EQ(result.GetLong(), 1);
  EXPECT_EQ(steps, 2);
}

}  // namespace
}  // namespace gui
