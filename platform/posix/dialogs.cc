#include "platform/dialogs.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "platform/cp1252.h"
#include "platform/posix/dialogs_console.h"

namespace platform {
namespace {

struct DialogState {
  MessageBoxHook message_box_hook;
  BeepHook beep_hook;
  uint32_t policy = kErrorBoxQuit;
};

DialogState& State() {
  static auto* state = new DialogState;
  return *state;
}

// Text for the terminal: a byte without a character shows as U+FFFD rather
// than as a C1 control the terminal might act on.
std::string Shown(std::string_view ansi) {
  return Cp1252ToUtf8(ansi, UndefinedBytes::kAsReplacement);
}

bool Offered(uint32_t answer, uint32_t def, uint32_t retry) {
  return (answer == kErrorBoxDefault && def != 0) || (answer == kErrorBoxRetry && retry != 0) ||
         answer == kErrorBoxQuit;
}

}  // namespace

int MessageBoxA(std::string_view text, std::string_view caption, uint32_t type) {
  if (State().message_box_hook) return State().message_box_hook(text, caption, type);
  std::fprintf(stderr, "%s: %s\n", Shown(caption).c_str(), Shown(text).c_str());
  return kIdOk;
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
  MessageBoxHook old = std::move(State().message_box_hook);
  State().message_box_hook = std::move(hook);
  return old;
}

bool Beep(uint32_t frequency, uint32_t duration_ms) {
  // A console program has no tone generator; the terminal bell would only
  // ring on the machine that runs the terminal, so stay silent.
  if (State().beep_hook) State().beep_hook(frequency, duration_ms);
  return true;
}

BeepHook SetBeepHook(BeepHook hook) {
  BeepHook old = std::move(State().beep_hook);
  State().beep_hook = std::move(hook);
  return old;
}

void SetErrorBoxPolicy(uint32_t answer) { State().policy = answer; }

uint32_t ErrorBoxPolicy() { return State().policy; }

uint32_t ConsoleErrorBox(std::FILE* in, std::FILE* err, bool interactive, uint32_t policy,
                         std::string_view text, std::string_view caption, uint32_t def,
                         uint32_t retry, uint32_t quit) {
  std::string report = Shown(text);
  // The report's lines end with CR LF; a terminal wants LF alone.
  std::string lf;
  for (size_t i = 0; i < report.size(); ++i) {
    if (report[i] == '\r' && i + 1 < report.size() && report[i + 1] == '\n') continue;
    lf.push_back(report[i]);
  }
  if (!lf.empty() && lf.back() != '\n') lf.push_back('\n');
  std::fprintf(err, "*** %s ***\n%s", Shown(caption).c_str(), lf.c_str());
  if (!interactive) {
    uint32_t answer = Offered(policy, def, retry) ? policy : kErrorBoxQuit;
    std::fprintf(err, "(answered: %s)\n",
                 answer == kErrorBoxDefault ? "default"
                 : answer == kErrorBoxRetry ? "retry"
                                            : "quit");
    std::fflush(err);
    return answer;
  }
  for (;;) {
    std::string prompt;
    if (def) prompt += "[d]efault, ";
    if (retry) prompt += "[r]etry, ";
    prompt += (quit & 0x7FFFFFFFu) == 3 ? "[q]uit the operation? " : "[q]uit the program? ";
    std::fputs(prompt.c_str(), err);
    std::fflush(err);
    char line[64];
    if (!std::fgets(line, sizeof line, in)) return kErrorBoxQuit;
    int c = std::tolower(static_cast<unsigned char>(line[0]));
    if (c == 'd' && def) return kErrorBoxDefault;
    if (c == 'r' && retry) return kErrorBoxRetry;
    if (c == 'q') return kErrorBoxQuit;
  }
}

uint32_t ShowErrorBox(std::string_view text, std::string_view caption, uint32_t def, uint32_t retry,
                      uint32_t quit) {
  return ConsoleErrorBox(stdin, stderr, isatty(STDIN_FILENO) != 0, State().policy, text, caption,
                         def, retry, quit);
}

}  // namespace platform
