#include "runtime/os_exception.h"

#include <cinttypes>
#include <cstdio>

#include "runtime/recovery.h"

namespace rt {
namespace {

bool g_installed = false;

void Report(const platform::OsException& exception) {
  // A line for whoever reads standard error (a console run, a test log): the
  // box and XQERROR.LOG may be out of sight.
  std::fprintf(stderr, "Operating-system exception %08" PRIX32 " (%s) at %p\n", exception.code,
               platform::OsExceptionName(exception.code).c_str(), exception.address);
  std::fflush(stderr);
  // The faulting code cannot be resumed, nor unwound from here: no recovery
  // point is offered, and start-up's fatal handler (which unwinds) is dropped.
  ForgetRecoveryPoints();
  SetFatalErrorHandler(nullptr);
  MarkExceptionQuit(kExceptionSubCode);
  RaiseError(OsExceptionError(exception));
  // Default or retry cannot resume the faulting code either.
  Quit();
}

}  // namespace

ErrorInfo OsExceptionError(const platform::OsException& exception) {
  ErrorInfo e;
  e.subsystem = "BASE";
  e.sub_code = kExceptionSubCode;
  e.sub_code_text = "Exception";
  e.gen_code = kGenNone;
  e.os_code = exception.code;
  e.severity = 2;
  e.arg_type = exception.flags;
  e.func_ptr = exception.address;
  e.arg_num = exception.param_count;
  e.description = platform::OsExceptionName(exception.code);
  return e;
}

void InstallOsExceptionHandler() {
  if (g_installed) return;
  g_installed = true;
  platform::InstallOsExceptionHook(&Report);
}

}  // namespace rt
