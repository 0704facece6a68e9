#include "errors/error_object.h"

#include <memory>
#include <vector>

#include "errors/call_stack.h"
#include "runtime/activation.h"
#include "runtime/error.h"
#include "runtime/object.h"
#include "runtime/program.h"

namespace errors {

using rt::Type;

const std::array<ErrorField, 28> kErrorFields = {{
    {"SubSystem", Type::kString},     {"SubCode", Type::kDword},
    {"GenCode", Type::kDword},        {"OsCode", Type::kDword},
    {"Severity", Type::kDword},       {"CanDefault", Type::kLogic},
    {"CanRetry", Type::kLogic},       {"CanSubstitute", Type::kLogic},
    {"Operation", Type::kString},     {"Description", Type::kString},
    {"FileName", Type::kString},      {"Args", Type::kArray},
    {"Tries", Type::kDword},          {"FuncSym", Type::kSymbol},
    {"FileHandle", Type::kDword},     {"ArgNum", Type::kDword},
    {"FuncPtr", Type::kPtr},          {"SubCodeText", Type::kString},
    {"Arg", Type::kString},           {"ArgType", Type::kDword},
    {"ArgTypeReq", Type::kDword},     {"MaxSize", Type::kDword},
    {"SubstituteType", Type::kDword}, {"Choice", Type::kDword},
    {"CallFuncSym", Type::kSymbol},   {"Cargo", Type::kUsual},
    {"MethodSelf", Type::kObject},    {"Stack", Type::kString},
}};

namespace {

constexpr char kModule[] = "Error";

rt::Value ZeroOf(Type type) {
  switch (type) {
    case Type::kString:
      return rt::Value::String("");
    case Type::kDword:
      return rt::Value::Dword(0);
    case Type::kLogic:
      return rt::Value::Logic(false);
    case Type::kSymbol:
      return rt::Value::Sym(rt::Symbol());
    case Type::kPtr:
      return rt::Value::Ptr(nullptr);
    // "No array" and "no object" are NIL in this runtime.
    default:
      return rt::Value();
  }
}

// Init([start level]): the constructor run by CreateInstance.
rt::Value Init(const rt::ObjectRef& self, rt::Args args) {
  RT_ROUTINE("ERROR:INIT", kModule);
  uint32_t start = !args.empty() && args[0].IsNumeric() ? args[0].GetDword() : 0;
  RT_LINE();
  self->Set("Stack", rt::Value::String(CallStackText(start)));
  self->Set("SubSystem", rt::Value::String(rt::ExecName()));
  return rt::Value::FromObject(self);
}

rt::Value Throw(const rt::ObjectRef& self, rt::Args) {
  RT_ROUTINE("ERROR:THROW", kModule);
  rt::Value me = rt::Value::FromObject(self);
  rt::Value block = rt::ErrorBlock();
  RT_LINE();
  if (!block.IsBlock()) {
    // No block at all: the runtime's own last resort (it reports and quits).
    rt::ErrorOutcome out = rt::ThrowError(me);
    if (out.answer == rt::ErrorAnswer::kSubstitute) return out.value;
    return rt::Value::Logic(out.answer == rt::ErrorAnswer::kRetry);
  }
  rt::Value arg[] = {me};
  return rt::Eval(block, arg);
}

}  // namespace

void DeclareErrorClass() {
  rt::ClassBuilder builder("Error");
  for (const ErrorField& f : kErrorFields) builder.IVar(f.name);
  builder.Method("Init", Init).Method("Throw", Throw);
  builder.MakeWith([](const rt::Class* cls) {
    auto object = std::make_shared<rt::Object>(cls);
    for (const ErrorField& f : kErrorFields) {
      int i = cls->IVarIndex(rt::FindSymbol(f.name));
      if (i >= 0) object->slot(i) = ZeroOf(f.type);
    }
    return object;
  });
  builder.Register();
}

rt::Value NewError(uint32_t start_level) {
  rt::Value arg[] = {rt::Value::Long(static_cast<int32_t>(start_level))};
  return rt::CreateInstance(rt::String2Symbol("ERROR"), arg);
}

rt::Value Field(const rt::Value& error, std::string_view name) {
  return rt::IVarGet(error, rt::String2Symbol(name));
}

void SetField(const rt::Value& error, std::string_view name, rt::Value v) {
  rt::IVarPut(error, rt::String2Symbol(name), std::move(v));
}

}  // namespace errors
