// IniFileSpec: one INI file read and written through the private-profile
// calls, addressed by the object's full path on every call.
#include "ini/ini_file_spec.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ini/ini_args.h"
#include "platform/path.h"
#include "platform/profile.h"
#include "runtime/activation.h"
#include "runtime/convert.h"
#include "runtime/filespec.h"
#include "runtime/functions.h"
#include "runtime/object.h"
#include "runtime/symbol.h"

namespace ini {

TextArg::TextArg(const rt::Value& v) {
  if (v.IsNil() || v.IsNullString()) {
    null_ = true;
  } else {
    text_ = v.IsString() ? v.GetString() : rt::AsString(v);
  }
}

std::string FullPathOf(const rt::ObjectRef& self) {
  auto fs = std::dynamic_pointer_cast<rt::FileSpec>(self);
  return fs ? fs->FullPath() : std::string();
}

std::string NumberText(const rt::Value& v) {
  return v.IsNumeric() ? rt::NTrim(v) : rt::AsString(v);
}

namespace {

using rt::Args;
using rt::ObjectRef;
using rt::Value;

Value Self(const ObjectRef& self) { return Value::FromObject(self); }

// A bare file name (no drive, no directory) names a file in the current
// directory: drive, ":\", the directory without its drive, "\", the name. At a
// drive root that gives two backslashes in a row, which Windows accepts.
void CompleteBareName(rt::FileSpec& fs) {
  if (!fs.drive.empty() || !fs.path.empty()) return;
  std::string cwd = platform::CurrentDirectory();
  std::string previous = fs.FullPath();
  if (cwd.size() >= 2 && cwd[1] == ':') {
    std::string dir = cwd.substr(2);
    while (!dir.empty() && dir.front() == '\\') dir.erase(0, 1);
    while (!dir.empty() && dir.back() == '\\') dir.pop_back();
    fs.SetFullPath(cwd.substr(0, 1) + ":\\" + dir + "\\" + previous);
  } else {
    // A current directory without a drive letter (a UNC path) is used as is.
    fs.SetFullPath(cwd + (cwd.empty() || cwd.back() == '\\' ? "" : "\\") + previous);
  }
}

Value Init(const ObjectRef& self, Args args) {
  RT_ROUTINE("INIFILESPEC:INIT", kModule);
  rt::SendFrom(rt::FindClass(rt::String2Symbol("FileSpec")), Self(self), rt::String2Symbol("Init"),
               args);
  if (auto fs = std::dynamic_pointer_cast<rt::FileSpec>(self)) CompleteBareName(*fs);
  return Self(self);
}

Value GetString(const ObjectRef& self, Args args) {
  RT_ROUTINE("INIFILESPEC:GETSTRING", kModule);
  std::vector<char> buffer(kReadBuffer, '\0');
  platform::GetPrivateProfileStringA(TextArg(Arg(args, 0)).get(), TextArg(Arg(args, 1)).get(), " ",
                                     buffer.data(), kReadBuffer, FullPathOf(self).c_str());
  // A missing key gives the one-blank default, which the trim turns into "".
  return Value::String(rt::RTrim(buffer.data()));
}

Value WriteString(const ObjectRef& self, Args args) {
  RT_ROUTINE("INIFILESPEC:WRITESTRING", kModule);
  platform::WritePrivateProfileStringA(TextArg(Arg(args, 0)).get(), TextArg(Arg(args, 1)).get(),
                                       TextArg(Arg(args, 2)).get(), FullPathOf(self).c_str());
  return Self(self);
}

Value GetStringUpper(const ObjectRef& self, Args args) {
  RT_ROUTINE("INIFILESPEC:GETSTRINGUPPER", kModule);
  Value text = rt::Send(Self(self), "GetString", {Arg(args, 0), Arg(args, 1)});
  return Value::String(rt::Upper(text.IsString() ? text.GetString() : rt::AsString(text)));
}

Value GetInt(const ObjectRef& self, Args args) {
  RT_ROUTINE("INIFILESPEC:GETINT", kModule);
  return Value::Dword(platform::GetPrivateProfileIntA(
      TextArg(Arg(args, 0)).get(), TextArg(Arg(args, 1)).get(), 0, FullPathOf(self).c_str()));
}

Value GetLogic(const ObjectRef& self, Args args) {
  RT_ROUTINE("INIFILESPEC:GETLOGIC", kModule);
  return Value::Logic(Usual2Logic(rt::Send(Self(self), "GetString", {Arg(args, 0), Arg(args, 1)})));
}

Value GetSection(const ObjectRef& self, Args args) {
  RT_ROUTINE("INIFILESPEC:GETSECTION", kModule);
  Value section = Arg(args, 0);
  std::string keys;
  {
    std::vector<char> buffer(kReadBuffer, '\0');
    uint32_t n =
        platform::GetPrivateProfileStringA(TextArg(section).get(), nullptr, nullptr, buffer.data(),
                                           kReadBuffer, FullPathOf(self).c_str());
    keys.assign(buffer.data(), std::min<size_t>(n, kReadBuffer));
  }
  rt::ArrayRef pairs = rt::ArrayCreate();
  size_t pos = 0;
  while (pos < keys.size()) {
    size_t nul = keys.find('\0', pos);
    std::string key = keys.substr(pos, nul == std::string::npos ? std::string::npos : nul - pos);
    pos = nul == std::string::npos ? keys.size() : nul + 1;
    if (key.empty()) continue;
    Value value = rt::Send(Self(self), "GetString", {section, Value::String(key)});
    rt::AAdd(pairs, Value::FromArray(rt::ArrayInit({Value::String(key), value})));
  }
  return Value::FromArray(pairs);
}

Value WriteInt(const ObjectRef& self, Args args) {
  RT_ROUTINE("INIFILESPEC:WRITEINT", kModule);
  std::string text = NumberText(Arg(args, 2));
  platform::WritePrivateProfileStringA(TextArg(Arg(args, 0)).get(), TextArg(Arg(args, 1)).get(),
                                       text.c_str(), FullPathOf(self).c_str());
  return Self(self);
}

Value DeleteEntry(const ObjectRef& self, Args args) {
  RT_ROUTINE("INIFILESPEC:DELETEENTRY", kModule);
  rt::Send(Self(self), "WriteString", {Arg(args, 0), Arg(args, 1), Value::NullString()});
  return Self(self);
}

Value DeleteSection(const ObjectRef& self, Args args) {
  RT_ROUTINE("INIFILESPEC:DELETESECTION", kModule);
  rt::Send(Self(self), "WriteString", {Arg(args, 0), Value::NullString(), Value::NullString()});
  return Self(self);
}

// WIN.INI belongs to Windows and is never made anew. Only the name WIN itself
// counts: a practice file such as WINTARIF.INI may still be created.
Value Create(const ObjectRef& self, Args) {
  RT_ROUTINE("INIFILESPEC:CREATE", kModule);
  auto fs = std::dynamic_pointer_cast<rt::FileSpec>(self);
  if (fs && rt::Upper(fs->file_name) != "WIN") fs->Create(0x80);
  return Self(self);
}

}  // namespace

void DeclareIniClasses() {
  rt::ClassBuilder("IniFileSpec", "FileSpec")
      .Method("Init", &Init)
      .Method("GetString", &GetString)
      .Method("WriteString", &WriteString)
      .Method("GetStringUpper", &GetStringUpper)
      .Method("GetInt", &GetInt)
      .Method("GetLogic", &GetLogic)
      .Method("GetSection", &GetSection)
      .Method("WriteInt", &WriteInt)
      .Method("DeleteEntry", &DeleteEntry)
      .Method("DeleteSection", &DeleteSection)
      .Method("Create", &Create)
      .Register();
  DeclareWinIniFileSpec();
}

IniFile::IniFile(std::string_view path)
    : object_(rt::CreateInstance(rt::String2Symbol("IniFileSpec"),
                                 std::vector<Value>{Value::String(std::string(path))})) {}

std::string IniFile::GetString(std::string_view section, std::string_view key) const {
  return rt::Send(object_, "GetString",
                  {Value::String(std::string(section)), Value::String(std::string(key))})
      .GetString();
}

void IniFile::WriteString(std::string_view section, std::string_view key,
                          std::string_view value) const {
  rt::Send(object_, "WriteString",
           {Value::String(std::string(section)), Value::String(std::string(key)),
            Value::String(std::string(value))});
}

std::string IniFile::FullPath() const {
  auto fs = rt::ObjectAs<rt::FileSpec>(object_);
  return fs ? fs->FullPath() : std::string();
}

}  // namespace ini
