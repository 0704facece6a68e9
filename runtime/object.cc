#include "runtime/object.h"

#include <cassert>
#include <unordered_map>

#include "runtime/error.h"

namespace rt {
namespace {

std::unordered_map<Symbol, std::unique_ptr<Class>>& Registry() {
  static auto* registry = new std::unordered_map<Symbol, std::unique_ptr<Class>>;
  return *registry;
}

// Classes replaced by a later registration stay alive: objects made from them
// may still exist.
std::vector<std::unique_ptr<Class>>& Retired() {
  static auto* retired = new std::vector<std::unique_ptr<Class>>;
  return *retired;
}

uint32_t TypeOf(const Value& v) { return static_cast<uint32_t>(v.type()); }

ErrorInfo MemberError(uint32_t gen_code, const char* operation, const Value& obj, Symbol member) {
  ErrorInfo e;
  e.subsystem = "BASE";
  e.gen_code = gen_code;
  e.operation = operation;
  e.func_sym = member;
  e.arg = Symbol2String(member);
  e.description = gen_code == kGenNoMethod ? "No exported method" : "No exported variable";
  e.args = std::vector<Value>{obj, Value::Sym(member)};
  e.arg_num = 0;
  e.arg_type = TypeOf(obj);
  e.can_default = true;
  e.can_retry = true;
  e.can_substitute = true;
  return e;
}

// Runs the member lookup under the error protocol: `found` tries once and
// returns true with *result set when the member exists.
template <class F>
Value WithMember(uint32_t gen_code, const char* operation, const Value& obj, Symbol member,
                 F found) {
  Value result;
  auto outcome = RunWithErrorProtocol([&]() -> std::optional<ErrorInfo> {
    if (found(&result)) return std::nullopt;
    return MemberError(gen_code, operation, obj, member);
  });
  if (!outcome) return result;
  return outcome->answer == ErrorAnswer::kSubstitute ? outcome->value : Value();
}

const Class* ClassOf(const Value& obj) {
  ObjectRef o = obj.GetObject();
  return o ? o->cls() : nullptr;
}

}  // namespace

Object::Object(const Class* cls) : cls_(cls), ivars_(cls ? cls->ivars().size() : 0) {}

Value Object::Get(std::string_view name) const {
  int i = cls_ ? cls_->IVarIndex(FindSymbol(name)) : -1;
  assert(i >= 0 && "unknown instance variable");
  return i >= 0 ? ivars_[i] : Value();
}

void Object::Set(std::string_view name, Value v) {
  int i = cls_ ? cls_->IVarIndex(FindSymbol(name)) : -1;
  assert(i >= 0 && "unknown instance variable");
  if (i >= 0) ivars_[i] = std::move(v);
}

int Class::IVarIndex(Symbol s) const {
  if (s.null()) return -1;
  for (size_t i = 0; i < ivars_.size(); ++i) {
    if (ivars_[i] == s) return static_cast<int>(i);
  }
  return -1;
}

const Method* Class::FindMethod(Symbol s) const {
  for (const Class* c = this; c; c = c->base_) {
    auto it = c->methods_.find(s);
    if (it != c->methods_.end()) return &it->second;
  }
  return nullptr;
}

const Method* Class::FindAccess(Symbol s) const {
  for (const Class* c = this; c; c = c->base_) {
    auto it = c->access_.find(s);
    if (it != c->access_.end()) return &it->second;
  }
  return nullptr;
}

const Method* Class::FindAssign(Symbol s) const {
  for (const Class* c = this; c; c = c->base_) {
    auto it = c->assign_.find(s);
    if (it != c->assign_.end()) return &it->second;
  }
  return nullptr;
}

bool Class::IsA(const Class* other) const {
  for (const Class* c = this; c; c = c->base_) {
    if (c == other || (other && c->name_ == other->name_)) return true;
  }
  return false;
}

ObjectRef Class::New() const {
  for (const Class* c = this; c; c = c->base_) {
    if (c->factory_) return c->factory_(this);
  }
  return std::make_shared<Object>(this);
}

ClassBuilder::ClassBuilder(std::string_view name, std::string_view base)
    : cls_(std::make_unique<Class>()) {
  cls_->name_ = String2Symbol(name);
  if (!base.empty()) {
    cls_->base_ = FindClass(FindSymbol(base));
    assert(cls_->base_ && "base class must be declared first");
    if (cls_->base_) cls_->ivars_ = cls_->base_->ivars_;
  }
}

ClassBuilder& ClassBuilder::IVar(std::string_view name) {
  Symbol s = String2Symbol(name);
  if (cls_->IVarIndex(s) < 0) cls_->ivars_.push_back(s);
  return *this;
}

ClassBuilder& ClassBuilder::Method(std::string_view name, rt::Method fn) {
  cls_->methods_[String2Symbol(name)] = std::move(fn);
  return *this;
}

ClassBuilder& ClassBuilder::Access(std::string_view name, rt::Method fn) {
  cls_->access_[String2Symbol(name)] = std::move(fn);
  return *this;
}

ClassBuilder& ClassBuilder::Assign(std::string_view name, rt::Method fn) {
  cls_->assign_[String2Symbol(name)] = std::move(fn);
  return *this;
}

ClassBuilder& ClassBuilder::MakeWith(Factory factory) {
  cls_->factory_ = std::move(factory);
  return *this;
}

const Class* ClassBuilder::Register() {
  Symbol name = cls_->name_;
  auto& slot = Registry()[name];
  if (slot) Retired().push_back(std::move(slot));
  slot = std::move(cls_);
  return slot.get();
}

const Class* FindClass(Symbol name) {
  auto& r = Registry();
  auto it = r.find(name);
  return it == r.end() ? nullptr : it->second.get();
}

bool IsClass(Symbol name) { return !name.null() && FindClass(name) != nullptr; }

bool IsInstanceOf(const Value& obj, Symbol class_name) {
  const Class* c = ClassOf(obj);
  const Class* target = FindClass(class_name);
  return c && target && c->IsA(target);
}

Value SendFrom(const Class* from, const Value& obj, Symbol method, Args args) {
  return WithMember(kGenNoMethod, "Send", obj, method, [&](Value* result) {
    const Method* m = from ? from->FindMethod(method) : nullptr;
    if (!m) return false;
    *result = (*m)(obj.GetObject(), args);
    return true;
  });
}

Value Send(const Value& obj, Symbol method, Args args) {
  return SendFrom(ClassOf(obj), obj, method, args);
}

Value Send(const Value& obj, std::string_view method, std::initializer_list<Value> args) {
  return Send(obj, String2Symbol(method), Args(args.begin(), args.size()));
}

Value SendClassParams(const Value& obj, Symbol method, const ArrayRef& args) {
  if (!args) return Send(obj, method, {});
  std::vector<Value> copy = args->items();
  return Send(obj, method, Args(copy));
}

Value IVarGet(const Value& obj, Symbol ivar) {
  return WithMember(kGenNoVar, "IVarGet", obj, ivar, [&](Value* result) {
    const Class* c = ClassOf(obj);
    if (!c) return false;
    if (const Method* access = c->FindAccess(ivar)) {
      *result = (*access)(obj.GetObject(), {});
      return true;
    }
    int i = c->IVarIndex(ivar);
    if (i < 0) return false;
    *result = obj.GetObject()->slot(i);
    return true;
  });
}

Value IVarPut(const Value& obj, Symbol ivar, Value v) {
  return WithMember(kGenNoVar, "IVarPut", obj, ivar, [&](Value* result) {
    const Class* c = ClassOf(obj);
    if (!c) return false;
    if (const Method* assign = c->FindAssign(ivar)) {
      Value arg[] = {v};
      (*assign)(obj.GetObject(), arg);
      *result = v;
      return true;
    }
    int i = c->IVarIndex(ivar);
    if (i < 0) return false;
    obj.GetObject()->slot(i) = v;
    *result = v;
    return true;
  });
}

bool IVarGetInfo(const Value& obj, Symbol ivar) {
  const Class* c = ClassOf(obj);
  return c && (c->IVarIndex(ivar) >= 0 || c->FindAccess(ivar) != nullptr);
}

Value CreateInstance(Symbol cls, Args args) {
  Value result;
  auto outcome = RunWithErrorProtocol([&]() -> std::optional<ErrorInfo> {
    const Class* c = FindClass(cls);
    if (c) {
      result = Value::FromObject(c->New());
      if (c->FindMethod(String2Symbol("Init"))) {
        Send(result, String2Symbol("Init"), args);
      }
      return std::nullopt;
    }
    ErrorInfo e;
    e.subsystem = "BASE";
    e.gen_code = kGenNoFunc;
    e.operation = "CreateInstance";
    e.description = "Class does not exist";
    e.func_sym = cls;
    e.arg = Symbol2String(cls);
    e.arg_num = 1;
    e.arg_type = static_cast<uint32_t>(Type::kSymbol);
    e.args = std::vector<Value>{Value::Sym(cls)};
    e.can_default = true;
    e.can_retry = true;
    e.can_substitute = true;
    return e;
  });
  if (!outcome) return result;
  return outcome->answer == ErrorAnswer::kSubstitute ? outcome->value : Value();
}

}  // namespace rt
