#include "runtime/collection.h"

#include <vector>

#include "runtime/error.h"
#include "runtime/object.h"

namespace rt {
namespace {

Symbol ElementGetSym() { return String2Symbol("ElementGet"); }
Symbol ElementPutSym() { return String2Symbol("ElementPut"); }

ErrorInfo ArgError(const char* operation, const char* description, Args args) {
  ErrorInfo e;
  e.subsystem = "BASE";
  e.gen_code = kGenArg;
  e.operation = operation;
  e.description = description;
  e.args = std::vector<Value>(args.begin(), args.end());
  e.can_default = true;
  e.can_substitute = true;
  return e;
}

Value Settle(const ErrorInfo& e) {
  ErrorOutcome out = RaiseError(e);
  return out.answer == ErrorAnswer::kSubstitute ? out.value : Value();
}

// Walks down arrays by position; a collection object on the way gets all the
// remaining indices at once (ElementGet(i, j, ...)).
Value Walk(Value current, const std::vector<Value>& indices) {
  for (size_t k = 0; k < indices.size(); ++k) {
    if (!current.IsArray()) {
      std::vector<Value> rest(indices.begin() + k, indices.end());
      return Send(current, ElementGetSym(), rest);
    }
    current = ArrayGet(current.GetArray(), indices[k].GetDword());
  }
  return current;
}

// Stores value at container[indices...], the same way down.
Value Store(Value current, const std::vector<Value>& indices, const Value& value) {
  for (size_t k = 0; k < indices.size(); ++k) {
    if (!current.IsArray()) {
      std::vector<Value> args{value};
      args.insert(args.end(), indices.begin() + k, indices.end());
      return Send(current, ElementPutSym(), args);
    }
    if (k + 1 == indices.size()) {
      ArrayPut(current.GetArray(), indices[k].GetDword(), value);
      return value;
    }
    current = ArrayGet(current.GetArray(), indices[k].GetDword());
  }
  return value;
}

}  // namespace

Value ArrayGetCollection(Args a) {
  if (a.size() < 2) return Settle(ArgError("_ArrayGetCollection", "Too few arguments", a));
  // The first index arrives last; put it back in front.
  std::vector<Value> indices{a.back()};
  indices.insert(indices.end(), a.begin() + 1, a.end() - 1);
  return Walk(a[0], indices);
}

Value ArrayPutCollection(Args a) {
  if (a.size() < 3) return Settle(ArgError("_ArrayPutCollection", "Too few arguments", a));
  std::vector<Value> indices{a.back()};
  indices.insert(indices.end(), a.begin() + 2, a.end() - 1);
  return Store(a[0], indices, a[1]);
}

Value IVarGetCollection(Args a) {
  if (a.size() < 3 || !a[1].IsSymbol()) {
    return Settle(ArgError("_IVARGETCOLLECTION", "Invalid arguments", a));
  }
  Value collection = IVarGet(a[0], a[1].GetSymbol());
  return Walk(collection, std::vector<Value>(a.begin() + 2, a.end()));
}

Value IVarPutCollection(Args a) {
  if (a.size() < 4 || !a[1].IsSymbol()) {
    return Settle(ArgError("_IVARPUTCOLLECTION", "Invalid arguments", a));
  }
  Value collection = IVarGet(a[0], a[1].GetSymbol());
  return Store(collection, std::vector<Value>(a.begin() + 3, a.end()), a[2]);
}

Value CreateInstanceByName(Args a) {
  if (a.empty() || !a[0].IsSymbol()) {
    return Settle(ArgError("CreateInstance", "Invalid class", a));
  }
  return CreateInstance(a[0].GetSymbol(), a.subspan(1));
}

void AddCollectionFunctions(Program& program) {
  program.functions.push_back({"_ArrayGetCollection", 0, &ArrayGetCollection});
  program.functions.push_back({"_ArrayPutCollection", 0, &ArrayPutCollection});
  program.functions.push_back({"_IVARGETCOLLECTION", 0, &IVarGetCollection});
  program.functions.push_back({"_IVARPUTCOLLECTION", 0, &IVarPutCollection});
  program.functions.push_back({"CreateInstance", 0, &CreateInstanceByName});
}

}  // namespace rt
