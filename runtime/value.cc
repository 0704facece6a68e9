#include "runtime/value.h"

#include <cmath>

#include "runtime/error.h"

namespace rt {
namespace {

const std::string kEmptyString;

}  // namespace

Value Value::Long(int32_t v) {
  Value r;
  r.type_ = Type::kLong;
  r.u_.l = v;
  return r;
}

Value Value::Dword(uint32_t v) {
  Value r;
  r.type_ = Type::kDword;
  r.u_.dw = v;
  return r;
}

Value Value::Float(double v, int decimals) {
  Value r;
  r.type_ = Type::kFloat;
  r.u_.f = v;
  r.decimals_ = static_cast<int16_t>(decimals);
  return r;
}

Value Value::Logic(bool v) {
  Value r;
  r.type_ = Type::kLogic;
  r.u_.b = v;
  return r;
}

Value Value::FromDate(Date d) {
  Value r;
  r.type_ = Type::kDate;
  r.u_.l = d.julian;
  return r;
}

Value Value::Sym(Symbol s) {
  Value r;
  r.type_ = Type::kSymbol;
  r.u_.dw = s.id();
  return r;
}

Value Value::Ptr(void* p) {
  Value r;
  r.type_ = Type::kPtr;
  r.u_.p = p;
  return r;
}

Value Value::Psz(const char* p) {
  Value r;
  r.type_ = Type::kPsz;
  r.u_.p = const_cast<char*>(p);
  return r;
}

Value Value::String(std::string s) {
  Value r;
  r.type_ = Type::kString;
  r.str_ = std::make_shared<const std::string>(std::move(s));
  return r;
}

Value Value::NullString() {
  Value r;
  r.type_ = Type::kString;
  return r;
}

Value Value::FromArray(ArrayRef a) {
  if (!a) return Value();
  Value r;
  r.type_ = Type::kArray;
  r.ref_ = std::move(a);
  return r;
}

Value Value::FromObject(ObjectRef o) {
  if (!o) return Value();
  Value r;
  r.type_ = Type::kObject;
  r.ref_ = std::move(o);
  return r;
}

Value Value::FromBlock(BlockRef b) {
  if (!b) return Value();
  Value r;
  r.type_ = Type::kBlock;
  r.ref_ = std::move(b);
  return r;
}

int32_t Value::GetLong() const {
  switch (type_) {
    case Type::kLong:
      return u_.l;
    case Type::kDword:
      return static_cast<int32_t>(u_.dw);
    case Type::kFloat:
      if (!std::isfinite(u_.f) || u_.f >= 2147483648.0 || u_.f < -2147483648.0) return 0;
      return static_cast<int32_t>(u_.f);
    default:
      return 0;
  }
}

uint32_t Value::GetDword() const {
  switch (type_) {
    case Type::kLong:
      return static_cast<uint32_t>(u_.l);
    case Type::kDword:
      return u_.dw;
    case Type::kFloat:
      if (!std::isfinite(u_.f)) return 0;
      if (u_.f >= 0) return u_.f >= 4294967296.0 ? 0 : static_cast<uint32_t>(u_.f);
      return u_.f < -2147483648.0 ? 0 : static_cast<uint32_t>(static_cast<int32_t>(u_.f));
    default:
      return 0;
  }
}

double Value::GetFloat() const {
  switch (type_) {
    case Type::kLong:
      return u_.l;
    case Type::kDword:
      return u_.dw;
    case Type::kFloat:
      return u_.f;
    default:
      return 0;
  }
}

const std::string& Value::GetString() const {
  return (type_ == Type::kString && str_) ? *str_ : kEmptyString;
}

ArrayRef Value::GetArray() const {
  return type_ == Type::kArray ? std::static_pointer_cast<Array>(ref_) : nullptr;
}

ObjectRef Value::GetObject() const {
  return type_ == Type::kObject ? std::static_pointer_cast<Object>(ref_) : nullptr;
}

BlockRef Value::GetBlock() const {
  return type_ == Type::kBlock ? std::static_pointer_cast<CodeBlock>(ref_) : nullptr;
}

bool operator==(const Value& a, const Value& b) {
  if (a.IsNumeric() && b.IsNumeric()) return a.GetFloat() == b.GetFloat();
  if (a.type_ != b.type_) return false;
  switch (a.type_) {
    case Type::kNil:
      return true;
    case Type::kDate:
      return a.u_.l == b.u_.l;
    case Type::kLogic:
      return a.u_.b == b.u_.b;
    case Type::kSymbol:
      return a.u_.dw == b.u_.dw;
    case Type::kPtr:
    case Type::kPsz:
      return a.u_.p == b.u_.p;
    case Type::kString:
      if (!a.str_ || !b.str_) return !a.str_ && !b.str_;
      return *a.str_ == *b.str_;
    default:
      return a.ref_ == b.ref_;
  }
}

ArrayRef ArrayCreate(size_t n) { return std::make_shared<Array>(n); }

ArrayRef ArrayInit(std::vector<Value> items) { return std::make_shared<Array>(std::move(items)); }

void AAdd(const ArrayRef& a, Value v) {
  if (a) a->items().push_back(std::move(v));
}

void ADel(const ArrayRef& a, uint32_t pos) {
  if (!a || pos == 0 || pos > a->size()) return;
  auto& items = a->items();
  items.erase(items.begin() + (pos - 1));
  items.emplace_back();
}

void AIns(const ArrayRef& a, uint32_t pos) {
  if (!a || pos == 0 || pos > a->size()) return;
  auto& items = a->items();
  items.insert(items.begin() + (pos - 1), Value());
  items.pop_back();
}

namespace {

ErrorInfo BoundError(const char* operation, uint32_t pos) {
  ErrorInfo e;
  e.subsystem = "BASE";
  e.gen_code = kGenBound;
  e.operation = operation;
  e.description = "Array access out of bounds";
  e.args = std::vector<Value>{Value::Dword(pos)};
  e.arg_num = 1;
  e.can_default = true;
  e.can_substitute = true;
  e.can_retry = false;
  return e;
}

}  // namespace

Value ArrayGet(const ArrayRef& a, uint32_t pos) {
  if (a && pos >= 1 && pos <= a->size()) return a->items()[pos - 1];
  ErrorOutcome out = RaiseError(BoundError("ArrayGet", pos));
  return out.answer == ErrorAnswer::kSubstitute ? out.value : Value();
}

void ArrayPut(const ArrayRef& a, uint32_t pos, Value v) {
  if (a && pos >= 1 && pos <= a->size()) {
    a->items()[pos - 1] = std::move(v);
    return;
  }
  RaiseError(BoundError("ArrayPut", pos));
}

BlockRef MakeBlock(CodeBlock::Fn fn, uint32_t params) {
  return std::make_shared<CodeBlock>(std::move(fn), params);
}

Value Eval(const Value& block, Args args) {
  BlockRef b = block.GetBlock();
  if (!b) return Value();
  return b->Eval(args);
}

Value EmptyUsual(uint32_t type_code) {
  switch (static_cast<Type>(type_code)) {
    case Type::kLong:
      return Value::Long(0);
    case Type::kDword:
      return Value::Dword(0);
    case Type::kFloat:
      return Value::Float(0);
    case Type::kDate:
      return Value::FromDate(Date{});
    case Type::kString:
      return Value::String("");
    case Type::kLogic:
      return Value::Logic(false);
    case Type::kArray:
      return Value::FromArray(ArrayCreate());
    case Type::kSymbol:
      return Value::Sym(Symbol());
    case Type::kPtr:
      return Value::Ptr(nullptr);
    case Type::kPsz:
      return Value::Psz(nullptr);
    default:
      return Value();
  }
}

bool Empty(const Value& v) {
  switch (v.type()) {
    case Type::kNil:
      return true;
    case Type::kString:
      for (char c : v.GetString()) {
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
      }
      return true;
    case Type::kLong:
    case Type::kDword:
    case Type::kFloat:
      return v.GetFloat() == 0;
    case Type::kDate:
      return v.GetDate().empty();
    case Type::kLogic:
      return !v.GetLogic();
    case Type::kArray:
      return v.GetArray()->size() == 0;
    case Type::kSymbol:
      return v.GetSymbol().null();
    case Type::kPtr:
    case Type::kPsz:
      return v.GetPtr() == nullptr;
    default:
      return false;
  }
}

}  // namespace rt
