// Values, symbols, arrays and code blocks.
#include <gtest/gtest.h>

#include "runtime/error.h"
#include "runtime/symbol.h"
#include "runtime/value.h"

namespace rt {
namespace {

TEST(Symbol, InternsUpperCaseNames) {
  Symbol a = String2Symbol("MainDialog");
  Symbol b = String2Symbol("MAINDIALOG");
  Symbol c = String2Symbol("maindialog");
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, c);
  EXPECT_FALSE(a.null());
  EXPECT_EQ(Symbol2String(a), "MAINDIALOG");
  EXPECT_NE(String2Symbol("MainDialogs"), a);
}

TEST(Symbol, OnlyAsciiLettersAreUpperCased) {
  // é (0xE9) stays as it is: the runtime upper-cases a-z only.
  Symbol s = String2Symbol("caf\xe9");
  EXPECT_EQ(Symbol2String(s), "CAF\xe9");
  EXPECT_NE(String2Symbol("CAF\xc9"), s);
}

TEST(Symbol, NullSymbolIsTheEmptyName) {
  EXPECT_TRUE(String2Symbol("").null());
  EXPECT_EQ(Symbol2String(Symbol()), "");
  EXPECT_EQ(Symbol2String(Symbol(0xFFFFFF)), "");
}

TEST(Symbol, RegisteredOrderFixesNumbers) {
  uint32_t before = SymbolCount();
  RegisterSymbols({"ZZ_ORDER_ONE", "zz_order_two", "ZZ_ORDER_ONE"});
  EXPECT_EQ(SymbolCount(), before + 2);
  EXPECT_EQ(FindSymbol("zz_order_two").id(), FindSymbol("ZZ_ORDER_ONE").id() + 1);
  EXPECT_TRUE(FindSymbol("ZZ_NEVER_SEEN").null());
}

TEST(Value, NullStringDiffersFromEmptyString) {
  Value null_s = Value::NullString();
  Value empty_s = Value::String("");
  EXPECT_TRUE(null_s.IsString());
  EXPECT_TRUE(null_s.IsNullString());
  EXPECT_FALSE(empty_s.IsNullString());
  EXPECT_FALSE(null_s == empty_s);
  EXPECT_TRUE(null_s == Value::NullString());
  EXPECT_EQ(null_s.GetString(), "");
  EXPECT_TRUE(Empty(null_s));
  EXPECT_TRUE(Empty(empty_s));
}

TEST(Value, TypeCodes) {
  EXPECT_EQ(static_cast<uint32_t>(Value().type()), 0u);
  EXPECT_EQ(static_cast<uint32_t>(Value::Long(1).type()), 1u);
  EXPECT_EQ(static_cast<uint32_t>(Value::FromDate(Date{}).type()), 2u);
  EXPECT_EQ(static_cast<uint32_t>(Value::Float(1.5).type()), 3u);
  EXPECT_EQ(static_cast<uint32_t>(Value::FromArray(ArrayCreate()).type()), 5u);
  EXPECT_EQ(static_cast<uint32_t>(Value::String("x").type()), 7u);
  EXPECT_EQ(static_cast<uint32_t>(Value::Logic(true).type()), 8u);
  EXPECT_EQ(static_cast<uint32_t>(Value::FromBlock(MakeBlock([](Args) { return Value(); })).type()),
            9u);
  EXPECT_EQ(static_cast<uint32_t>(Value::Sym(String2Symbol("X")).type()), 10u);
  EXPECT_EQ(static_cast<uint32_t>(Value::Dword(1).type()), 14u);
  EXPECT_EQ(static_cast<uint32_t>(Value::Psz("x").type()), 17u);
  EXPECT_EQ(static_cast<uint32_t>(Value::Ptr(nullptr).type()), 18u);
}

TEST(Value, NumbersCompareAcrossKinds) {
  EXPECT_TRUE(Value::Long(1) == Value::Float(1.0));
  EXPECT_TRUE(Value::Dword(7) == Value::Long(7));
  EXPECT_FALSE(Value::Long(1) == Value::String("1"));
  EXPECT_EQ(Value::Long(-1).GetDword(), 0xFFFFFFFFu);
  EXPECT_EQ(Value::Float(3.9).GetLong(), 3);
  EXPECT_EQ(Value::Float(1e12).GetLong(), 0);
  EXPECT_EQ(Value::Float(12.5, 2).decimals(), 2);
}

TEST(Value, EmptyFollowsTheRuntime) {
  EXPECT_TRUE(Empty(Value()));
  EXPECT_TRUE(Empty(Value::String("   ")));
  EXPECT_FALSE(Empty(Value::String(" x ")));
  EXPECT_TRUE(Empty(Value::Long(0)));
  EXPECT_FALSE(Empty(Value::Float(0.01)));
  EXPECT_TRUE(Empty(Value::FromDate(Date{})));
  EXPECT_FALSE(Empty(Value::FromDate(Date{2457755})));
  EXPECT_TRUE(Empty(Value::Logic(false)));
  EXPECT_TRUE(Empty(Value::FromArray(ArrayCreate())));
  EXPECT_FALSE(Empty(Value::FromArray(ArrayCreate(1))));
  EXPECT_TRUE(Empty(Value::Sym(Symbol())));
}

TEST(Value, EmptyUsualGivesTheTypesZero) {
  EXPECT_TRUE(EmptyUsual(7).IsString());
  EXPECT_FALSE(EmptyUsual(7).IsNullString());
  EXPECT_EQ(EmptyUsual(7).GetString(), "");
  EXPECT_EQ(EmptyUsual(1).type(), Type::kLong);
  EXPECT_EQ(EmptyUsual(3).type(), Type::kFloat);
  EXPECT_TRUE(EmptyUsual(2).GetDate().empty());
  EXPECT_EQ(EmptyUsual(8).type(), Type::kLogic);
  EXPECT_EQ(EmptyUsual(18).type(), Type::kPtr);
  EXPECT_TRUE(EmptyUsual(0).IsNil());
}

TEST(Array, SharedByReference) {
  ArrayRef a = ArrayCreate();
  Value v = Value::FromArray(a);
  Value copy = v;
  AAdd(copy.GetArray(), Value::Long(5));
  EXPECT_EQ(a->size(), 1u);
  EXPECT_TRUE(v == copy);
  EXPECT_FALSE(v == Value::FromArray(ArrayInit({Value::Long(5)})));
}

TEST(Array, DelAndInsKeepTheLength) {
  ArrayRef a = ArrayInit({Value::Long(1), Value::Long(2), Value::Long(3)});
  ADel(a, 1);
  ASSERT_EQ(a->size(), 3u);
  EXPECT_EQ(a->items()[0].GetLong(), 2);
  EXPECT_EQ(a->items()[1].GetLong(), 3);
  EXPECT_TRUE(a->items()[2].IsNil());
  AIns(a, 2);
  ASSERT_EQ(a->size(), 3u);
  EXPECT_EQ(a->items()[0].GetLong(), 2);
  EXPECT_TRUE(a->items()[1].IsNil());
  EXPECT_EQ(a->items()[2].GetLong(), 3);
  ADel(a, 0);  // out of range: nothing happens
  ADel(a, 4);
  EXPECT_EQ(a->items()[2].GetLong(), 3);
}

TEST(Array, GetAndPutAreOneBased) {
  ArrayRef a = ArrayInit({Value::String("a"), Value::String("b")});
  EXPECT_EQ(ArrayGet(a, 1).GetString(), "a");
  EXPECT_EQ(ArrayGet(a, 2).GetString(), "b");
  ArrayPut(a, 2, Value::Long(9));
  EXPECT_EQ(a->items()[1].GetLong(), 9);
}

TEST(CodeBlock, EvaluatesWithArguments) {
  Value block =
      Value::FromBlock(MakeBlock([](Args args) { return Value::Long(args[0].GetLong() * 2); }, 1));
  Value arg[] = {Value::Long(21)};
  EXPECT_EQ(Eval(block, arg).GetLong(), 42);
  EXPECT_TRUE(Eval(Value(), arg).IsNil());
}

TEST(Date, EmptyDateIsZero) {
  EXPECT_TRUE(Date{}.empty());
  EXPECT_FALSE(Date{1}.empty());
}

}  // namespace
}  // namespace rt
