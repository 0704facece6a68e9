// The macro-support functions called by name, as run-time compiled code calls
// them, with the real Error class and default handler behind them.
#include "macro/macro_support.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "errors/call_stack.h"
#include "errors/def_error.h"
#include "errors/error_object.h"
#include "runtime/collection.h"
#include "runtime/error.h"
#include "runtime/error_box.h"
#include "runtime/functions.h"
#include "runtime/object.h"
#include "runtime/settings.h"

namespace macro {
namespace {

using rt::Value;

Value Str(const char* s) { return Value::String(s); }
Value L(int32_t n) { return Value::Long(n); }

class MacroTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::ResetSettings();
    rt::SetErrorLog(false);
    rt::SetBeep(false);
    errors::DeclareErrorClass();
    errors::InitCallStackSettings();
    rt::ErrorFunc(nullptr);
    rt::ErrorBlock(errors::DefaultErrorBlock());
    box_ = std::make_shared<rt::ScriptedErrorBox>(1);
    rt::SetErrorBoxFrontEnd(box_);
    rt::Program p;
    AddToProgram(p);
    for (auto& f : p.functions) rt::RegisterFunction(f.name, f.declared_params, f.fn);
    // The runtime's collection primitives, each behind a spy that records
    // the arguments it receives.
    rt::Program runtime_part;
    rt::AddCollectionFunctions(runtime_part);
    for (auto& f : runtime_part.functions) {
      std::string name(f.name);
      rt::Function real = f.fn;
      rt::RegisterFunction(name, f.declared_params, [this, name, real](rt::Args a) {
        received_[name] = std::vector<Value>(a.begin(), a.end());
        return real(a);
      });
    }
    DeclareBag();
  }
  void TearDown() override {
    rt::ErrorBlock(Value());
    rt::SetErrorBoxFrontEnd(nullptr);
    rt::ResetSettings();
  }

  static void DeclareBag() {
    // A collection keyed by "i,j": ElementGet(i[, j]) and ElementPut(v, i[, j]).
    auto key = [](rt::Args idx) {
      std::string k;
      for (const Value& v : idx) k += std::to_string(v.GetLong()) + ",";
      return Value::String(k);
    };
    rt::ClassBuilder("MacroBag")
        .IVar("Store")
        .IVar("Owner")
        .Method("Init",
                [](const rt::ObjectRef& self, rt::Args) {
                  self->Set("Store", Value::FromArray(rt::ArrayCreate()));
                  return Value::FromObject(self);
                })
        .Method("ElementGet",
                [key](const rt::ObjectRef& self, rt::Args a) {
                  Value k = key(a);
                  for (const Value& pair : self->Get("Store").GetArray()->items()) {
                    if (pair.GetArray()->items()[0] == k) return pair.GetArray()->items()[1];
                  }
                  return Value();
                })
        .Method("ElementPut",
                [key](const rt::ObjectRef& self, rt::Args a) {
                  rt::AAdd(self->Get("Store").GetArray(),
                           Value::FromArray(rt::ArrayInit({key(a.subspan(1)), a[0]})));
                  return Value::String("stored");
                })
        .Method("Echo",
                [](const rt::ObjectRef&, rt::Args a) {
                  std::string s;
                  for (const Value& v : a) s += v.GetString();
                  return Value::String(s);
                })
        .Register();
  }

  Value Call(const char* name, std::vector<Value> args) {
    return rt::CallClipFunc(rt::String2Symbol(name), rt::ArrayInit(std::move(args)));
  }
  Value Bag() { return rt::CreateInstance(rt::String2Symbol("MacroBag")); }
  Value LastError() { return last_error_; }

  std::shared_ptr<rt::ScriptedErrorBox> box_;
  std::map<std::string, std::vector<Value>> received_;
  Value last_error_;
};

