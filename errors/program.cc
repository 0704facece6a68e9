#include "errors/call_stack.h"
#include "errors/def_error.h"
#include "errors/error_gen.h"
#include "errors/error_object.h"
#include "errors/errors.h"
#include "errors/international.h"

namespace errors {

void AddToProgram(rt::Program& program) {
  for (const char* s : {"ERROR", "DEFERROR", "WINDOWS", "LEGACY", "BINARY"}) {
    program.symbols.emplace_back(s);
  }
  program.class_declarations.push_back(&DeclareErrorClass);
  program.global_initializers.push_back(&InitCallStackSettings);
  program.functions.push_back(
      {"SetInternational", 1, [](rt::Args args) { return SetInternational(args); }});
  program.functions.push_back({"DefErrorGen", 1, [](rt::Args args) {
                                 return DefErrorGen(args.empty() ? rt::Value() : args[0]);
                               }});
  program.init_procedures.emplace_back("InstallDefaultErrorBlock", &InstallDefaultErrorBlock);
  program.init_procedures.emplace_back("InstallErrorGenerator", &InstallErrorGenerator);
}

}  // namespace errors
