// The Windows back-end: real dialogs from the templates of the program's own module.
#include <windows.h>
#include <commctrl.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "gui/backend.h"

namespace gui {
namespace {

HINSTANCE Module() { return GetModuleHandleA(nullptr); }

COLORREF ColorRef(Rgb c) { return RGB(c.red, c.green, c.blue); }

void RethrowStored() {
  if (std::exception_ptr e = platform::TakeCallbackException()) std::rethrow_exception(e);
}

class Win32Control : public ControlBackend {
 public:
  explicit Win32Control(HWND hwnd) : hwnd_(hwnd) {}
  ~Win32Control() override {
    if (font_) DeleteObject(font_);
    if (brush_) DeleteObject(brush_);
  }
  platform::WindowHandle handle() const override { return hwnd_; }
  std::string Text() const override {
    std::string text(static_cast<size_t>(GetWindowTextLengthA(hwnd_)) + 1, '\0');
    text.resize(
        static_cast<size_t>(GetWindowTextA(hwnd_, text.data(), static_cast<int>(text.size()))));
    return text;
  }
  void SetText(std::string_view text) override { SetWindowTextA(hwnd_, std::string(text).c_str()); }
  bool IsEnabled() const override { return IsWindowEnabled(hwnd_) != 0; }
  void Enable(bool on) override { EnableWindow(hwnd_, on ? TRUE : FALSE); }

