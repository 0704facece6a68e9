// WinIniFileSpec: the IniFileSpec of WIN.INI, read and written through the
// WIN.INI profile calls. GetString keeps the blanks the platform returns.
#include <cstring>
#include <string>
#include <vector>

#include "ini/ini_args.h"
#include "ini/ini_file_spec.h"
#include "platform/profile.h"
#include "runtime/activation.h"
#include "runtime/object.h"
#include "runtime/symbol.h"

namespace ini {
namespace {

using rt::Args;
using rt::ObjectRef;
using rt::Value;

constexpr size_t kWindowsDirBuffer = 128;

Value Self(const ObjectRef& self) { return Value::FromObject(self); }

const rt::Class* IniFileSpecClass() { return rt::FindClass(rt::String2Symbol("IniFileSpec")); }

Value Init(const ObjectRef& self, Args) {
  RT_ROUTINE("WINIFILESPEC:INIT", kModule);
  // A directory too long for the buffer leaves it untouched: it stays zeroed
  // and reads as "", so nothing past the buffer is ever taken.
  char buffer[kWindowsDirBuffer] = {};
  platform::GetWindowsDirectoryA(buffer, kWindowsDirBuffer);
  std::string dir(buffer, strnlen(buffer, kWindowsDirBuffer));
  rt::SendFrom(IniFileSpecClass(), Self(self), rt::String2Symbol("Init"),
               std::vector<Value>{Value::String(dir + "\\WIN.INI")});
  return Self(self);
}

Value GetString(const ObjectRef&, Args args) {
  RT_ROUTINE("WINIFILESPEC:GETSTRING", kModule);
  std::vector<char> buffer(kReadBuffer, '\0');
  platform::GetProfileStringA(TextArg(Arg(args, 0)).get(), TextArg(Arg(args, 1)).get(), nullptr,
                              buffer.data(), kReadBuffer);
  return Value::String(std::string(buffer.data()));
}

Value GetInt(const ObjectRef&, Args args) {
  RT_ROUTINE("WINIFILESPEC:GETINT", kModule);
  return Value::Dword(
      platform::GetProfileIntA(TextArg(Arg(args, 0)).get(), TextArg(Arg(args, 1)).get(), 0));
}

Value WriteString(const ObjectRef& self, Args args) {
  RT_ROUTINE("WINIFILESPEC:WRITESTRING", kModule);
  platform::WriteProfileStringA(TextArg(Arg(args, 0)).get(), TextArg(Arg(args, 1)).get(),
                                TextArg(Arg(args, 2)).get());
  return Self(self);
}

Value WriteInt(const ObjectRef& self, Args args) {
  RT_ROUTINE("WINIFILESPEC:WRITEINT", kModule);
  std::string text = NumberText(Arg(args, 2));
  platform::WriteProfileStringA(TextArg(Arg(args, 0)).get(), TextArg(Arg(args, 1)).get(),
                                text.c_str());
  return Self(self);
}

Value GetSection(const ObjectRef& self, Args args) {
  RT_ROUTINE("WINIFILESPEC:GETSECTION", kModule);
  return rt::SendFrom(IniFileSpecClass(), Self(self), rt::String2Symbol("GetSection"), args);
}

}  // namespace

void DeclareWinIniFileSpec() {
  rt::ClassBuilder("WinIniFileSpec", "IniFileSpec")
      .Method("Init", &Init)
      .Method("GetString", &GetString)
      .Method("GetInt", &GetInt)
      .Method("WriteString", &WriteString)
      .Method("WriteInt", &WriteInt)
      .Method("GetSection", &GetSection)
      .Register();
}

}  // namespace ini
