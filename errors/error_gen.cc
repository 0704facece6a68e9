#include "errors/error_gen.h"

#include <algorithm>
#include <vector>

#include "errors/error_object.h"
#include "platform/dialogs.h"
#include "runtime/activation.h"
#include "runtime/error.h"

namespace errors {
namespace {

constexpr char kModule[] = "ErrorGen";
constexpr char kCaption[] = "FROM DefErrorGen";

rt::Value ArgsArray(uint32_t ref) {
  auto* list = static_cast<const rt::ErrorArgList*>(rt::ResolveRef(ref));
  if (!list) return rt::Value::FromArray(rt::ArrayCreate(0));
  size_t n = std::max(list->count1, list->count2);
  std::vector<rt::Value> items(list->values.begin(),
                               list->values.begin() + std::min(n, list->values.size()));
  items.resize(n);  // a list shorter than its counts: the rest stays NIL
  return rt::Value::FromArray(rt::ArrayInit(std::move(items)));
}

}  // namespace

// The generator works for the routine that raised the error and registers no
// activation of its own: level 1 of the new object's call stack, the first one
// below ERROR:INIT, is that routine (for an operating-system exception, the one
// that was running when it struck).
rt::Value DefErrorGen(const rt::Value& record) {
  rt::Value error = NewError(1);
  if (!error.IsObject()) {
    platform::MessageBoxA("No error object created !", kCaption, platform::kMbOk);
    return error;  // nothing to fill
  }
  // A null pointer cannot be read either: it gets the wrong-tag complaint.
  if (!record.IsPtr() || !record.GetPtr()) {
    platform::MessageBoxA("Error structure has wrong tag", kCaption, platform::kMbOk);
    return error;
  }
  const auto& rec = *static_cast<const rt::ErrorStructure*>(record.GetPtr());
  namespace es = rt::es;
  auto text = [&](size_t off) { return rt::Value::String(rt::RecordText(rec, off)); };
  auto dword = [&](size_t off) { return rt::Value::Dword(rec.Get(off)); };
  auto logic = [&](size_t off) { return rt::Value::Logic(rec.Get(off) != 0); };
  auto symbol = [&](size_t off) { return rt::Value::Sym(rt::Symbol(rec.Get(off))); };
  SetField(error, "SubSystem", text(es::kSubSystem));
  SetField(error, "SubCode", dword(es::kSubCode));
  SetField(error, "GenCode", dword(es::kGenCode));
  SetField(error, "OsCode", dword(es::kOsCode));
  SetField(error, "Severity", dword(es::kSeverity));
  SetField(error, "CanDefault", logic(es::kCanDefault));
  SetField(error, "CanRetry", logic(es::kCanRetry));
  SetField(error, "CanSubstitute", logic(es::kCanSubstitute));
  SetField(error, "Operation", text(es::kOperation));
  SetField(error, "Description", text(es::kDescription));
  SetField(error, "FileName", text(es::kFileName));
  SetField(error, "Args", ArgsArray(rec.Get(es::kArgs)));
  SetField(error, "Tries", dword(es::kTries));
  SetField(error, "FuncSym", symbol(es::kFuncSym));
  SetField(error, "FileHandle", dword(es::kFileHandle));
  SetField(error, "ArgNum", dword(es::kArgNum));
  SetField(error, "FuncPtr",
           rt::Value::Ptr(const_cast<void*>(rt::ResolveRef(rec.Get(es::kFuncPtr)))));
  SetField(error, "SubCodeText", text(es::kSubCodeText));
  SetField(error, "Arg", text(es::kArg));
  SetField(error, "ArgType", dword(es::kArgType));
  SetField(error, "ArgTypeReq", dword(es::kArgTypeReq));
  SetField(error, "MaxSize", dword(es::kMaxSize));
  SetField(error, "SubstituteType", dword(es::kSubstituteType));
  if (Field(error, "Choice").GetDword() == 0) SetField(error, "Choice", dword(es::kChoice));
  SetField(error, "CallFuncSym", symbol(es::kCallFuncSym));
  return error;
}

void InstallErrorGenerator() {
  RT_ROUTINE("INSTALLERRORGENERATOR", kModule);
  if (rt::GetRTCount() == 1) rt::ErrorFunc(&DefErrorGen);
}

}  // namespace errors
