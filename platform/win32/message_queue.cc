// The thread's message queue on Windows: straight through to USER32.
#include "platform/message_queue.h"

#include <windows.h>

#include <map>
#include <utility>

namespace platform {
namespace {

constexpr char kProcWindowClass[] = "PlatformProcWindow";

struct QueueState {
  std::map<HWND, WindowProc> procs;
  int dispatch_depth = 0;
  std::exception_ptr stored;
};

QueueState& State() {
  static QueueState state;
  return state;
}

HWND Hwnd(WindowHandle w) { return static_cast<HWND>(w); }

// No exception may cross into USER32: it is kept and rethrown on our side.
LRESULT CALLBACK ProcThunk(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto it = State().procs.find(hwnd);
  if (it == State().procs.end() || !it->second) {
    return DefWindowProcA(hwnd, message, wparam, lparam);
  }
  WindowProc proc = it->second;
  try {
    return proc(hwnd, message, wparam, lparam);
  } catch (...) {
    StoreCallbackException(std::current_exception());
    return 0;
  }
}

bool RegisterProcClass() {
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ProcThunk;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kProcWindowClass;
    return RegisterClassA(&wc) != 0;
  }();
  return registered;
}

void RethrowStored() {
  if (std::exception_ptr e = TakeCallbackException()) std::rethrow_exception(e);
}

}  // namespace

bool PeekMessageA(Message* msg, WindowHandle filter, uint32_t min, uint32_t max, uint32_t remove) {
  MSG m{};
  if (!::PeekMessageA(&m, Hwnd(filter), min, max, remove)) return false;
  *msg =
      Message{m.hwnd, m.message, m.wParam, m.lParam, static_cast<uint32_t>(m.time), m.pt.x, m.pt.y};
  return true;
}

bool TranslateMessage(const Message& msg) {
  MSG m{Hwnd(msg.window), msg.message, msg.wparam, msg.lparam, msg.time, {msg.x, msg.y}};
  return ::TranslateMessage(&m) != 0;
}

intptr_t DispatchMessageA(const Message& msg) {
  MSG m{Hwnd(msg.window), msg.message, msg.wparam, msg.lparam, msg.time, {msg.x, msg.y}};
  ++State().dispatch_depth;
  LRESULT r = ::DispatchMessageA(&m);
  --State().dispatch_depth;
  RethrowStored();
  return r;
}

bool PostMessageA(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return ::PostMessageA(Hwnd(window), message, wparam, lparam) != 0;
}

void PostQuitMessage(int exit_code) { ::PostQuitMessage(exit_code); }

WindowHandle CreateProcWindow(WindowHandle parent, WindowProc proc) {
  if (!RegisterProcClass()) return nullptr;
  DWORD style = parent ? WS_CHILD : WS_POPUP;
  HWND hwnd = CreateWindowExA(0, kProcWindowClass, "", style, 0, 0, 10, 10, Hwnd(parent), nullptr,
                              GetModuleHandleA(nullptr), nullptr);
  if (hwnd != nullptr) State().procs[hwnd] = std::move(proc);
  return hwnd;
}

void DestroyProcWindow(WindowHandle window) {
  DestroyWindow(Hwnd(window));
  // Children go with their parent: forget every procedure whose window is gone.
  std::erase_if(State().procs, [](const auto& entry) { return !IsWindow(entry.first); });
}

intptr_t SendMessageA(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  LRESULT r = ::SendMessageA(Hwnd(window), message, wparam, lparam);
  RethrowStored();
  return r;
}

void InvalidateWindow(WindowHandle window) { InvalidateRect(Hwnd(window), nullptr, FALSE); }

void StoreCallbackException(std::exception_ptr e) {
  if (!State().stored) State().stored = std::move(e);
}

std::exception_ptr TakeCallbackException() { return std::exchange(State().stored, nullptr); }

int DispatchDepth() { return State().dispatch_depth; }

}  // namespace platform
