// Operating-system exceptions as runtime errors.
//
// Once installed, an access violation, a division by zero, a stack overflow
// and the like in the program become the runtime's exception error: subsystem
// "BASE", sub code 5333 ("Exception"), no general code, severity 2, nothing to
// default, retry or substitute; the exception's code in OsCode, its flags in
// ArgType, its address in FuncPtr, its number of parameters in ArgNum and its
// name in Description. It goes to the current error block like every other
// error, while the activation stack still shows where it struck. The faulting
// code cannot go on, so recovery points are not offered, and whatever the
// block answers the tables are closed and the process ends; with the exit code
// the block set, or 5333 when that is 0. One thread only.
#pragma once

#include <cstdint>

#include "platform/exceptions.h"
#include "runtime/error.h"

namespace rt {

inline constexpr uint32_t kExceptionSubCode = 5333;

// The error an exception becomes (also for tests of its text).
ErrorInfo OsExceptionError(const platform::OsException& exception);

// Installs the hook with the platform (StartRuntime does; nothing happens when
// called again).
void InstallOsExceptionHandler();

}  // namespace rt
