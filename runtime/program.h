// What the runtime knows of the running program: its directory, name, version.
#pragma once

#include <string>
#include <string_view>

namespace rt {

// WorkDir: the program directory, ending with a separator. By default the
// executable's directory; the Linux console runner may point it elsewhere.
std::string WorkDir();
void SetWorkDir(std::string_view dir);  // "" restores the default
// _ExecName: the executable's file name with its full path.
std::string ExecName();
void SetExecName(std::string_view name);  // tests and the console runner
// Version: the runtime's version text.
std::string Version();

}  // namespace rt
