// Start-up of the runtime for one program (steps 1 to 3 of the start order):
// register the program's symbols in order, enter its functions callable by
// name, then run the initialisation chain: class declarations, global
// initialisers, module initialisation procedures (in the order given), and the
// class libraries' own set-up. Each module of the system adds its part to the
// Program with its own AddToProgram function; the entry point assembles them.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "runtime/functions.h"

namespace rt {

struct Program {
  std::vector<std::string> symbols;
  std::vector<FunctionEntry> functions;
  std::vector<std::function<void()>> class_declarations;
  std::vector<std::function<void()>> global_initializers;
  std::vector<std::pair<std::string, std::function<void()>>> init_procedures;
  std::vector<std::function<void()>> library_setups;
};

// The runtime's own part (FileSpec and the other runtime classes).
void AddRuntimeToProgram(Program& program);

// Runs steps 1 to 3. False when any of them failed (a runtime error raised
// before an error block exists, or an exception); *failure then says what.
// The caller ends the process with exit code -1 in that case.
bool StartRuntime(const Program& program, std::string* failure = nullptr);

}  // namespace rt
