// The error generator: DefErrorGen turns the runtime's raw error record
// (ErrorStructure, handed over as a pointer value) into an Error object;
// InstallErrorGenerator makes it the runtime's generator at start-up when the
// runtime was started once. The generator raises no error and logs nothing;
// its only complaints are two message boxes. One thread only.
#pragma once

#include "runtime/value.h"

namespace errors {

// Returns the new Error (NIL when none could be created).
rt::Value DefErrorGen(const rt::Value& record);
void InstallErrorGenerator();

}  // namespace errors
