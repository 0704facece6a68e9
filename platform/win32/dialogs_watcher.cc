#include "platform/win32/dialogs_watcher.h"

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

namespace platform {

struct BoxWatcher::State {
  std::string caption;
  int press_id;
  int timeout_ms;
  bool found = false;
  std::string report;
  std::vector<int> buttons;
  std::thread thread;
};

namespace {

struct BoxSearch {
  const char* caption;  // null: any caption
  HWND found = nullptr;
};

BOOL CALLBACK MatchOwnBox(HWND w, LPARAM param) {
  auto* s = reinterpret_cast<BoxSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid != GetCurrentProcessId() || !IsWindowVisible(w)) return TRUE;
  char cls[16] = {};
  GetClassNameA(w, cls, sizeof cls);
  if (std::string(cls) != "#32770") return TRUE;
  if (s->caption) {
    char text[256] = {};
    GetWindowTextA(w, text, sizeof text);
    if (std::string(text) != s->caption) return TRUE;
  }
  s->found = w;
  return FALSE;
}

// A visible dialog box of this process with the caption (any caption when null): ctest runs
// other test programs beside this one, and their boxes are theirs.
HWND FindOwnBox(const char* caption) {
  BoxSearch search{caption};
  EnumWindows(&MatchOwnBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void Watch(std::string caption, int press_id, int timeout_ms, bool* found, std::string* report,
           std::vector<int>* buttons) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  HWND box = nullptr;
  while (!box && std::chrono::steady_clock::now() < deadline) {
    box = FindOwnBox(caption.c_str());
    if (!box) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!box) {
    // The box expected did not come: whatever box the test shows instead is closed, so the
    // test goes on to fail on what it got instead of waiting for ever.
    auto rescue_end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < rescue_end) {
      if (HWND other = FindOwnBox(nullptr)) PostMessageA(other, WM_CLOSE, 0, 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return;
  }
  *found = true;
  std::vector<char> text(1 << 20);
  if (GetDlgItemTextA(box, kErrorBoxReportId, text.data(), static_cast<int>(text.size())) > 0) {
    *report = text.data();
  }
  for (int id : {kErrorBoxDefaultId, kErrorBoxRetryId, kErrorBoxQuitId}) {
    if (GetDlgItem(box, id)) buttons->push_back(id);
  }
  if (press_id == 0) {
    PostMessageA(box, WM_CLOSE, 0, 0);
  } else {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(press_id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, press_id)));
  }
}

}  // namespace

BoxWatcher::BoxWatcher(std::string caption, int press_id, int timeout_ms)
    : state_(std::make_unique<State>()) {
  state_->caption = std::move(caption);
  state_->press_id = press_id;
  state_->timeout_ms = timeout_ms;
  State* s = state_.get();
  s->thread =
      std::thread(Watch, s->caption, press_id, timeout_ms, &s->found, &s->report, &s->buttons);
}

BoxWatcher::~BoxWatcher() { Join(); }

void BoxWatcher::Join() {
  if (state_->thread.joinable()) state_->thread.join();
}

bool BoxWatcher::found() const { return state_->found; }

const std::string& BoxWatcher::report() const { return state_->report; }

const std::vector<int>& BoxWatcher::buttons() const { return state_->buttons; }

}  // namespace platform
