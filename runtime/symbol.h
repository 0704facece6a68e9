// Symbols: interned upper-case names with a number.
//
// String2Symbol upper-cases its argument (ASCII letters only, as the runtime
// always did) and returns the one symbol of that name; equal names give equal
// numbers. Number 0 is the null symbol, whose name is "". The program's own
// symbols are registered at start-up in one fixed order (RegisterSymbols), which
// fixes their numbers. One thread only.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace rt {

class Symbol {
 public:
  constexpr Symbol() = default;
  constexpr explicit Symbol(uint32_t id) : id_(id) {}
  constexpr uint32_t id() const { return id_; }
  constexpr bool null() const { return id_ == 0; }
  friend constexpr bool operator==(Symbol a, Symbol b) { return a.id_ == b.id_; }
  friend constexpr auto operator<=>(Symbol a, Symbol b) { return a.id_ <=> b.id_; }

 private:
  uint32_t id_ = 0;
};

// Interns name (upper-cased); "" gives the null symbol.
Symbol String2Symbol(std::string_view name);
// The name of a symbol ("" for the null symbol or an unknown number).
const std::string& Symbol2String(Symbol s);
// The symbol of a name if it was interned already, else the null symbol.
Symbol FindSymbol(std::string_view name);
// Registers names in order (start-up step 1); already known names keep their number.
void RegisterSymbols(std::initializer_list<std::string_view> names);
uint32_t SymbolCount();

// Upper-cases ASCII letters only, as symbols and the runtime's Upper() do.
std::string AsciiUpper(std::string_view s);

}  // namespace rt

template <>
struct std::hash<rt::Symbol> {
  size_t operator()(rt::Symbol s) const noexcept { return s.id(); }
};
