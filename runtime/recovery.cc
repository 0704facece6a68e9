#include "runtime/recovery.h"

#include "runtime/error.h"

namespace rt {
namespace {

RecoveryPoint* g_innermost = nullptr;

}  // namespace

RecoveryPoint::RecoveryPoint() : previous_(g_innermost) { g_innermost = this; }

RecoveryPoint::~RecoveryPoint() { g_innermost = previous_; }

void ForgetRecoveryPoints() { g_innermost = nullptr; }

bool CanBreak() { return g_innermost != nullptr; }

void LabelJump(Value value) {
  if (!g_innermost) Quit();
  throw Unwind{g_innermost, std::move(value)};
}

std::optional<Value> BeginSequence(const std::function<void()>& body) {
  RecoveryPoint here;
  try {
    body();
    return std::nullopt;
  } catch (Unwind& u) {
    if (u.target != &here) throw;
    return std::move(u.value);
  }
}

}  // namespace rt
