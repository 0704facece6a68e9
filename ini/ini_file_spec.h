// Module "IniFileSpec_Class": INI configuration access for the program.
//
// IniFileSpec (derived from the runtime's FileSpec) reads and writes one INI
// file through the Windows profile functions, one call per operation, holding
// no handle and no cache. WinIniFileSpec is the same on WIN.INI through the
// WIN.INI profile calls. Both are runtime classes reached by late-bound calls;
// GetStringUpper, GetLogic, GetSection, DeleteEntry and DeleteSection go
// through the object's own GetString/WriteString. No operation reports an
// error. GUI thread only.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/startup.h"
#include "runtime/value.h"

namespace ini {

// Registers INIFILESPEC (base FILESPEC, which must be declared first) and
// WINIFILESPEC in the class registry.
void DeclareIniClasses();

// TRUE for a logical TRUE, the number 1, or one of the words oui, on, yes,
// true, j, y, 1 in any case (matched inside "_oui_/_on_/_yes_/_true_/_j_/_y_/_1_");
// FALSE for everything else.
bool Usual2Logic(const rt::Value& value);

// Adds the class declarations and Usual2Logic (function table) to the program.
void AddToProgram(rt::Program& program);

// Typed access for C++ callers: an IniFileSpec object driven through Send, so
// it behaves exactly as the runtime's callers see it.
class IniFile {
 public:
  explicit IniFile(std::string_view path);
  std::string GetString(std::string_view section, std::string_view key) const;
  void WriteString(std::string_view section, std::string_view key, std::string_view value) const;
  std::string FullPath() const;
  const rt::Value& object() const { return object_; }

 private:
  rt::Value object_;
};

}  // namespace ini
