// Operating-system exceptions of the process: an access violation, a division
// by zero, a stack overflow and the like, raised by the processor in the
// program's own code.
//
// InstallOsExceptionHook hands every such exception to one hook, described in
// Windows terms on every platform (exception code, flags, address, number of
// parameters), so that the runtime can report it as one of its errors. The
// hook runs on the thread that faulted (on Linux on an alternate signal stack;
// on Windows a stack overflow is handed to a helper thread with a fresh stack,
// the faulting thread waiting for it) and must end the process: the faulting
// code cannot go on. If it returns, the process ends with the exit code of
// kOsExceptionExitCode. A second exception while the hook runs ends the
// process at once with that code, after one line on standard error.
//
// Windows: the unhandled-exception filter, so exceptions that code handles
// itself (structured handlers, debuggers) never get here. Linux: SIGSEGV,
// SIGBUS and SIGFPE, with the alternate stack of the thread that installed the
// hook (a stack overflow on another thread cannot be reported). One hook per
// process; installing again replaces it.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Exception codes as Windows numbers them.
inline constexpr uint32_t kExceptionAccessViolation = 0xC0000005u;
inline constexpr uint32_t kExceptionInPageError = 0xC0000006u;
inline constexpr uint32_t kExceptionIllegalInstruction = 0xC000001Du;
inline constexpr uint32_t kExceptionDatatypeMisalignment = 0x80000002u;
inline constexpr uint32_t kExceptionFltDivideByZero = 0xC000008Eu;
inline constexpr uint32_t kExceptionFltInexactResult = 0xC000008Fu;
inline constexpr uint32_t kExceptionFltInvalidOperation = 0xC0000090u;
inline constexpr uint32_t kExceptionFltOverflow = 0xC0000091u;
inline constexpr uint32_t kExceptionFltUnderflow = 0xC0000093u;
inline constexpr uint32_t kExceptionIntDivideByZero = 0xC0000094u;
inline constexpr uint32_t kExceptionIntOverflow = 0xC0000095u;
inline constexpr uint32_t kExceptionStackOverflow = 0xC00000FDu;

inline constexpr int kOsExceptionExitCode = 5333;

// What the parent process sees of an exit code: all of it on Windows, its low
// eight bits on Linux (an exit status keeps no more).
constexpr int ExitStatusOf(int exit_code) {
#ifdef _WIN32
  return exit_code;
#else
  return exit_code & 0xFF;
#endif
}

struct OsException {
  uint32_t code = 0;         // kException...
  uint32_t flags = 0;        // the exception's flags (0 for the processor's own)
  void* address = nullptr;   // the instruction that faulted
  uint32_t param_count = 0;  // how many parameters Windows gives the exception
};

using OsExceptionHook = void (*)(const OsException& exception);

// Installs the hook (nullptr: the system's own handling again).
void InstallOsExceptionHook(OsExceptionHook hook);

// The usual English name of an exception code ("Access violation");
// "Exception " and the code in hexadecimal for codes without a name.
std::string OsExceptionName(uint32_t code);

}  // namespace platform
