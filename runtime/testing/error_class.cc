#include "runtime/testing/error_class.h"

#include "runtime/object.h"

namespace rt::testing {

void DeclarePlainErrorClass() {
  ClassBuilder b("Error");
  for (const char* f : {"SubSystem",  "SubCode",    "GenCode",        "OsCode",    "Severity",
                        "CanDefault", "CanRetry",   "CanSubstitute",  "Operation", "Description",
                        "FileName",   "Args",       "Tries",          "FuncSym",   "FileHandle",
                        "ArgNum",     "FuncPtr",    "SubCodeText",    "Arg",       "ArgType",
                        "ArgTypeReq", "MaxSize",    "SubstituteType", "Choice",    "CallFuncSym",
                        "Cargo",      "MethodSelf", "Stack"}) {
    b.IVar(f);
  }
  b.Register();
}

}  // namespace rt::testing