TEST_F(MacroTest, RegisteredUnderTheirNamesWithDeclaredCounts) {
  const std::map<std::string, int> expected = {{"__PCARRGETCOLLECTION", 0},
                                               {"__PCARRPUTCOLLECTION", 0},
                                               {"__PCCREATEINSTANCE", 1},
                                               {"__PCIVAGETCOLLECTION", 0},
                                               {"__PCIVAPUTCOLLECTION", 0},
                                               {"__PCIVARGET", 2},
                                               {"__PCIVARPUT", 3},
                                               {"__PCSEND", 2},
                                               {"__PCSYMBOL", 1}};
  for (const auto& [name, count] : expected) {
    EXPECT_EQ(rt::FunctionParams(rt::String2Symbol(name)), count) << name;
  }
}

TEST_F(MacroTest, SendWithAStringMethodName) {
  Value bag = Bag();
  EXPECT_EQ(Call("__PCSEND", {bag, Str("echo"), Str("a"), Str("b")}).GetString(), "ab");
  EXPECT_EQ(Call("__PCSEND", {bag, Value::Sym(rt::String2Symbol("Echo"))}).GetString(), "");
  EXPECT_TRUE(box_->shown().empty());
}

TEST_F(MacroTest, IVarGetAndPutByName) {
  Value bag = Bag();
  EXPECT_EQ(Call("__PCIVARPUT", {bag, Str("owner"), Str("me")}).GetString(), "me");
  EXPECT_EQ(Call("__PCIVARGET", {bag, Value::Sym(rt::String2Symbol("OWNER"))}).GetString(), "me");
  EXPECT_TRUE(box_->shown().empty());
}

TEST_F(MacroTest, CreateInstanceRunsInit) {
  Value bag = Call("__PCCREATEINSTANCE", {Str("macrobag")});
  ASSERT_TRUE(bag.IsObject());
  EXPECT_TRUE(bag.GetObject()->Get("Store").IsArray());  // set by Init
  EXPECT_EQ(received_["CreateInstance"][0].GetSymbol(), rt::String2Symbol("MACROBAG"));
}

TEST_F(MacroTest, SymbolLookup) {
  EXPECT_EQ(Call("__PCSYMBOL", {Str("abc")}).GetSymbol(), rt::String2Symbol("ABC"));
  Value s = Value::Sym(rt::String2Symbol("XYZ"));
  EXPECT_EQ(Call("__PCSYMBOL", {s}).GetSymbol(), s.GetSymbol());
  Value empty = Call("__PCSYMBOL", {Str("")});
  EXPECT_TRUE(empty.IsSymbol());
  EXPECT_TRUE(empty.GetSymbol().null());
  EXPECT_TRUE(Call("__PCSYMBOL", {Value()}).GetSymbol().null());
  EXPECT_TRUE(box_->shown().empty());
}

TEST_F(MacroTest, NestedArrayGetAndPut) {
  Value inner = Value::FromArray(rt::ArrayInit({L(10), L(20), L(30)}));
  Value outer = Value::FromArray(rt::ArrayInit({L(1), inner}));
  EXPECT_EQ(Call("__PCARRGETCOLLECTION", {outer, L(2), L(3)}).GetLong(), 30);
  EXPECT_EQ(Call("__PCARRPUTCOLLECTION", {outer, L(2), L(1), Str("v")}).GetString(), "v");
  EXPECT_EQ(inner.GetArray()->items()[0].GetString(), "v");
  Value flat = Value::FromArray(rt::ArrayCreate(2));
  EXPECT_EQ(Call("__PCARRPUTCOLLECTION", {flat, L(2), L(7)}).GetLong(), 7);
  EXPECT_EQ(flat.GetArray()->items()[1].GetLong(), 7);
  EXPECT_TRUE(received_.find("_ArrayGetCollection") == received_.end());
}

