// Recovery points (BEGIN SEQUENCE ... RECOVER): LabelPush / LabelPop / LabelJump.
//
// A RecoveryPoint lives on the C++ stack; LabelJump unwinds to the innermost one
// by throwing Unwind, the only exception type the runtime throws, caught only
// by BeginSequence. It must never cross a Win32 callback: window procedures
// catch it at their edge (GuardCallback in the GUI back-end).
#pragma once

#include <functional>
#include <optional>

#include "runtime/value.h"

namespace rt {

class RecoveryPoint;

struct Unwind {
  RecoveryPoint* target;
  Value value;
};

class RecoveryPoint {
 public:
  RecoveryPoint();   // LabelPush
  ~RecoveryPoint();  // LabelPop
  RecoveryPoint(const RecoveryPoint&) = delete;
  RecoveryPoint& operator=(const RecoveryPoint&) = delete;

 private:
  RecoveryPoint* previous_;
  friend std::optional<Value> BeginSequence(const std::function<void()>& body);
};

// True when a recovery point is active.
bool CanBreak();
// Hands value to the innermost recovery point; without one, quits.
[[noreturn]] void LabelJump(Value value);
// Forgets every recovery point, for a report that must not unwind (an
// operating-system exception): CanBreak() is false afterwards. The points'
// own destructors must then never run.
void ForgetRecoveryPoints();
// Runs body under a new recovery point: nullopt when it ended normally, else
// the value handed to LabelJump.
std::optional<Value> BeginSequence(const std::function<void()>& body);

}  // namespace rt
