// Message boxes, beeps and the platform's error box.
//
// MessageBoxA (no owner window) and Beep pass through to USER32/KERNEL32 on
// Windows; on Linux the box goes to stderr and is answered OK, the beep is
// silent. ShowErrorBox is the platform front end of the runtime's error box:
// on Windows a modal dialog with the whole report in a scrollable read-only
// field and one button per offered option; on Linux the report on stderr and,
// when stdin is a terminal, a prompt, otherwise the answer policy the program
// chose (quit unless told otherwise). Hooks let tests watch boxes and tones.
// One thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace platform {

constexpr uint32_t kMbOk = 0x0;
constexpr int kIdOk = 1;

// Shows a message box; returns the button pressed (kIdOk), 0 when none could
// be shown.
int MessageBoxA(std::string_view text, std::string_view caption, uint32_t type);
using MessageBoxHook =
    std::function<int(std::string_view text, std::string_view caption, uint32_t type)>;
// While a hook is set, MessageBoxA hands its arguments to it instead of
// showing anything. Returns the previous hook.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// One tone; duration in milliseconds.
bool Beep(uint32_t frequency, uint32_t duration_ms);
using BeepHook = std::function<void(uint32_t frequency, uint32_t duration_ms)>;
BeepHook SetBeepHook(BeepHook hook);

// Answers of the error box.
constexpr uint32_t kErrorBoxDefault = 1;
constexpr uint32_t kErrorBoxRetry = 2;
constexpr uint32_t kErrorBoxQuit = 3;

// Shows the error box. def is 1 when the default option is offered (else 0),
// retry 2 (else 0); quit always has bit 31 set, and the value 0x80000003 says
// a recovery point will take over, 0x80000000 that the program will end.
// Returns 1 (default), 2 (retry) or 3 (quit).
uint32_t ShowErrorBox(std::string_view text, std::string_view caption, uint32_t def, uint32_t retry,
                      uint32_t quit);

// Linux console: the answer when stdin is not a terminal (default: quit). An
// answer for an option that is not offered counts as quit.
void SetErrorBoxPolicy(uint32_t answer);
uint32_t ErrorBoxPolicy();

}  // namespace platform