TEST_F(MacroTest, CollectionGetHandsTheFirstIndexLast) {
  Value bag = Bag();
  Send(bag, "ElementPut", {Str("x"), L(1), L(2), L(3)});
  EXPECT_EQ(Call("__PCARRGETCOLLECTION", {bag, L(1), L(2), L(3)}).GetString(), "x");
  const auto& got = received_["_ArrayGetCollection"];
  ASSERT_EQ(got.size(), 4u);
  EXPECT_TRUE(got[0] == bag);
  EXPECT_EQ(got[1].GetLong(), 2);
  EXPECT_EQ(got[2].GetLong(), 3);
  EXPECT_EQ(got[3].GetLong(), 1);
}

TEST_F(MacroTest, CollectionPutHandsValueSecondAndFirstIndexLast) {
  Value bag = Bag();
  EXPECT_EQ(Call("__PCARRPUTCOLLECTION", {bag, L(4), L(5), Str("val")}).GetString(), "stored");
  const auto& got = received_["_ArrayPutCollection"];
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[1].GetString(), "val");
  EXPECT_EQ(got[2].GetLong(), 5);
  EXPECT_EQ(got[3].GetLong(), 4);
  EXPECT_EQ(Send(bag, "ElementGet", {L(4), L(5)}).GetString(), "val");
}

TEST_F(MacroTest, IVarCollectionGetAndPut) {
  Value holder = Bag();
  Value bag = Bag();
  holder.GetObject()->Set("Owner", bag);
  EXPECT_EQ(Call("__PCIVAPUTCOLLECTION", {holder, Str("owner"), L(4), Str("four")}).GetString(),
            "stored");
  const auto& put = received_["_IVARPUTCOLLECTION"];
  ASSERT_EQ(put.size(), 4u);
  EXPECT_TRUE(put[0] == holder);
  EXPECT_EQ(put[1].GetSymbol(), rt::String2Symbol("OWNER"));
  EXPECT_EQ(put[2].GetString(), "four");
  EXPECT_EQ(put[3].GetLong(), 4);
  EXPECT_EQ(Call("__PCIVAGETCOLLECTION", {holder, Str("Owner"), L(4)}).GetString(), "four");
  const auto& get = received_["_IVARGETCOLLECTION"];
  ASSERT_EQ(get.size(), 3u);
  EXPECT_EQ(get[1].GetSymbol(), rt::String2Symbol("OWNER"));
}

struct ErrorCase {
  const char* function;
  std::vector<Value> args;
  const char* message;
  const char* operation;
  uint32_t arg_num;
};

