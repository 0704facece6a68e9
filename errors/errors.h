// Runtime error reporting as one module of the program: AddToProgram enters
// the ERROR class, the call-stack settings' initialiser, SetInternational and
// DefErrorGen in the table of functions callable by name, and the module
// initialisation procedures InstallDefaultErrorBlock then InstallErrorGenerator.
#pragma once

#include "runtime/startup.h"

namespace errors {

void AddToProgram(rt::Program& program);

}  // namespace errors
