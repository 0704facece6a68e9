#include "runtime/symbol.h"

#include <deque>
#include <unordered_map>

namespace rt {
namespace {

struct SymbolTable {
  // Index 0 is the null symbol. A deque keeps names at stable addresses.
  std::deque<std::string> names{std::string()};
  std::unordered_map<std::string, uint32_t> ids;
};

SymbolTable& Table() {
  static SymbolTable* table = new SymbolTable;
  return *table;
}

}  // namespace

std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

Symbol String2Symbol(std::string_view name) {
  if (name.empty()) return Symbol();
  SymbolTable& t = Table();
  std::string upper = AsciiUpper(name);
  auto it = t.ids.find(upper);
  if (it != t.ids.end()) return Symbol(it->second);
  auto id = static_cast<uint32_t>(t.names.size());
  t.names.push_back(upper);
  t.ids.emplace(std::move(upper), id);
  return Symbol(id);
}

Symbol FindSymbol(std::string_view name) {
  SymbolTable& t = Table();
  auto it = t.ids.find(AsciiUpper(name));
  return it == t.ids.end() ? Symbol() : Symbol(it->second);
}

const std::string& Symbol2String(Symbol s) {
  SymbolTable& t = Table();
  return s.id() < t.names.size() ? t.names[s.id()] : t.names[0];
}

void RegisterSymbols(std::initializer_list<std::string_view> names) {
  for (std::string_view n : names) String2Symbol(n);
}

uint32_t SymbolCount() { return static_cast<uint32_t>(Table().names.size() - 1); }

}  // namespace rt
