// The runtime's dynamically typed value.
//
// A Value carries its type code (Type) and its payload. Strings are 8-bit
// Windows-1252 byte strings; the null string (no text at all) is distinct from
// "". Arrays, objects and code blocks are shared by reference and reference
// counted. Dates are Julian day numbers, 0 being the empty date. Floats keep the
// number of decimals they were made with (-1: unspecified), which the text
// conversions use. Values are cheap to copy. One thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/symbol.h"

namespace rt {

enum class Type : uint32_t {
  kNil = 0,
  kLong = 1,
  kDate = 2,
  kFloat = 3,
  kArray = 5,
  kObject = 6,
  kString = 7,
  kLogic = 8,
  kBlock = 9,
  kSymbol = 10,
  kDword = 14,
  kPsz = 17,
  kPtr = 18,
  kUsual = 19,
};

class Value;
class Array;
class Object;
class CodeBlock;
using ArrayRef = std::shared_ptr<Array>;
using ObjectRef = std::shared_ptr<Object>;
using BlockRef = std::shared_ptr<CodeBlock>;
using Args = std::span<const Value>;

// A calendar date as a Julian day number; 0 is the empty date.
struct Date {
  int32_t julian = 0;
  bool empty() const { return julian == 0; }
  static Date FromYmd(int year, int month, int day);  // empty when invalid
  void ToYmd(int* year, int* month, int* day) const;  // 0,0,0 when empty
  friend bool operator==(Date a, Date b) { return a.julian == b.julian; }
  friend auto operator<=>(Date a, Date b) { return a.julian <=> b.julian; }
};

class Value {
 public:
  Value() = default;  // NIL
  static Value Long(int32_t v);
  static Value Dword(uint32_t v);
  static Value Float(double v, int decimals = -1);
  static Value Logic(bool v);
  static Value FromDate(Date d);
  static Value Sym(Symbol s);
  static Value Ptr(void* p);
  static Value Psz(const char* p);
  static Value String(std::string s);
  static Value NullString();
  static Value FromArray(ArrayRef a);
  static Value FromObject(ObjectRef o);
  static Value FromBlock(BlockRef b);

  Type type() const { return type_; }
  bool IsNil() const { return type_ == Type::kNil; }
  bool IsString() const { return type_ == Type::kString; }
  bool IsNumeric() const {
    return type_ == Type::kLong || type_ == Type::kFloat || type_ == Type::kDword;
  }
  bool IsLogic() const { return type_ == Type::kLogic; }
  bool IsDate() const { return type_ == Type::kDate; }
  bool IsSymbol() const { return type_ == Type::kSymbol; }
  bool IsArray() const { return type_ == Type::kArray; }
  bool IsObject() const { return type_ == Type::kObject; }
  bool IsBlock() const { return type_ == Type::kBlock; }
  bool IsPtr() const { return type_ == Type::kPtr || type_ == Type::kPsz; }
  // A string value whose text is absent (distinct from "").
  bool IsNullString() const { return type_ == Type::kString && !str_; }

  // Payload accessors; each gives the type's zero value for another type,
  // except the numeric ones, which convert between long, dword and float.
  int32_t GetLong() const;
  uint32_t GetDword() const;
  double GetFloat() const;
  int decimals() const { return type_ == Type::kFloat ? decimals_ : 0; }
  bool GetLogic() const { return type_ == Type::kLogic && u_.b; }
  Date GetDate() const { return type_ == Type::kDate ? Date{u_.l} : Date{}; }
  Symbol GetSymbol() const { return type_ == Type::kSymbol ? Symbol(u_.dw) : Symbol(); }
  void* GetPtr() const { return IsPtr() ? u_.p : nullptr; }
  // The bytes of a string ("" for the null string and for other types).
  const std::string& GetString() const;
  ArrayRef GetArray() const;
  ObjectRef GetObject() const;
  BlockRef GetBlock() const;

  // Identity for references, payload equality for the rest (runtime "==").
  friend bool operator==(const Value& a, const Value& b);

 private:
  Type type_ = Type::kNil;
  int16_t decimals_ = -1;
  union {
    int32_t l;
    uint32_t dw;
    double f;
    bool b;
    void* p;
  } u_{};
  std::shared_ptr<const std::string> str_;
  std::shared_ptr<void> ref_;  // Array, Object or CodeBlock, by type_
};

// Arrays: 1-based from the runtime's side, shared by reference.
class Array {
 public:
  Array() = default;
  explicit Array(size_t n) : items_(n) {}
  explicit Array(std::vector<Value> items) : items_(std::move(items)) {}
  size_t size() const { return items_.size(); }
  std::vector<Value>& items() { return items_; }
  const std::vector<Value>& items() const { return items_; }

 private:
  std::vector<Value> items_;
};

ArrayRef ArrayCreate(size_t n = 0);
ArrayRef ArrayInit(std::vector<Value> items);
void AAdd(const ArrayRef& a, Value v);
// Removes element pos (1-based); following elements move down; the last becomes NIL.
void ADel(const ArrayRef& a, uint32_t pos);
// Inserts NIL at pos (1-based); following elements move up; the last drops off.
void AIns(const ArrayRef& a, uint32_t pos);
// Element access by unsigned 1-based position. Out of range raises the runtime's
// bound error (general code 2) through the error protocol.
Value ArrayGet(const ArrayRef& a, uint32_t pos);
void ArrayPut(const ArrayRef& a, uint32_t pos, Value v);

// Code blocks: a callable with parameters.
class CodeBlock {
 public:
  using Fn = std::function<Value(Args)>;
  explicit CodeBlock(Fn fn, uint32_t params = 0) : fn_(std::move(fn)), params_(params) {}
  Value Eval(Args args) const { return fn_(args); }
  uint32_t params() const { return params_; }

 private:
  Fn fn_;
  uint32_t params_;
};

BlockRef MakeBlock(CodeBlock::Fn fn, uint32_t params = 0);
Value Eval(const Value& block, Args args = {});

// An empty value of a type code (EmptyUsual): "" for strings, 0 for numbers,
// the empty date, false, an empty array, the null symbol, NIL otherwise.
Value EmptyUsual(uint32_t type_code);

// The runtime's Empty(): NIL, "", blank strings, 0, empty date, false, empty
// array, null symbol and null pointer are empty.
bool Empty(const Value& v);

}  // namespace rt
