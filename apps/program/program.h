// The program as the runtime starts it: its symbols in their fixed order, the
// table of functions callable by name, the class declarations and the module
// initialisation procedures of every module, assembled in start-up order.
// Shared by the Windows program and the Linux console runner.
#pragma once

#include "runtime/startup.h"

namespace app {

rt::Program Tarif2017Program();

}  // namespace app
