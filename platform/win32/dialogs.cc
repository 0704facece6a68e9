#include "platform/dialogs.h"

#include <windows.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace platform {
namespace {

constexpr WORD kIdReport = 100;
constexpr WORD kIdDefault = 1001;
constexpr WORD kIdRetry = 1002;
constexpr WORD kIdQuit = 1003;

struct DialogState {
  MessageBoxHook message_box_hook;
  BeepHook beep_hook;
  uint32_t policy = kErrorBoxQuit;
};

DialogState& State() {
  static auto* state = new DialogState;
  return *state;
}

struct BoxArgs {
  std::string text;
  std::string caption;
  WORD first_button;
};

// A dialog template built in memory: DLGTEMPLATE and DLGITEMTEMPLATE records,
// WORD-aligned strings, each item on a DWORD boundary.
class TemplateBuilder {
 public:
  void Dialog(DWORD style, WORD items, short cx, short cy) {
    PutDword(style);
    PutDword(0);
    words_.push_back(items);
    PutShorts({0, 0, cx, cy});
    words_.push_back(0);  // no menu
    words_.push_back(0);  // standard dialog class
    words_.push_back(0);  // title set at WM_INITDIALOG, where it can stay ANSI
    words_.push_back(8);
    PutString(L"MS Shell Dlg");
  }
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom,
            const wchar_t* title) {
    if (words_.size() % 2) words_.push_back(0);
    PutDword(style | WS_CHILD | WS_VISIBLE);
    PutDword(0);
    PutShorts({x, y, cx, cy});
    words_.push_back(id);
    words_.push_back(0xFFFF);
    words_.push_back(atom);
    PutString(title);
    words_.push_back(0);  // no creation data
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void PutDword(DWORD v) {
    words_.push_back(LOWORD(v));
    words_.push_back(HIWORD(v));
  }
  void PutShorts(std::initializer_list<short> v) {
    for (short s : v) words_.push_back(static_cast<WORD>(s));
  }
  void PutString(const wchar_t* s) {
    for (; *s; ++s) words_.push_back(static_cast<WORD>(*s));
    words_.push_back(0);
  }
  // Heap storage starts suitably aligned for the DWORD fields.
  std::vector<WORD> words_;
};

INT_PTR CALLBACK BoxProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_INITDIALOG: {
      auto* args = reinterpret_cast<const BoxArgs*>(lparam);
      SetWindowTextA(hwnd, args->caption.c_str());
      SetDlgItemTextA(hwnd, kIdReport, args->text.c_str());
      SetFocus(GetDlgItem(hwnd, args->first_button));
      return FALSE;  // focus set here
    }
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case kIdDefault:
          EndDialog(hwnd, kErrorBoxDefault);
          return TRUE;
        case kIdRetry:
          EndDialog(hwnd, kErrorBoxRetry);
          return TRUE;
        case kIdQuit:
        case IDCANCEL:
          EndDialog(hwnd, kErrorBoxQuit);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

}  // namespace

int MessageBoxA(std::string_view text, std::string_view caption, uint32_t type) {
  if (State().message_box_hook) return State().message_box_hook(text, caption, type);
  return ::MessageBoxA(nullptr, std::string(text).c_str(), std::string(caption).c_str(), type);
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
  MessageBoxHook old = std::move(State().message_box_hook);
  State().message_box_hook = std::move(hook);
  return old;
}

bool Beep(uint32_t frequency, uint32_t duration_ms) {
  if (State().beep_hook) {
    State().beep_hook(frequency, duration_ms);
    return true;
  }
  return ::Beep(frequency, duration_ms) != FALSE;
}

BeepHook SetBeepHook(BeepHook hook) {
  BeepHook old = std::move(State().beep_hook);
  State().beep_hook = std::move(hook);
  return old;
}

void SetErrorBoxPolicy(uint32_t answer) { State().policy = answer; }

uint32_t ErrorBoxPolicy() { return State().policy; }

uint32_t ShowErrorBox(std::string_view text, std::string_view caption, uint32_t def, uint32_t retry,
                      uint32_t quit) {
  struct Button {
    bool offered;
    WORD id;
    const wchar_t* label;
  };
  const Button buttons[] = {{def != 0, kIdDefault, L"&Default"},
                            {retry != 0, kIdRetry, L"&Retry"},
                            {true, kIdQuit, L"&Quit"}};
  WORD count = 0;
  for (const Button& b : buttons) count += b.offered ? 1 : 0;

  constexpr short kWidth = 320, kHeight = 200, kButtonWidth = 56, kGap = 6;
  TemplateBuilder t;
  t.Dialog(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT,
           static_cast<WORD>(count + 1), kWidth, kHeight);
  t.Item(ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_BORDER | WS_TABSTOP, 7, 7,
         kWidth - 14, kHeight - 36, kIdReport, 0x0081, L"");
  short x = static_cast<short>(kWidth - 7 - count * kButtonWidth - (count - 1) * kGap);
  BoxArgs args{std::string(text), std::string(caption), 0};
  for (const Button& b : buttons) {
    if (!b.offered) continue;
    DWORD style = WS_TABSTOP | (args.first_button == 0 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    if (args.first_button == 0) args.first_button = b.id;
    t.Item(style, x, kHeight - 21, kButtonWidth, 14, b.id, 0x0080, b.label);
    x = static_cast<short>(x + kButtonWidth + kGap);
  }
  INT_PTR answer = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), t.get(), nullptr, BoxProc,
                                           reinterpret_cast<LPARAM>(&args));
  if (answer == kErrorBoxDefault || answer == kErrorBoxRetry || answer == kErrorBoxQuit) {
    return static_cast<uint32_t>(answer);
  }
  // No box could be shown (no desktop): the report must still reach someone.
  std::fprintf(stderr, "*** %s ***\n%s\n", args.caption.c_str(), args.text.c_str());
  uint32_t policy = State().policy;
  bool offered = (policy == kErrorBoxDefault && def) || (policy == kErrorBoxRetry && retry);
  return offered ? policy : kErrorBoxQuit;
}

}  // namespace platform
