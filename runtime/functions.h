// The table of functions callable by name.
//
// Modules enter their functions at start-up (Program in startup.h) under the
// exact name the runtime and run-time compiled code use ("__PCSEND",
// "Usual2Logic"); CallClipFunc (_CallClipFunc) calls one by symbol with its
// arguments in an array. One thread only.
#pragma once

#include <functional>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "runtime/value.h"

namespace rt {

using Function = std::function<Value(Args)>;

struct FunctionEntry {
  std::string_view name;
  uint32_t declared_params;
  Function fn;
};

void RegisterFunction(std::string_view name, uint32_t declared_params, Function fn);
bool IsFunction(Symbol name);
// Declared parameter count, or -1 when the function is unknown.
int FunctionParams(Symbol name);
// An unknown function raises general code 12 through the error protocol.
Value CallClipFunc(Symbol name, const ArrayRef& args);
Value CallFunction(std::string_view name, std::initializer_list<Value> args = {});

}  // namespace rt
