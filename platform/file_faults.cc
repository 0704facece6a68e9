#include "platform/file_faults.h"

#include <cstdlib>

#include "platform/os_error.h"

namespace platform {
namespace {
FaultPlan* g_plan = nullptr;

uint32_t Count(uint64_t* counter, uint64_t fail_at, uint32_t code, bool persistent) {
  ++*counter;
  if (fail_at == 0) return 0;
  if (*counter == fail_at || (persistent && *counter > fail_at)) return code;
  return 0;
}
}  // namespace

void InstallFaultPlan(FaultPlan* plan) { g_plan = plan; }

uint32_t FaultCheck(FaultOp op) {
  FaultPlan* p = g_plan;
  if (p == nullptr) return 0;
  switch (op) {
    case FaultOp::kOpen:
      return Count(&p->opens, p->fail_open_at, p->open_code, p->persistent);
    case FaultOp::kRead:
      return Count(&p->reads, p->fail_read_at, p->read_code, p->persistent);
    case FaultOp::kLock:
      return Count(&p->locks, p->fail_lock_at, p->lock_code, p->persistent);
    case FaultOp::kWrite: {
      if (p->crashed) return kErrorWriteFault;
      if (p->exit_at_write != 0 && p->writes + 1 == p->exit_at_write) std::_Exit(kFaultExitCode);
      if (uint32_t code = Count(&p->writes, p->fail_write_at, p->write_code, p->persistent)) {
        return code;
      }
      if (p->crash_after_writes != 0 && p->writes > p->crash_after_writes) {
        p->crashed = true;
        return kErrorWriteFault;
      }
      return 0;
    }
  }
  return 0;
}

}  // namespace platform
