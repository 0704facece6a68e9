// The thread's window-message queue: PeekMessageA, TranslateMessage, DispatchMessageA,
// PostMessageA, and the windows whose procedures receive the messages.
//
// On Windows every call passes through to USER32. On Linux a portable queue keeps the same
// rules: posted messages come out first in, first out; a window filter selects the window
// and its descendants, a null filter every message of the thread; a quit message is seen by
// every filter; a window marked for repainting yields one WM_PAINT when nothing posted is
// pending for the filter. A window procedure may throw on Linux; on Windows an exception
// caught at the edge of a procedure (StoreCallbackException) is rethrown by DispatchMessage
// on this side of the Win32 call. One thread only.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>

namespace platform {

using WindowHandle = void*;  // an HWND on Windows

struct Message {
  WindowHandle window = nullptr;
  uint32_t message = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
  uint32_t time = 0;
  int32_t x = 0, y = 0;
};

constexpr uint32_t kWmNull = 0x0000;
constexpr uint32_t kWmDestroy = 0x0002;
constexpr uint32_t kWmPaint = 0x000F;
constexpr uint32_t kWmClose = 0x0010;
constexpr uint32_t kWmQuit = 0x0012;
constexpr uint32_t kWmKeyDown = 0x0100;
constexpr uint32_t kWmKeyUp = 0x0101;
constexpr uint32_t kWmChar = 0x0102;
constexpr uint32_t kWmCommand = 0x0111;
constexpr uint32_t kWmLButtonDown = 0x0201;
constexpr uint32_t kWmLButtonUp = 0x0202;
constexpr uint32_t kWmUser = 0x0400;
constexpr uint32_t kBnClicked = 0;
constexpr uint32_t kPmNoRemove = 0;
constexpr uint32_t kPmRemove = 1;

// PeekMessageA: takes (kPmRemove) or looks at the next message for the filter whose number
// lies in [min, max] (0, 0: every number). False when none is pending; never waits.
bool PeekMessageA(Message* msg, WindowHandle filter, uint32_t min, uint32_t max, uint32_t remove);
// TranslateMessage: a key-down of a character key also posts the WM_CHAR. True when it did.
bool TranslateMessage(const Message& msg);
// DispatchMessageA: runs the procedure of msg.window (nothing for a thread message).
intptr_t DispatchMessageA(const Message& msg);
// PostMessageA: appends to the queue (a null window: a thread message). False for a window
// that does not exist.
bool PostMessageA(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);
// PostQuitMessage: a WM_QUIT with the exit code in wparam.
void PostQuitMessage(int exit_code);

// Windows owned by the caller, with a procedure of its own (a message-only window on
// Windows, a child of parent when parent is not null). Used by the portable GUI back-end
// and by tests that watch what the queue delivers.
using WindowProc = std::function<intptr_t(WindowHandle window, uint32_t message, uintptr_t wparam,
                                          intptr_t lparam)>;
WindowHandle CreateProcWindow(WindowHandle parent, WindowProc proc);
void DestroyProcWindow(WindowHandle window);
// SendMessage: runs the window's procedure at once, bypassing the queue.
intptr_t SendMessageA(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);
// Marks a window for repainting (InvalidateRect of the whole window).
void InvalidateWindow(WindowHandle window);

// An exception caught at the edge of a window procedure, to be rethrown when control is
// back in C++ (the first one wins until it is taken).
void StoreCallbackException(std::exception_ptr e);
// Takes the stored exception (null when none).
std::exception_ptr TakeCallbackException();
// How many DispatchMessageA calls are running (nested pumps inside handlers).
int DispatchDepth();

}  // namespace platform
