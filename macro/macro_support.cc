#include "macro/macro_support.h"

#include "runtime/activation.h"
#include "runtime/functions.h"
#include "runtime/object.h"

namespace macro {
namespace {

constexpr const char* kModule = "Macro Support";
constexpr const char* kTooFew = "Arg error, To few arguments";
constexpr const char* kTooMany = "Arg error, To manny arguments";
constexpr const char* kInvalidClass = "Arg error, Invalid class";
constexpr const char* kInvalidSymbol = "Arg error, Invalid symbol";
constexpr const char* kNotSymbol = "Arg error, !IsSymbol(aArgs[2])";

// A symbol stays, a string is interned, anything else is the null symbol.
rt::Symbol NameToSymbol(const rt::Value& v) {
  if (v.IsSymbol()) return v.GetSymbol();
  if (v.IsString()) return rt::String2Symbol(v.GetString());
  return rt::Symbol();
}

// The argument array: a fresh array of exactly the arguments passed.
rt::ArrayRef ArgumentArray(rt::Args args) {
  rt::ArrayRef a = rt::ArrayCreate(args.size());
  for (size_t i = 0; i < args.size(); ++i) {
    rt::ArrayPut(a, static_cast<uint32_t>(i + 1), args[i]);
  }
  return a;
}

rt::Value ArrayValue(const rt::ArrayRef& a) { return rt::Value::FromArray(a); }

rt::Value CallRuntime(const char* name, const rt::ArrayRef& a) {
  return rt::CallClipFunc(rt::String2Symbol(name), a);
}

}  // namespace

void PcError(uint32_t arg_num, const std::string& message, const std::string& operation,
             const rt::Value& args, rt::Symbol symbol) {
  RT_ROUTINE("__PCERROR", kModule);
  RT_LINE();
  rt::Value err =
      rt::CreateInstance(rt::String2Symbol("Error"), std::vector<rt::Value>{rt::Value::Long(1)});
  auto put = [&](const char* field, rt::Value v) {
    rt::IVarPut(err, rt::String2Symbol(field), std::move(v));
  };
  put("SubSystem", rt::Value::String("PCEVal"));
  put("SubCode", rt::Value::Dword(0));
  put("GenCode", rt::Value::Dword(1));
  put("OsCode", rt::Value::Dword(0));
  put("Severity", rt::Value::Dword(2));
  put("CanDefault", rt::Value::Logic(false));
  put("CanRetry", rt::Value::Logic(false));
  put("CanSubstitute", rt::Value::Logic(false));
  put("Operation", rt::Value::String(operation));
  put("Description", rt::Value::String(message));
  put("FileName", rt::Value::String(""));
  put("Args", args);
  put("Tries", rt::Value::Dword(0));
  put("FuncSym", rt::Value::Sym(symbol));
  put("FileHandle", rt::Value::Dword(0));
  put("ArgNum", rt::Value::Dword(arg_num));
  put("FuncPtr", rt::Value::Ptr(nullptr));
  put("SubCodeText", rt::Value::String("PCode"));
  put("Arg", rt::Value::String(""));
  put("ArgType", rt::Value::Dword(0));
  put("ArgTypeReq", rt::Value::Dword(0));
  put("MaxSize", rt::Value::Dword(0));
  put("SubstituteType", rt::Value::Dword(0));
  put("Choice", rt::Value::Dword(0));
  put("CallFuncSym", rt::Value::Sym(rt::Symbol()));
  put("Cargo", rt::Value());
  put("MethodSelf", rt::Value());
  RT_LINE();
  rt::Send(err, "Throw");
}

rt::Value PcSend(rt::Args args) {
  RT_ROUTINE("__PCSEND", kModule);
  rt::Symbol method = args.size() >= 2 ? NameToSymbol(args[1]) : rt::Symbol();
  rt::ArrayRef params = rt::ArrayCreate();
  for (size_t i = 2; i < args.size(); ++i) rt::AAdd(params, args[i]);
  if (args.size() < 2) {
    RT_LINE();
    PcError(0, kTooFew, "Send", ArrayValue(params), method);
    return rt::Value();
  }
  RT_LINE();
  return rt::SendClassParams(args[0], method, params);
}

rt::Value PcIVarGet(rt::Args args) {
  RT_ROUTINE("__PCIVARGET", kModule);
  rt::Symbol ivar = args.size() >= 2 ? NameToSymbol(args[1]) : rt::Symbol();
  if (args.size() != 2) {
    RT_LINE();
    PcError(0, args.size() > 2 ? kTooMany : kTooFew, "IVarGet", rt::Value(), ivar);
    return rt::Value();
  }
  RT_LINE();
  return rt::IVarGet(args[0], ivar);
}

rt::Value PcIVarPut(rt::Args args) {
  RT_ROUTINE("__PCIVARPUT", kModule);
  rt::Symbol ivar = args.size() >= 2 ? NameToSymbol(args[1]) : rt::Symbol();
  if (args.size() != 3) {
    rt::ArrayRef value = rt::ArrayCreate(1);
    if (args.size() >= 3) rt::ArrayPut(value, 1, args[2]);
    RT_LINE();
    PcError(0, args.size() > 3 ? kTooMany : kTooFew, "IVarPut", ArrayValue(value), ivar);
    return rt::Value();
  }
  RT_LINE();
  return rt::IVarPut(args[0], ivar, args[2]);
}

rt::Value PcCreateInstance(rt::Args args) {
  RT_ROUTINE("__PCCREATEINSTANCE", kModule);
  rt::Symbol cls = args.empty() ? rt::Symbol() : NameToSymbol(args[0]);
  rt::ArrayRef a = rt::ArrayInit({rt::Value::Sym(cls)});
  for (size_t i = 1; i < args.size(); ++i) rt::AAdd(a, args[i]);
  if (args.empty()) {
    RT_LINE();
    PcError(0, kTooFew, "CreateInstance", ArrayValue(a), cls);
    return rt::Value();
  }
  if (!cls.null() && rt::IsClass(cls)) {
    RT_LINE();
    return CallRuntime("CreateInstance", a);
  }
  RT_LINE();
  PcError(1, kInvalidClass, "CreateInstance", ArrayValue(a), cls);
  return rt::Value();
}

rt::Value PcSymbol(rt::Args args) {
  RT_ROUTINE("__PCSYMBOL", kModule);
  if (args.size() != 1) {
    RT_LINE();
    PcError(0, args.size() > 1 ? kTooMany : kTooFew, "Symbol", rt::Value(), rt::Symbol());
    return rt::Value();
  }
  if (rt::Empty(args[0])) return rt::Value::Sym(rt::Symbol());
  rt::Symbol s = NameToSymbol(args[0]);
  if (!s.null()) return rt::Value::Sym(s);
  RT_LINE();
  PcError(1, kInvalidSymbol, "Symbol", rt::Value(), rt::Symbol());
  return rt::Value();
}

rt::Value PcArrGetCollection(rt::Args args) {
  RT_ROUTINE("__PCARRGETCOLLECTION", kModule);
  rt::ArrayRef a = ArgumentArray(args);
  uint32_t n = static_cast<uint32_t>(args.size());
  if (n < 2) {
    RT_LINE();
    PcError(0, kTooFew, "ArrayGetCollection", ArrayValue(a), rt::Symbol());
    return rt::Value();
  }
  rt::Value container = rt::ArrayGet(a, 1);
  if (container.IsArray()) {
    rt::Value current = container;
    for (uint32_t i = 2; i <= n; ++i) {
      RT_LINE();
      current = rt::ArrayGet(current.GetArray(), rt::ArrayGet(a, i).GetDword());
    }
    return current;
  }
  // A collection: the runtime takes the first index last.
  rt::Value first = rt::ArrayGet(a, 2);
  rt::ADel(a, 2);
  rt::ArrayPut(a, n, first);
  RT_LINE();
  return CallRuntime("_ArrayGetCollection", a);
}

rt::Value PcArrPutCollection(rt::Args args) {
  RT_ROUTINE("__PCARRPUTCOLLECTION", kModule);
  rt::ArrayRef a = ArgumentArray(args);
  uint32_t n = static_cast<uint32_t>(args.size());
  if (n < 3) {
    RT_LINE();
    PcError(0, kTooFew, "ArrayPutCollection", ArrayValue(a), rt::Symbol());
    return rt::Value();
  }
  rt::Value container = rt::ArrayGet(a, 1);
  if (container.IsArray()) {
    rt::Value current = container;
    for (uint32_t i = 2; i <= n - 2; ++i) {
      RT_LINE();
      current = rt::ArrayGet(current.GetArray(), rt::ArrayGet(a, i).GetDword());
    }
    rt::Value value = rt::ArrayGet(a, n);
    RT_LINE();
    rt::ArrayPut(current.GetArray(), rt::ArrayGet(a, n - 1).GetDword(), value);
    return value;
  }
  // The value moves to position 2 and the first index to the end.
  rt::Value first = rt::ArrayGet(a, 2);
  rt::ArrayPut(a, 2, rt::ArrayGet(a, n));
  rt::ArrayPut(a, n, first);
  RT_LINE();
  return CallRuntime("_ArrayPutCollection", a);
}

rt::Value PcIVaGetCollection(rt::Args args) {
  RT_ROUTINE("__PCIVAGETCOLLECTION", kModule);
  rt::ArrayRef a = ArgumentArray(args);
  if (args.size() < 3) {
    RT_LINE();
    PcError(0, kTooFew, "IVarGetCollection", ArrayValue(a), rt::Symbol());
    return rt::Value();
  }
  rt::Value name = rt::ArrayGet(a, 2);
  if (name.IsString()) rt::ArrayPut(a, 2, rt::Value::Sym(rt::String2Symbol(name.GetString())));
  if (rt::ArrayGet(a, 2).IsSymbol()) {
    RT_LINE();
    return CallRuntime("_IVARGETCOLLECTION", a);
  }
  RT_LINE();
  PcError(0, kNotSymbol, "IVarGetCollection", ArrayValue(a), rt::Symbol());
  return rt::Value();
}

rt::Value PcIVaPutCollection(rt::Args args) {
  RT_ROUTINE("__PCIVAPUTCOLLECTION", kModule);
  rt::ArrayRef a = ArgumentArray(args);
  uint32_t n = static_cast<uint32_t>(args.size());
  if (n < 4) {
    RT_LINE();
    PcError(0, kTooFew, "IVarPutCollection", ArrayValue(a), rt::Symbol());
    return rt::Value();
  }
  // The value moves from the end to position 3, ahead of the indices.
  rt::Value value = rt::ArrayGet(a, n);
  rt::AIns(a, 3);
  rt::ArrayPut(a, 3, value);
  rt::Value name = rt::ArrayGet(a, 2);
  if (name.IsString()) rt::ArrayPut(a, 2, rt::Value::Sym(rt::String2Symbol(name.GetString())));
  if (rt::ArrayGet(a, 2).IsSymbol()) {
    RT_LINE();
    return CallRuntime("_IVARPUTCOLLECTION", a);
  }
  RT_LINE();
  PcError(0, kNotSymbol, "IVarPutCollection", ArrayValue(a), rt::Symbol());
  return rt::Value();
}

void AddToProgram(rt::Program& program) {
  program.functions.push_back({"__PCARRGETCOLLECTION", 0, &PcArrGetCollection});
  program.functions.push_back({"__PCARRPUTCOLLECTION", 0, &PcArrPutCollection});
  program.functions.push_back({"__PCCREATEINSTANCE", 1, &PcCreateInstance});
  program.functions.push_back({"__PCIVAGETCOLLECTION", 0, &PcIVaGetCollection});
  program.functions.push_back({"__PCIVAPUTCOLLECTION", 0, &PcIVaPutCollection});
  program.functions.push_back({"__PCIVARGET", 2, &PcIVarGet});
  program.functions.push_back({"__PCIVARPUT", 3, &PcIVarPut});
  program.functions.push_back({"__PCSEND", 2, &PcSend});
  program.functions.push_back({"__PCSYMBOL", 1, &PcSymbol});
}

}  // namespace macro
