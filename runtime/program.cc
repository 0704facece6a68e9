// What the runtime knows of the running program. Paths are shown as Windows
// paths everywhere: on Linux the executable's native path is shown the way
// Wine shows it, on drive Z: ("/opt/app/prog" is "Z:\opt\app\prog"), which the
// platform's path mapping leads back to the native tree.
#include "runtime/program.h"

#include <string>
#include <string_view>

#include "platform/path.h"
#include "runtime/convert.h"

namespace rt {
namespace {

struct ProgramInfo {
  std::string work_dir;   // "" = the executable's directory
  std::string exec_name;  // "" = the running executable
};

ProgramInfo& Info() {
  static ProgramInfo info;
  return info;
}

std::string AsWindowsPath(std::string path) {
  if (path.empty() || path[0] != '/') return path;
  // The platform's own way back from native names; a name without a
  // Windows-1252 form is shown as best the runtime can.
  std::string system;
  if (!platform::PathFromNative(path, &system)) system = Utf82Ansi(path);
  std::string shown = "Z:" + system;
  for (char& c : shown) {
    if (c == '/') c = '\\';
  }
  return shown;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::string WorkDir() {
  if (!Info().work_dir.empty()) return Info().work_dir;
  std::string exe = ExecName();
  size_t sep = exe.find_last_of("\\/");
  // Without a directory in the name the program directory is the current one.
  if (sep == std::string::npos) return AsWindowsPath(platform::CurrentDirectory()) + "\\";
  return exe.substr(0, sep + 1);
}

void SetWorkDir(std::string_view dir) {
  std::string d(dir);
  // Callers append file names directly, so the directory must end with a separator.
  if (!d.empty() && !IsSeparator(d.back())) d.push_back(d[0] == '/' ? '/' : '\\');
  Info().work_dir = std::move(d);
}

std::string ExecName() {
  if (!Info().exec_name.empty()) return Info().exec_name;
  return AsWindowsPath(platform::ExecutablePath());
}

void SetExecName(std::string_view name) { Info().exec_name = std::string(name); }

std::string Version() { return "XQ Runtime 2.0.1"; }

}  // namespace rt