  // A font chosen in WM_CTLCOLORSTATIC does not reach a dialog control: it gets its own.
  void SetFont(const FontSpec& font, bool redraw) override {
    LOGFONTA lf{};
    HDC dc = GetDC(hwnd_);
    lf.lfHeight = -MulDiv(font.points, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(hwnd_, dc);
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfPitchAndFamily = static_cast<BYTE>(font.family);
    lstrcpynA(lf.lfFaceName, font.face.c_str(), LF_FACESIZE);
    HFONT made = CreateFontIndirectA(&lf);
    if (!made) return;
    SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(made), redraw ? TRUE : FALSE);
    if (font_) DeleteObject(font_);
    font_ = made;
  }
  void SetTextColor(Rgb color) override {
    text_color_ = color;
    InvalidateRect(hwnd_, nullptr, TRUE);
  }
  void SetBackground(Rgb color) override {
    HBRUSH made = CreateSolidBrush(ColorRef(color));
    if (!made) return;
    if (brush_) DeleteObject(brush_);
    brush_ = made;
    background_ = color;
    InvalidateRect(hwnd_, nullptr, TRUE);
  }
  int AddItem(std::string_view text, int before) override {
    std::string s(text);
    LRESULT r = before < 0
                    ? SendMessageA(hwnd_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str()))
                    : SendMessageA(hwnd_, LB_INSERTSTRING, static_cast<WPARAM>(before),
                                   reinterpret_cast<LPARAM>(s.c_str()));
    return r < 0 ? -1 : static_cast<int>(r);
  }
  int ItemCount() const override {
    LRESULT r = SendMessageA(hwnd_, LB_GETCOUNT, 0, 0);
    return r < 0 ? 0 : static_cast<int>(r);
  }
  std::string ItemText(int index) const override {
    LRESULT len = SendMessageA(hwnd_, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (len < 0) return {};
    std::string text(static_cast<size_t>(len) + 1, '\0');
    LRESULT got = SendMessageA(hwnd_, LB_GETTEXT, static_cast<WPARAM>(index),
                               reinterpret_cast<LPARAM>(text.data()));
    text.resize(got < 0 ? 0 : static_cast<size_t>(got));
    return text;
  }
  // LB_SETCURSEL also scrolls the line into view.
  void SelectItem(int index) override {
    SendMessageA(hwnd_, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
  int SelectedItem() const override {
    LRESULT r = SendMessageA(hwnd_, LB_GETCURSEL, 0, 0);
    return r == LB_ERR ? -1 : static_cast<int>(r);
  }

  // WM_CTLCOLORSTATIC: colours for the DC and the background brush, or 0 for the defaults.
  INT_PTR Colors(HDC dc) const {
    if (!text_color_ && !brush_) return 0;
    if (text_color_) ::SetTextColor(dc, ColorRef(*text_color_));
    if (!brush_) return 0;
    SetBkColor(dc, ColorRef(background_));
    return reinterpret_cast<INT_PTR>(brush_);
  }

 private:
  HWND hwnd_;
  HFONT font_ = nullptr;
  HBRUSH brush_ = nullptr;
  std::optional<Rgb> text_color_;
  Rgb background_;
};

class Win32Dialog : public DialogBackend {
 public:
  ~Win32Dialog() override {
    controls_.clear();
    if (hwnd_) DestroyWindow(hwnd_);
  }

  bool Create(std::string_view template_name, platform::WindowHandle owner, DialogEvents events,
              std::string* failure) override {
    static const bool common_controls = [] {
      INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES};
      return InitCommonControlsEx(&icc) != 0;
    }();
    (void)common_controls;
    events_ = std::move(events);
    owner_ = static_cast<HWND>(owner);
    std::string name(template_name);
    HWND hwnd = CreateDialogParamA(Module(), name.c_str(), owner_, &DialogProc,
                                   reinterpret_cast<LPARAM>(this));
    if (!hwnd) {
      *failure = "CreateDialogParam failed with error " + std::to_string(GetLastError());
      RethrowStored();
      return false;
    }
    hwnd_ = hwnd;
    for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      controls_[GetDlgCtrlID(child)] = std::make_unique<Win32Control>(child);
    }
    RethrowStored();
    return true;
  }

  platform::WindowHandle handle() const override { return hwnd_; }
  ControlBackend* Control(int id) override {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second.get();
  }
  std::string Caption() const override {
    std::string text(static_cast<size_t>(GetWindowTextLengthA(hwnd_)) + 1, '\0');
    text.resize(
        static_cast<size_t>(GetWindowTextA(hwnd_, text.data(), static_cast<int>(text.size()))));
    return text;
  }
  void SetCaption(std::string_view text) override {
    SetWindowTextA(hwnd_, std::string(text).c_str());
  }
  void SetIcon(void* icon, bool small) override {
    SendMessageA(hwnd_, WM_SETICON, small ? ICON_SMALL : ICON_BIG, reinterpret_cast<LPARAM>(icon));
  }

  int RunModal() override {
    running_ = true;
    ended_ = false;
    struct Leave {
      Win32Dialog* d;
      ~Leave() {
        ShowWindow(d->hwnd_, SW_HIDE);
        if (d->owner_) EnableWindow(d->owner_, TRUE);
        d->running_ = false;
      }
    } leave{this};
    if (owner_) EnableWindow(owner_, FALSE);
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
    while (!ended_) {
      MSG msg;
      BOOL got = GetMessageA(&msg, nullptr, 0, 0);
      if (got == 0) {
        // The quit belongs to the loop outside the dialog: leave it there.
        PostQuitMessage(static_cast<int>(msg.wParam));
        End(0);
        break;
      }
      if (got == -1) {
        End(-1);
        break;
      }
      if (IsDialogMessageA(hwnd_, &msg)) {
        RethrowStored();
        continue;
      }
      TranslateMessage(&msg);
      platform::DispatchMessageA(platform::Message{msg.hwnd, msg.message, msg.wParam, msg.lParam,
                                                   static_cast<uint32_t>(msg.time), msg.pt.x,
                                                   msg.pt.y});
    }
    return result_;
  }

  void End(int result) override {
    result_ = result;
    ended_ = true;
    PostMessageA(hwnd_, WM_NULL, 0, 0);  // wakes the modal loop
  }
  bool Running() const override { return running_; }

 private:
  // No exception crosses into USER32: it is kept and rethrown by whoever dispatched.
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
      SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
      return TRUE;
    }
    auto* self = reinterpret_cast<Win32Dialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!self) return FALSE;
    try {
      return self->Handle(hwnd, message, wparam, lparam);
    } catch (...) {
      platform::StoreCallbackException(std::current_exception());
      return TRUE;
    }
  }

  INT_PTR Handle(HWND, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
      case WM_COMMAND:
        if (events_.command) events_.command(LOWORD(wparam), HIWORD(wparam));
        return TRUE;
      case WM_CTLCOLORSTATIC:
        for (auto& [id, control] : controls_) {
          if (control->handle() == reinterpret_cast<HWND>(lparam)) {
            return control->Colors(reinterpret_cast<HDC>(wparam));
          }
        }
        return FALSE;
      default:
        return FALSE;  // WM_CLOSE and Esc come back as IDCANCEL through the dialog manager
    }
  }

  HWND hwnd_ = nullptr;
  HWND owner_ = nullptr;
  std::map<int, std::unique_ptr<Win32Control>> controls_;
  DialogEvents events_;
  bool running_ = false;
  bool ended_ = false;
  int result_ = 0;
};

}  // namespace

std::unique_ptr<DialogBackend> MakeDialogBackend() { return std::make_unique<Win32Dialog>(); }

void* LoadIconResource(std::string_view name) {
  std::string s(name);
  return LoadImageA(Module(), s.c_str(), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE);
}

}  // namespace gui
