#include "runtime/functions.h"

#include <unordered_map>

#include "runtime/error.h"

namespace rt {
namespace {

struct Entry {
  uint32_t declared_params;
  Function fn;
};

struct FunctionTable {
  std::unordered_map<Symbol, Entry> entries;
};

FunctionTable& Table() {
  static auto* table = new FunctionTable;
  return *table;
}

}  // namespace

void RegisterFunction(std::string_view name, uint32_t declared_params, Function fn) {
  FunctionTable& t = Table();
  Symbol s = String2Symbol(name);
  t.entries[s] = Entry{declared_params, std::move(fn)};
}

bool IsFunction(Symbol name) { return Table().entries.count(name) != 0; }

int FunctionParams(Symbol name) {
  auto& e = Table().entries;
  auto it = e.find(name);
  return it == e.end() ? -1 : static_cast<int>(it->second.declared_params);
}

Value CallClipFunc(Symbol name, const ArrayRef& args) {
  Value result;
  auto outcome = RunWithErrorProtocol([&]() -> std::optional<ErrorInfo> {
    auto& e = Table().entries;
    auto it = e.find(name);
    if (it != e.end()) {
      // The function may change the table (a call that registers others), so
      // keep our own copy of what we call.
      Function fn = it->second.fn;
      std::vector<Value> copy = args ? args->items() : std::vector<Value>{};
      result = fn(Args(copy));
      return std::nullopt;
    }
    ErrorInfo info;
    info.subsystem = "BASE";
    info.gen_code = kGenNoFunc;
    info.operation = "_CallClipFunc";
    info.description = "Undefined function";
    info.func_sym = name;
    info.arg = Symbol2String(name);
    info.arg_num = 1;
    info.can_default = true;
    info.can_retry = true;
    info.can_substitute = true;
    return info;
  });
  if (!outcome) return result;
  return outcome->answer == ErrorAnswer::kSubstitute ? outcome->value : Value();
}

Value CallFunction(std::string_view name, std::initializer_list<Value> args) {
  return CallClipFunc(String2Symbol(name), ArrayInit(std::vector<Value>(args)));
}

}  // namespace rt
