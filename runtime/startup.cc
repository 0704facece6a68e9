#include "runtime/startup.h"

#include <exception>
#include <stdexcept>

#include "runtime/collection.h"
#include "runtime/error.h"
#include "runtime/filespec.h"
#include "runtime/os_exception.h"
#include "runtime/symbol.h"

#if defined(__SANITIZE_ADDRESS__)
#define RT_UNDER_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RT_UNDER_ADDRESS_SANITIZER 1
#endif
#endif

namespace rt {
namespace {

struct StartupFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace

void AddRuntimeToProgram(Program& program) {
  program.class_declarations.push_back(&DeclareFileSpecClass);
  AddCollectionFunctions(program);
}

bool StartRuntime(const Program& program, std::string* failure) {
  SetRTCount(GetRTCount() + 1);
#if !defined(RT_UNDER_ADDRESS_SANITIZER)
  // Under the address sanitizer its own report of a fault tells more.
  InstallOsExceptionHandler();
#endif
  // Until the program installs its error block, a runtime error ends the
  // start-up instead of the process.
  SetFatalErrorHandler([](const std::string& report) { throw StartupFailure(report); });
  std::string step;
  try {
    step = "symbols";
    for (const std::string& name : program.symbols) String2Symbol(name);
    step = "function table";
    for (const FunctionEntry& f : program.functions) {
      RegisterFunction(f.name, f.declared_params, f.fn);
    }
    step = "class declarations";
    for (const auto& declare : program.class_declarations) declare();
    step = "global initialisers";
    for (const auto& init : program.global_initializers) init();
    for (const auto& [name, procedure] : program.init_procedures) {
      step = name;
      procedure();
    }
    step = "class library set-up";
    for (const auto& setup : program.library_setups) setup();
  } catch (const std::exception& e) {
    SetFatalErrorHandler(nullptr);
    if (failure) *failure = step + ": " + e.what();
    return false;
  }
  SetFatalErrorHandler(nullptr);
  return true;
}

}  // namespace rt
