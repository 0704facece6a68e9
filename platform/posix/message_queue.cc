// The portable message queue: the Windows queue rules without a window system.
#include "platform/message_queue.h"

#include <chrono>
#include <deque>
#include <map>
#include <utility>

namespace platform {
namespace {

struct WindowRecord {
  WindowHandle parent = nullptr;
  WindowProc proc;
  bool invalid = false;
};

struct QueueState {
  std::map<uintptr_t, WindowRecord> windows;  // by handle value: creation order
  std::deque<Message> posted;
  bool quit_pending = false;
  int quit_code = 0;
  uintptr_t next_handle = 0x10010;
  int dispatch_depth = 0;
  std::exception_ptr stored;
};

QueueState& State() {
  static QueueState state;
  return state;
}

uintptr_t Key(WindowHandle w) { return reinterpret_cast<uintptr_t>(w); }

WindowRecord* Find(WindowHandle w) {
  auto it = State().windows.find(Key(w));
  return it == State().windows.end() ? nullptr : &it->second;
}

uint32_t TickCount() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// The filter rule: null takes everything, a window takes itself and its descendants;
// thread messages (no window) only go to the null filter.
bool Matches(WindowHandle filter, WindowHandle target) {
  if (filter == nullptr) return true;
  if (target == nullptr) return false;
  for (WindowHandle w = target; w != nullptr;) {
    if (w == filter) return true;
    const WindowRecord* rec = Find(w);
    w = rec ? rec->parent : nullptr;
  }
  return false;
}

bool InRange(uint32_t message, uint32_t min, uint32_t max) {
  if (min == 0 && max == 0) return true;
  return message >= min && message <= max;
}

// Characters a key-down stands for, as the US layout gives them without modifiers.
int CharForKey(uintptr_t vk) {
  if (vk >= 'A' && vk <= 'Z') return static_cast<int>(vk - 'A' + 'a');
  if (vk >= '0' && vk <= '9') return static_cast<int>(vk);
  switch (vk) {
    case 0x08:  // back
    case 0x09:  // tab
    case 0x0D:  // return
    case 0x1B:  // escape
    case 0x20:  // space
      return static_cast<int>(vk);
    default:
      return -1;
  }
}

}  // namespace

bool PeekMessageA(Message* msg, WindowHandle filter, uint32_t min, uint32_t max, uint32_t remove) {
  QueueState& s = State();
  for (auto it = s.posted.begin(); it != s.posted.end(); ++it) {
    if (!Matches(filter, it->window) || !InRange(it->message, min, max)) continue;
    *msg = *it;
    if (remove & kPmRemove) s.posted.erase(it);
    return true;
  }
  if (s.quit_pending) {
    *msg = Message{nullptr, kWmQuit, static_cast<uintptr_t>(s.quit_code), 0, TickCount(), 0, 0};
    if (remove & kPmRemove) s.quit_pending = false;
    return true;
  }
  if (InRange(kWmPaint, min, max)) {
    for (auto& [key, rec] : s.windows) {
      WindowHandle w = reinterpret_cast<WindowHandle>(key);
      if (!rec.invalid || !Matches(filter, w)) continue;
      // Painting stays pending until the window is painted (DispatchMessage clears it).
      *msg = Message{w, kWmPaint, 0, 0, TickCount(), 0, 0};
      return true;
    }
  }
  return false;
}

bool TranslateMessage(const Message& msg) {
  if (msg.message != kWmKeyDown && msg.message != kWmKeyUp) return false;
  if (msg.message == kWmKeyDown) {
    int c = CharForKey(msg.wparam);
    if (c >= 0) PostMessageA(msg.window, kWmChar, static_cast<uintptr_t>(c), msg.lparam);
  }
  return true;
}

intptr_t DispatchMessageA(const Message& msg) {
  WindowRecord* rec = msg.window ? Find(msg.window) : nullptr;
  if (rec == nullptr || !rec->proc) return 0;
  if (msg.message == kWmPaint) rec->invalid = false;
  WindowProc proc = rec->proc;  // the window may go while its procedure runs
  struct Depth {
    Depth() { ++State().dispatch_depth; }
    ~Depth() { --State().dispatch_depth; }
  } depth;
  return proc(msg.window, msg.message, msg.wparam, msg.lparam);
}

bool PostMessageA(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (window != nullptr && Find(window) == nullptr) return false;
  State().posted.push_back(Message{window, message, wparam, lparam, TickCount(), 0, 0});
  return true;
}

void PostQuitMessage(int exit_code) {
  State().quit_pending = true;
  State().quit_code = exit_code;
}

WindowHandle CreateProcWindow(WindowHandle parent, WindowProc proc) {
  if (parent != nullptr && Find(parent) == nullptr) return nullptr;
  QueueState& s = State();
  uintptr_t key = s.next_handle;
  s.next_handle += 4;
  s.windows[key] = WindowRecord{parent, std::move(proc), false};
  return reinterpret_cast<WindowHandle>(key);
}

void DestroyProcWindow(WindowHandle window) {
  QueueState& s = State();
  if (Find(window) == nullptr) return;
  std::deque<WindowHandle> doomed{window};
  for (size_t i = 0; i < doomed.size(); ++i) {
    for (auto& [key, rec] : s.windows) {
      if (rec.parent == doomed[i]) doomed.push_back(reinterpret_cast<WindowHandle>(key));
    }
  }
  for (WindowHandle w : doomed) {
    std::erase_if(s.posted, [w](const Message& m) { return m.window == w; });
    s.windows.erase(Key(w));
  }
}

intptr_t SendMessageA(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  WindowRecord* rec = Find(window);
  if (rec == nullptr || !rec->proc) return 0;
  WindowProc proc = rec->proc;
  return proc(window, message, wparam, lparam);
}

void InvalidateWindow(WindowHandle window) {
  if (WindowRecord* rec = Find(window)) rec->invalid = true;
}

void StoreCallbackException(std::exception_ptr e) {
  if (!State().stored) State().stored = std::move(e);
}

std::exception_ptr TakeCallbackException() { return std::exchange(State().stored, nullptr); }

int DispatchDepth() { return State().dispatch_depth; }

}  // namespace platform
