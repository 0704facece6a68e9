// Windows: the unhandled-exception filter. A stack overflow leaves the thread
// almost no stack, so its report runs on a helper thread with a fresh one
// while the faulting thread waits.
#include "platform/exceptions.h"

#include <windows.h>

#include <cstdio>

namespace platform {
namespace {

constexpr SIZE_T kReportStackSize = SIZE_T{1} << 20;

OsExceptionHook g_hook = nullptr;
LPTOP_LEVEL_EXCEPTION_FILTER g_previous = nullptr;
volatile LONG g_in_hook = 0;

[[noreturn]] void EndProcess() {
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(kOsExceptionExitCode));
}

DWORD WINAPI ReportOnFreshStack(LPVOID arg) {
  const auto* e = static_cast<const OsException*>(arg);
  g_hook(*e);
  EndProcess();
}

[[noreturn]] void EndAfterSecondException() {
  static const char kText[] = "Operating-system exception while one was being reported\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), kText, sizeof kText - 1, &written, nullptr);
  EndProcess();
}

bool RaisedByTheProcessor(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_STACK_OVERFLOW:
      return true;
    default:
      return false;
  }
}

// An exception raised inside the unhandled-exception filter ends the process
// without reaching any filter: while the hook runs, a vectored handler sees
// the processor's exceptions first.
LONG WINAPI WhileReporting(EXCEPTION_POINTERS* pointers) {
  if (RaisedByTheProcessor(pointers->ExceptionRecord->ExceptionCode)) EndAfterSecondException();
  return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI Filter(EXCEPTION_POINTERS* pointers) {
  if (!g_hook) return EXCEPTION_CONTINUE_SEARCH;
  if (InterlockedExchange(&g_in_hook, 1) != 0) EndAfterSecondException();
  AddVectoredExceptionHandler(1, &WhileReporting);
  const EXCEPTION_RECORD* rec = pointers->ExceptionRecord;
  OsException e;
  e.code = rec->ExceptionCode;
  e.flags = rec->ExceptionFlags;
  e.address = rec->ExceptionAddress;
  e.param_count = rec->NumberParameters;
  if (e.code == kExceptionStackOverflow) {
    HANDLE thread = CreateThread(nullptr, kReportStackSize, &ReportOnFreshStack, &e,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread) WaitForSingleObject(thread, INFINITE);
    EndProcess();
  }
  g_hook(e);
  EndProcess();
}

}  // namespace

void InstallOsExceptionHook(OsExceptionHook hook) {
  if (!hook) {
    if (g_hook) SetUnhandledExceptionFilter(g_previous);
    g_hook = nullptr;
    return;
  }
  if (!g_hook) g_previous = SetUnhandledExceptionFilter(&Filter);
  g_hook = hook;
  g_in_hook = 0;
}

}  // namespace platform