TEST_F(MacroTest, EveryArgumentErrorReachesTheDefaultHandler) {
  Value bag = Bag();
  const std::vector<ErrorCase> cases = {
      {"__PCSEND", {bag}, "Arg error, To few arguments", "Send", 0},
      {"__PCIVARGET", {bag}, "Arg error, To few arguments", "IVarGet", 0},
      {"__PCIVARGET", {bag, Str("Owner"), L(1)}, "Arg error, To manny arguments", "IVarGet", 0},
      {"__PCIVARPUT", {bag, Str("Owner")}, "Arg error, To few arguments", "IVarPut", 0},
      {"__PCIVARPUT",
       {bag, Str("Owner"), L(1), L(2)},
       "Arg error, To manny arguments",
       "IVarPut",
       0},
      {"__PCCREATEINSTANCE", {}, "Arg error, To few arguments", "CreateInstance", 0},
      {"__PCCREATEINSTANCE",
       {Str("NoSuchClassHere")},
       "Arg error, Invalid class",
       "CreateInstance",
       1},
      {"__PCCREATEINSTANCE", {L(5)}, "Arg error, Invalid class", "CreateInstance", 1},
      {"__PCSYMBOL", {}, "Arg error, To few arguments", "Symbol", 0},
      {"__PCSYMBOL", {Str("a"), Str("b")}, "Arg error, To manny arguments", "Symbol", 0},
      {"__PCSYMBOL", {L(5)}, "Arg error, Invalid symbol", "Symbol", 1},
      {"__PCARRGETCOLLECTION", {bag}, "Arg error, To few arguments", "ArrayGetCollection", 0},
      {"__PCARRPUTCOLLECTION", {bag, L(1)}, "Arg error, To few arguments", "ArrayPutCollection", 0},
      {"__PCIVAGETCOLLECTION",
       {bag, Str("Owner")},
       "Arg error, To few arguments",
       "IVarGetCollection",
       0},
      {"__PCIVAGETCOLLECTION",
       {bag, L(3), L(1)},
       "Arg error, !IsSymbol(aArgs[2])",
       "IVarGetCollection",
       0},
      {"__PCIVAPUTCOLLECTION",
       {bag, Str("Owner"), L(1)},
       "Arg error, To few arguments",
       "IVarPutCollection",
       0},
      {"__PCIVAPUTCOLLECTION",
       {bag, L(3), L(1), L(2)},
       "Arg error, !IsSymbol(aArgs[2])",
       "IVarPutCollection",
       0},
  };
  // Record each error object the handler sees, then let the default handler
  // show its box.
  Value handler = errors::DefaultErrorBlock();
  std::vector<Value> seen;
  rt::ErrorBlock(Value::FromBlock(rt::MakeBlock(
      [&](rt::Args a) {
        seen.push_back(a[0]);
        return rt::Eval(handler, a);
      },
      1)));
  for (size_t i = 0; i < cases.size(); ++i) {
    const ErrorCase& c = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i << " " << c.function);
    size_t boxes = box_->shown().size();
    Value r = Call(c.function, c.args);
    EXPECT_TRUE(r.IsNil());
    ASSERT_EQ(seen.size(), i + 1);
    ASSERT_EQ(box_->shown().size(), boxes + 1);
    const Value& e = seen.back();
    EXPECT_EQ(errors::Field(e, "Description").GetString(), c.message);
    EXPECT_EQ(errors::Field(e, "Operation").GetString(), c.operation);
    EXPECT_EQ(errors::Field(e, "ArgNum").GetDword(), c.arg_num);
    EXPECT_EQ(errors::Field(e, "SubSystem").GetString(), "PCEVal");
    EXPECT_EQ(errors::Field(e, "SubCodeText").GetString(), "PCode");
    EXPECT_EQ(errors::Field(e, "GenCode").GetDword(), 1u);
    EXPECT_EQ(errors::Field(e, "Severity").GetDword(), 2u);
    EXPECT_EQ(errors::Field(e, "SubCode").GetDword(), 0u);
    EXPECT_FALSE(errors::Field(e, "CanDefault").GetLogic());
    const std::string& text = box_->shown().back().text;
    EXPECT_NE(text.find("Subsystem: PCEVal"), std::string::npos) << text;
    EXPECT_NE(text.find(std::string("Description: ") + c.message), std::string::npos) << text;
    EXPECT_EQ(box_->shown().back().caption, "ERROR");
  }
}

TEST_F(MacroTest, ErrorCarriesTheArgumentArrayAndSymbol) {
  Value bag = Bag();
  Value handler = errors::DefaultErrorBlock();
  Value seen;
  rt::ErrorBlock(Value::FromBlock(rt::MakeBlock(
      [&](rt::Args a) {
        seen = a[0];
        return rt::Eval(handler, a);
      },
      1)));
  Call("__PCIVARPUT", {bag, Str("owner")});
  Value args = errors::Field(seen, "Args");
  ASSERT_TRUE(args.IsArray());
  EXPECT_EQ(args.GetArray()->size(), 1u);  // the value slot, empty here
  EXPECT_EQ(errors::Field(seen, "FuncSym").GetSymbol(), rt::String2Symbol("OWNER"));
  Call("__PCIVARGET", {bag});
  EXPECT_TRUE(errors::Field(seen, "Args").IsNil());
  Call("__PCSEND", {bag});
  EXPECT_EQ(errors::Field(seen, "Args").GetArray()->size(), 0u);
  // The error object was created with start level 1 inside __PCERROR.
  EXPECT_NE(errors::Field(seen, "Stack").GetString().find("__PCSEND"), std::string::npos)
      << errors::Field(seen, "Stack").GetString();
}

}  // namespace
}  // namespace macro
