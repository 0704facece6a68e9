#include "runtime/activation.h"

#include <vector>

namespace rt {
namespace {

std::vector<Routine*>& Stack() {
  static auto* stack = new std::vector<Routine*>;
  return *stack;
}

const Routine* At(uint32_t level) {
  auto& s = Stack();
  if (level >= s.size()) return nullptr;
  return s[s.size() - 1 - level];
}

}  // namespace

Routine::Routine(const char* name, const char* module, uint32_t line)
    : name_(name), module_(module), line_(line) {
  Stack().push_back(this);
}

Routine::~Routine() {
  // Frames leave in reverse order of entry, also while an exception unwinds.
  auto& s = Stack();
  if (!s.empty() && s.back() == this) s.pop_back();
}

void SetCurrentLine(uint32_t line) {
  auto& s = Stack();
  if (!s.empty()) s.back()->SetLine(line);
}

uint32_t ActivationDepth() { return static_cast<uint32_t>(Stack().size()); }

std::string ProcName(uint32_t level) {
  const Routine* r = At(level);
  return r && r->name_ ? r->name_ : "";
}

uint32_t ProcLine(uint32_t level) {
  const Routine* r = At(level);
  return r ? r->line_ : 0;
}

std::string ProcFile(uint32_t level) {
  const Routine* r = At(level);
  return r && r->module_ ? r->module_ : "";
}

}  // namespace rt
