// CallStackText: the runtime's activation stack as a short text, one line per
// routine, innermost first, as the error object records it and the error box
// and log show it. Four module-wide settings shape the listing; they are set
// once at program start (InitCallStackSettings) and tests may change them.
// CallStackText does not register itself on the activation stack, so levels
// count from its caller (level 0 is the routine that asks). One thread only.
#pragma once

#include <cstdint>
#include <string>

namespace errors {

struct CallStackSettings {
  uint32_t max_lines = 5;    // CallStackMaxLines; 0 counts as 1
  uint32_t exec_levels = 0;  // CallStackExecLevels; stop after this many :EXEC/:DISPATCH
  bool show_level = false;   // CallStackShowLevel: "nnn, " frame number prefix
  bool show_file = false;    // CallStackShowFile: "Module, " prefix
};

CallStackSettings& CallStackConfig();
// The program's global initialiser: the default settings.
void InitCallStackSettings();

// Never empty: "*EmptyCallStack*" CR LF when no line was listed.
std::string CallStackText(uint32_t start_level);

}  // namespace errors
