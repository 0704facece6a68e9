// Classes and objects with late-bound access by symbol.
//
// A class registers its symbol, its base class, its exported instance variables
// and its methods (plus ACCESS/ASSIGN pairs, which look like variables from
// outside). Send, IVarGet, IVarPut and CreateInstance find them by symbol at
// run time, starting from the object's own class, so a subclass that replaces a
// method changes every caller that goes through Send. A missing method raises
// general code 13, a missing variable 14, through the error protocol (retry
// tries again, a substitute value is returned, default gives NIL).
//
// Objects are reference counted (ObjectRef) and may be C++ subclasses of Object
// holding native state; the class's factory makes them. C++ code may also use
// an object's members directly. One thread only.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "runtime/value.h"

namespace rt {

class Class;
using Method = std::function<Value(const ObjectRef& self, Args args)>;
using Factory = std::function<ObjectRef(const Class* cls)>;

class Object : public std::enable_shared_from_this<Object> {
 public:
  explicit Object(const Class* cls);
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  const Class* cls() const { return cls_; }
  // Direct instance-variable access for C++ code (no error protocol); an
  // unknown name is a programming error (assert) and gives NIL / does nothing.
  Value Get(std::string_view name) const;
  void Set(std::string_view name, Value v);
  Value& slot(size_t index) { return ivars_[index]; }
  const Value& slot(size_t index) const { return ivars_[index]; }

 private:
  const Class* cls_;
  std::vector<Value> ivars_;
};

class Class {
 public:
  Symbol name() const { return name_; }
  const Class* base() const { return base_; }
  // Index of an instance variable (own or inherited), -1 when absent.
  int IVarIndex(Symbol s) const;
  const std::vector<Symbol>& ivars() const { return ivars_; }
  // Searches this class, then its bases.
  const Method* FindMethod(Symbol s) const;
  const Method* FindAccess(Symbol s) const;
  const Method* FindAssign(Symbol s) const;
  bool IsA(const Class* other) const;
  ObjectRef New() const;

 private:
  friend class ClassBuilder;
  Symbol name_;
  const Class* base_ = nullptr;
  std::vector<Symbol> ivars_;
  std::unordered_map<Symbol, Method> methods_, access_, assign_;
  Factory factory_;
};

// Declares a class:
//   ClassBuilder("IniFileSpec", "FileSpec").Method("GetString", fn).Register();
// Registering a name again replaces the earlier class (tests rely on this).
class ClassBuilder {
 public:
  explicit ClassBuilder(std::string_view name, std::string_view base = {});
  ClassBuilder& IVar(std::string_view name);
  ClassBuilder& Method(std::string_view name, rt::Method fn);
  ClassBuilder& Access(std::string_view name, rt::Method fn);  // fn(self, {})
  ClassBuilder& Assign(std::string_view name, rt::Method fn);  // fn(self, {value})
  ClassBuilder& MakeWith(Factory factory);  // inherited by subclasses without one
  const Class* Register();

 private:
  std::unique_ptr<Class> cls_;
};

const Class* FindClass(Symbol name);
bool IsClass(Symbol name);
bool IsInstanceOf(const Value& obj, Symbol class_name);

// Late-bound calls. obj must be an object; anything else raises general code
// 13 (Send) or 14 (IVarGet/IVarPut) like a missing member.
Value Send(const Value& obj, Symbol method, Args args = {});
Value Send(const Value& obj, std::string_view method, std::initializer_list<Value> args = {});
// Runs the method as found from `from` upwards (a SUPER call).
Value SendFrom(const Class* from, const Value& obj, Symbol method, Args args = {});
// _SendClassParams: the arguments in an array.
Value SendClassParams(const Value& obj, Symbol method, const ArrayRef& args);
Value IVarGet(const Value& obj, Symbol ivar);
Value IVarPut(const Value& obj, Symbol ivar, Value v);
// True when the object has an exported variable (or ACCESS) of that name.
bool IVarGetInfo(const Value& obj, Symbol ivar);
// Makes an object of the class named by `cls` and runs its Init, if any, with
// args. Unknown class: general code 12 through the error protocol, NIL.
Value CreateInstance(Symbol cls, Args args = {});

template <class T>
std::shared_ptr<T> ObjectAs(const Value& v) {
  return v.IsObject() ? std::dynamic_pointer_cast<T>(v.GetObject()) : nullptr;
}

}  // namespace rt
