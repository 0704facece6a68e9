// Fault injection for the file layer: tests make the n-th open, read, write or
// lock fail with a chosen Windows code, or "crash" after n writes (from then on
// every write and truncate is dropped and fails, so the files stay as they were
// at the crash), or die at the n-th write or truncate (_exit(kFaultExitCode)
// before touching the file, exactly like a process killed there). Both back-ends consult the
// installed plan on every call. One thread; a plan is installed for the lifetime of a FaultScope.
#pragma once

#include <cstdint>

namespace platform {

// The exit code of a process ended by FaultPlan::exit_at_write.
inline constexpr int kFaultExitCode = 86;

enum class FaultOp { kOpen, kRead, kWrite, kLock };

struct FaultPlan {
  // 1-based: fail the n-th call of the kind counted from installation; 0 = never.
  uint64_t fail_open_at = 0, fail_read_at = 0, fail_write_at = 0, fail_lock_at = 0;
  uint32_t open_code = 5, read_code = 30, write_code = 112, lock_code = 33;
  // When set, every call of the kind from the n-th on fails (not only the n-th).
  bool persistent = false;
  // Writes after this many successful writes are dropped (0 = no crash).
  uint64_t crash_after_writes = 0;
  // 1-based: the n-th write or truncate ends the process with _exit(kFaultExitCode)
  // before doing anything (0 = never). For child processes of kill tests.
  uint64_t exit_at_write = 0;

  // Counters, updated by the back-ends.
  uint64_t opens = 0, reads = 0, writes = 0, locks = 0;
  bool crashed = false;
};

// Installs plan (nullptr removes); the caller keeps it alive meanwhile.
void InstallFaultPlan(FaultPlan* plan);

// Called by the back-ends before doing op: 0 to go on, else the code to fail with.
uint32_t FaultCheck(FaultOp op);

class FaultScope {
 public:
  explicit FaultScope(FaultPlan* plan) { InstallFaultPlan(plan); }
  ~FaultScope() { InstallFaultPlan(nullptr); }
  FaultScope(const FaultScope&) = delete;
  FaultScope& operator=(const FaultScope&) = delete;
};

}  // namespace platform
