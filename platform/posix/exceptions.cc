// Linux: SIGSEGV, SIGBUS and SIGFPE, caught on an alternate stack (a stack
// overflow leaves no room on the thread's own), described as the Windows
// exception they stand for. A fault in the guard area just below the stack of
// the thread that installed the hook counts as a stack overflow.
#include "platform/exceptions.h"

#include <pthread.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE};
// The hook runs the whole error report on the alternate stack: the error
// object, the box text, the log file.
constexpr size_t kAltStackSize = size_t{1} << 20;
// How far below the lowest address of the stack a fault still counts as an
// overflow (a frame that steps over the guard page lands up to its size lower).
constexpr uintptr_t kGuardSlack = uintptr_t{1} << 20;

OsExceptionHook g_hook = nullptr;
volatile sig_atomic_t g_in_hook = 0;
uintptr_t g_stack_low = 0;
void* g_alt_stack = nullptr;

void WriteStderr(const char* text) {
  ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

bool InStackGuard(uintptr_t address) {
  if (g_stack_low == 0) return false;
  uintptr_t floor = g_stack_low > kGuardSlack ? g_stack_low - kGuardSlack : 0;
  return address >= floor && address < g_stack_low + 4096 * 4;
}

// The instruction that faulted, as Windows reports it (si_addr is the data
// a memory fault touched).
void* InstructionOf(const void* context, void* fallback) {
  const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
  return reinterpret_cast<void*>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
  return reinterpret_cast<void*>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
  return reinterpret_cast<void*>(uc->uc_mcontext.pc);
#else
  (void)uc;
  return fallback;
#endif
}

OsException Describe(int sig, const siginfo_t* info, const void* context) {
  OsException e;
  e.address = InstructionOf(context, info->si_addr);
  uintptr_t fault = reinterpret_cast<uintptr_t>(info->si_addr);
  switch (sig) {
    case SIGSEGV:
      e.code = InStackGuard(fault) ? kExceptionStackOverflow : kExceptionAccessViolation;
      e.param_count = 2;  // read/write, and the address it touched
      break;
    case SIGBUS:
      e.code = info->si_code == BUS_ADRALN ? kExceptionDatatypeMisalignment : kExceptionInPageError;
      e.param_count = e.code == kExceptionInPageError ? 3 : 0;
      break;
    case SIGFPE:
      switch (info->si_code) {
        case FPE_INTDIV:
          e.code = kExceptionIntDivideByZero;
          break;
        case FPE_INTOVF:
          e.code = kExceptionIntOverflow;
          break;
        case FPE_FLTDIV:
          e.code = kExceptionFltDivideByZero;
          break;
        case FPE_FLTOVF:
          e.code = kExceptionFltOverflow;
          break;
        case FPE_FLTUND:
          e.code = kExceptionFltUnderflow;
          break;
        case FPE_FLTRES:
          e.code = kExceptionFltInexactResult;
          break;
        default:
          e.code = kExceptionFltInvalidOperation;
          break;
      }
      break;
    default:
      e.code = kExceptionIllegalInstruction;
      break;
  }
  return e;
}

void OnSignal(int sig, siginfo_t* info, void* context) {
  if (g_in_hook) {
    WriteStderr("Operating-system exception while one was being reported\n");
    _exit(kOsExceptionExitCode);
  }
  g_in_hook = 1;
  OsException e = Describe(sig, info, context);
  if (g_hook) g_hook(e);
  _exit(kOsExceptionExitCode);
}

void RecordStackBounds() {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
  void* low = nullptr;
  size_t size = 0;
  if (pthread_attr_getstack(&attr, &low, &size) == 0) {
    g_stack_low = reinterpret_cast<uintptr_t>(low);
  }
  pthread_attr_destroy(&attr);
}

}  // namespace

void InstallOsExceptionHook(OsExceptionHook hook) {
  if (!hook) {
    g_hook = nullptr;
    for (int sig : kSignals) signal(sig, SIG_DFL);
    return;
  }
  if (!g_alt_stack) {
    // Never freed: the stack must outlive every signal the process may take.
    g_alt_stack = std::malloc(kAltStackSize);
    if (!g_alt_stack) return;
  }
  stack_t ss{};
  ss.ss_sp = g_alt_stack;
  ss.ss_size = kAltStackSize;
  ss.ss_flags = 0;
  if (sigaltstack(&ss, nullptr) != 0) return;
  RecordStackBounds();
  g_hook = hook;
  g_in_hook = 0;
  struct sigaction sa {};
  sa.sa_sigaction = &OnSignal;
  // SA_NODEFER: a fault inside the hook reaches OnSignal again, which ends
  // the process, instead of the kernel killing it without a word.
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&sa.sa_mask);
  for (int sig : kSignals) sigaction(sig, &sa, nullptr);
}

}  // namespace platform
