#include "errors/call_stack.h"

#include <string_view>

#include "runtime/activation.h"
#include "runtime/convert.h"

namespace errors {
namespace {

bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

}  // namespace

CallStackSettings& CallStackConfig() {
  static CallStackSettings settings;
  return settings;
}

void InitCallStackSettings() { CallStackConfig() = CallStackSettings(); }

std::string CallStackText(uint32_t start_level) {
  const CallStackSettings& settings = CallStackConfig();
  const uint32_t depth = rt::ActivationDepth();
  uint32_t budget = settings.max_lines > 1 ? settings.max_lines : 1;
  uint32_t exec_left = settings.exec_levels;
  std::string text;
  // Unsigned on purpose: a start level past the depth does not end the loop,
  // it lists empty levels until the budget is spent.
  for (uint32_t level = start_level; depth - level != 0;) {
    if (budget == 0) break;
    --budget;
    if (settings.show_level) {
      text += level > depth ? std::string("*** , ")
                            : rt::StrZero(rt::Value::Dword(depth - level), 3) + ", ";
    }
    if (settings.show_file) text += rt::ProcFile(level) + ", ";
    std::string name = rt::ProcName(level);
    if (name.empty()) name = "*ProcName*";
    text += name + " (Line:" + rt::NTrim(rt::Value::Dword(rt::ProcLine(level))) + ")\r\n";
    ++level;
    if (exec_left > 0 && (EndsWith(name, ":EXEC") || EndsWith(name, ":DISPATCH"))) {
      if (--exec_left == 0) break;
    }
  }
  if (text.empty()) return "*EmptyCallStack*\r\n";
  return text;
}

}  // namespace errors
