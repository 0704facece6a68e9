// FileSpec: a Windows path split into drive, directory, name and extension,
// and the FILESPEC class through which the runtime's callers reach it.
//
// The split keeps every character: Drive + Path + FileName + Extension is
// always the text that was given, so a path read back is the path stored.
// Both "\" and "/" separate directories, as for the Windows API. A UNC prefix
// ("\\server\share\") belongs to Path; only "X:" counts as a drive.
#include "runtime/filespec.h"

#include <memory>
#include <string>
#include <string_view>

#include "runtime/convert.h"
#include "runtime/error.h"
#include "runtime/files.h"

namespace rt {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::shared_ptr<FileSpec> Self(const ObjectRef& self) {
  return std::dynamic_pointer_cast<FileSpec>(self);
}

// The text argument of an ASSIGN or of Init: a string (null = ""), NIL = "".
// Anything else is a data-type error; the error block may substitute a text,
// else the member stays as it was (false). Retrying cannot help a wrong value,
// so it is not offered.
bool TextArgument(const char* operation, Args args, std::string* out) {
  Value v = args.empty() ? Value() : args[0];
  if (!v.IsNil() && !v.IsString()) {
    ErrorInfo info;
    info.subsystem = "FILESPEC";
    info.gen_code = kGenDataType;
    info.operation = operation;
    info.description = ErrString(kGenDataType);
    info.args = std::vector<Value>{v};
    info.arg_num = 1;
    info.arg_type = static_cast<uint32_t>(v.type());
    info.arg_type_req = static_cast<uint32_t>(Type::kString);
    info.can_default = true;
    info.can_substitute = true;
    ErrorOutcome outcome = RaiseError(info);
    if (outcome.answer != ErrorAnswer::kSubstitute) return false;
    v = outcome.value;
    if (!v.IsNil() && !v.IsString()) return false;  // a wrong substitute counts as default
  }
  *out = v.GetString();
  return true;
}

// The assigned parts are completed so that the joined path stays well formed:
// a lone drive letter gets its colon, a directory its closing backslash, an
// extension its dot.
std::string AsDrive(std::string s) {
  if (s.size() == 1 && IsLetter(s[0])) s.push_back(':');
  return s;
}

std::string AsDirectory(std::string s) {
  if (!s.empty() && !IsSeparator(s.back())) s.push_back('\\');
  return s;
}

std::string AsExtension(std::string s) {
  if (!s.empty() && s[0] != '.') s.insert(0, 1, '.');
  return s;
}

using Part = std::string FileSpec::*;

void AddPart(ClassBuilder& b, const char* name, Part part, std::string (*complete)(std::string)) {
  b.Access(name, [part](const ObjectRef& self, Args) {
    auto fs = Self(self);
    return fs ? Value::String((*fs).*part) : Value::NullString();
  });
  b.Assign(name, [name, part, complete](const ObjectRef& self, Args args) {
    auto fs = Self(self);
    std::string text;
    if (fs && TextArgument(name, args, &text)) (*fs).*part = complete(std::move(text));
    return fs ? Value::String((*fs).*part) : Value();
  });
}

std::string AsIs(std::string s) { return s; }

}  // namespace

void FileSpec::SetFullPath(std::string_view full) {
  drive.clear();
  path.clear();
  file_name.clear();
  extension.clear();
  size_t pos = 0;
  if (full.size() >= 2 && full[1] == ':' && IsLetter(full[0])) {
    drive = full.substr(0, 2);
    pos = 2;
  }
  size_t last_sep = full.find_last_of("\\/");
  if (last_sep != std::string_view::npos && last_sep >= pos) {
    path = full.substr(pos, last_sep + 1 - pos);
    pos = last_sep + 1;
  }
  std::string_view name = full.substr(pos);
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) {
    file_name = name;
  } else {
    file_name = name.substr(0, dot);
    extension = name.substr(dot);
  }
}

bool FileSpec::Create(uint32_t attributes) const {
  int32_t handle = FCreate2(FullPath(), attributes);
  if (handle == kInvalidHandle) return false;
  FClose(handle);
  return true;
}

void DeclareFileSpecClass() {
  ClassBuilder b("FileSpec");
  b.MakeWith([](const Class* cls) -> ObjectRef { return std::make_shared<FileSpec>(cls); });
  b.Method("Init", [](const ObjectRef& self, Args args) {
    auto fs = Self(self);
    std::string text;
    if (fs && TextArgument("Init", args, &text)) fs->SetFullPath(text);
    return Value::FromObject(self);
  });
  AddPart(b, "Drive", &FileSpec::drive, &AsDrive);
  AddPart(b, "Path", &FileSpec::path, &AsDirectory);
  AddPart(b, "FileName", &FileSpec::file_name, &AsIs);
  AddPart(b, "Extension", &FileSpec::extension, &AsExtension);
  b.Access("FullPath", [](const ObjectRef& self, Args) {
    auto fs = Self(self);
    return fs ? Value::String(fs->FullPath()) : Value::NullString();
  });
  b.Assign("FullPath", [](const ObjectRef& self, Args args) {
    auto fs = Self(self);
    std::string text;
    if (fs && TextArgument("FullPath", args, &text)) fs->SetFullPath(text);
    return fs ? Value::String(fs->FullPath()) : Value();
  });
  b.Method("Create", [](const ObjectRef& self, Args args) {
    auto fs = Self(self);
    uint32_t attributes = !args.empty() && args[0].IsNumeric() ? args[0].GetDword() : 0x80;
    return Value::Logic(fs && fs->Create(attributes));
  });
  b.Register();
}

}  // namespace rt
