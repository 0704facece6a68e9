// Usual2Logic, and the module's part of the program's start-up.
#include <string>

#include "ini/ini_args.h"
#include "ini/ini_file_spec.h"
#include "runtime/activation.h"
#include "runtime/convert.h"
#include "runtime/functions.h"

namespace ini {

bool Usual2Logic(const rt::Value& value) {
  RT_ROUTINE("USUAL2LOGIC", kModule);
  if (value.IsLogic()) return value.GetLogic();
  if (value.IsNumeric()) return value.GetFloat() == 1.0;
  if (value.IsString()) {
    // A search in the whole list, not a word match: "oui_/_on" and "/" count too.
    static const std::string kWords = "_oui_/_on_/_yes_/_true_/_j_/_y_/_1_";
    std::string needle = "_";
    needle.append(rt::Lower(value.GetString()));
    needle.push_back('_');
    return kWords.find(needle) != std::string::npos;
  }
  return false;
}

void AddToProgram(rt::Program& program) {
  program.class_declarations.push_back(&DeclareIniClasses);
  program.functions.push_back({"Usual2Logic", 1, [](rt::Args args) {
                                 return rt::Value::Logic(Usual2Logic(Arg(args, 0)));
                               }});
}

}  // namespace ini
