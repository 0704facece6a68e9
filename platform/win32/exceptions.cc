// Windows: the unhandled-exception filter. A stack overflow leaves the thread
// so little stack that the search for a handler may not even reach the filter:
// it is taken first by a vectored handler, which only wakes a reporter thread
// made at installation (with a stack of its own) and waits for it.
#include "platform/exceptions.h"

#include <windows.h>

#include <cstdio>

namespace platform {
namespace {

constexpr SIZE_T kReportStackSize = SIZE_T{1} << 20;

OsExceptionHook g_hook = nullptr;
LPTOP_LEVEL_EXCEPTION_FILTER g_previous = nullptr;
volatile LONG g_in_hook = 0;
// The stack overflow waiting for the reporter thread.
OsException g_overflow;
HANDLE g_overflow_event = nullptr;
HANDLE g_reporter = nullptr;

[[noreturn]] void EndProcess() {
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(kOsExceptionExitCode));
}

DWORD WINAPI ReportOverflows(LPVOID) {
  WaitForSingleObject(g_overflow_event, INFINITE);
  if (g_hook) g_hook(g_overflow);
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

OsException Describe(const EXCEPTION_RECORD* rec) {
  OsException e;
  e.code = rec->ExceptionCode;
  e.flags = rec->ExceptionFlags;
  e.address = rec->ExceptionAddress;
  e.param_count = rec->NumberParameters;
  return e;
}

// Runs on what is left of the thread's stack: no more than a few calls.
LONG WINAPI OnStackOverflow(EXCEPTION_POINTERS* pointers) {
  if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW || !g_hook ||
      !g_reporter) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  if (InterlockedExchange(&g_in_hook, 1) != 0) EndAfterSecondException();
  AddVectoredExceptionHandler(1, &WhileReporting);
  g_overflow = Describe(pointers->ExceptionRecord);
  SetEvent(g_overflow_event);
  WaitForSingleObject(g_reporter, INFINITE);
  EndProcess();
}

LONG WINAPI Filter(EXCEPTION_POINTERS* pointers) {
  if (!g_hook) return EXCEPTION_CONTINUE_SEARCH;
  if (InterlockedExchange(&g_in_hook, 1) != 0) EndAfterSecondException();
  AddVectoredExceptionHandler(1, &WhileReporting);
  g_hook(Describe(pointers->ExceptionRecord));
  EndProcess();
}

}  // namespace

void InstallOsExceptionHook(OsExceptionHook hook) {
  if (!hook) {
    if (g_hook) SetUnhandledExceptionFilter(g_previous);
    g_hook = nullptr;
    return;
  }
  if (!g_hook) {
    g_previous = SetUnhandledExceptionFilter(&Filter);
    if (!g_reporter) {
      g_overflow_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
      if (g_overflow_event) {
        g_reporter = CreateThread(nullptr, kReportStackSize, &ReportOverflows, nullptr,
                                  STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
      }
      if (g_reporter) AddVectoredExceptionHandler(1, &OnStackOverflow);
    }
  }
  g_hook = hook;
  g_in_hook = 0;
}

}  // namespace platform
