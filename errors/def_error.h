// The default error handler: what the user sees of every runtime error that
// nobody else handles. InstallDefaultErrorBlock installs the default error
// block (and applies the Windows international settings) at start-up when no
// block is installed yet; the block hands its argument to DefError, which
// settles sharing violations silently, otherwise builds the report
// (ErrorMessageText + call stack), beeps, logs, shows the error box and acts
// on the answer: false (default), true (retry), a substitute value, or it
// leaves through the innermost recovery point or ends the program with the
// error's general code. Errors inside the handler nest. One thread only.
#pragma once

#include <string>

#include "runtime/value.h"

namespace errors {

void InstallDefaultErrorBlock();
// A new default error block (one parameter).
rt::Value DefaultErrorBlock();
rt::Value DefError(const rt::Value& error);
// The report lines, each ended by CR LF.
std::string ErrorMessageText(const rt::Value& error);

}  // namespace errors
