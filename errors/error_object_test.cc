#include "errors/error_object.h"

#include <gtest/gtest.h>

#include <string>

#include "errors/def_error.h"
#include "errors/testing/error_env.h"
#include "runtime/activation.h"
#include "runtime/error.h"
#include "runtime/object.h"

namespace errors {
namespace {

using testing::ErrorEnvTest;

class ErrorObjectTest : public ErrorEnvTest {};

TEST_F(ErrorObjectTest, ClassHasTheTwentyEightFieldsInDeclarationOrder) {
  const char* expected[] = {
      "SUBSYSTEM",   "SUBCODE",       "GENCODE",    "OSCODE",      "SEVERITY",       "CANDEFAULT",
      "CANRETRY",    "CANSUBSTITUTE", "OPERATION",  "DESCRIPTION", "FILENAME",       "ARGS",
      "TRIES",       "FUNCSYM",       "FILEHANDLE", "ARGNUM",      "FUNCPTR",        "SUBCODETEXT",
      "ARG",         "ARGTYPE",       "ARGTYPEREQ", "MAXSIZE",     "SUBSTITUTETYPE", "CHOICE",
      "CALLFUNCSYM", "CARGO",         "METHODSELF", "STACK"};
  const rt::Class* cls = rt::FindClass(rt::String2Symbol("ERROR"));
  ASSERT_NE(cls, nullptr);
  ASSERT_EQ(cls->ivars().size(), 28u);
  for (size_t i = 0; i < 28; ++i) {
    EXPECT_EQ(rt::Symbol2String(cls->ivars()[i]), expected[i]) << "field " << i + 1;
  }
}

TEST_F(ErrorObjectTest, FreshObjectHoldsTheZeroValueOfEachFieldType) {
  rt::Value e = NewError(1);
  ASSERT_TRUE(e.IsObject());
  for (const ErrorField& f : kErrorFields) {
    rt::Value v = Field(e, f.name);
    if (f.name == "SubSystem" || f.name == "Stack") continue;  // set by Init
    rt::Type want =
        f.type == rt::Type::kArray || f.type == rt::Type::kObject || f.type == rt::Type::kUsual
            ? rt::Type::kNil
            : f.type;
    EXPECT_EQ(v.type(), want) << f.name;
    EXPECT_TRUE(rt::Empty(v) || v.IsNil()) << f.name;
  }
  EXPECT_EQ(Field(e, "Severity").GetDword(), 0u);
  EXPECT_FALSE(Field(e, "CanRetry").GetLogic());
  EXPECT_TRUE(Field(e, "FuncSym").GetSymbol().null());
  EXPECT_TRUE(Field(e, "Args").IsNil());
  EXPECT_EQ(Field(e, "Description").GetString(), "");
  EXPECT_FALSE(Field(e, "Description").IsNullString());
  EXPECT_EQ(Field(e, "SubSystem").GetString(), "C:\\XQ\\TARIF2017.EXE");
}

TEST_F(ErrorObjectTest, InitStartLevelDecidesWhereTheStackBegins) {
  RT_ROUTINE("TESTER:RUN", "Test");
  RT_LINE();
  const std::string caller = "TESTER:RUN (Line:" + std::to_string(__LINE__ - 1) + ")\r\n";
  rt::Value none = rt::CreateInstance(rt::String2Symbol("ERROR"));
  rt::Value text_arg[] = {rt::Value::String("x")};
  rt::Value text = rt::CreateInstance(rt::String2Symbol("ERROR"), text_arg);
  rt::Value one = NewError(1);
  EXPECT_EQ(Field(none, "Stack").GetString().rfind("ERROR:INIT (Line:", 0), 0u);
  EXPECT_EQ(Field(text, "Stack").GetString().rfind("ERROR:INIT (Line:", 0), 0u);
  EXPECT_EQ(
      Field(none, "Stack").GetString().substr(Field(none, "Stack").GetString().find("\r\n") + 2),
      caller);
  EXPECT_EQ(Field(one, "Stack").GetString(), caller);
}

// An Error made inside a method names that method and its current line.
TEST_F(ErrorObjectTest, ErrorCreatedInAMethodShowsItsNameAndLine) {
  uint32_t line = 0;
  rt::ClassBuilder("TestDialog")
      .Method("ModTarif06",
              [&](const rt::ObjectRef&, rt::Args) {
                RT_ROUTINE("TESTDIALOG:MODTARIF06", "Dialog");
                line = __LINE__ + 1;
                RT_LINE();
                return NewError(1);
              })
      .Register();
  rt::Value dialog = rt::CreateInstance(rt::String2Symbol("TESTDIALOG"));
  rt::Value e = rt::Send(dialog, "ModTarif06");
  EXPECT_EQ(Field(e, "Stack").GetString(),
            "TESTDIALOG:MODTARIF06 (Line:" + std::to_string(line) + ")\r\n");
}

TEST_F(ErrorObjectTest, ThrowReturnsWhatTheBlockReturns) {
  rt::ErrorBlock(DefaultErrorBlock());
  rt::Value e = NewError(1);
  SetField(e, "CanRetry", rt::Value::Logic(true));
  SetField(e, "GenCode", rt::Value::Dword(rt::kGenOpen));
  box_->Answer(2);
  EXPECT_EQ(rt::Send(e, "Throw"), rt::Value::Logic(true));

  rt::Value d = NewError(1);
  SetField(d, "CanDefault", rt::Value::Logic(true));
  box_->Answer(1);
  EXPECT_EQ(rt::Send(d, "Throw"), rt::Value::Logic(false));

  rt::ErrorBlock(rt::Value::FromBlock(rt::MakeBlock(
      [](rt::Args a) { return rt::Value::Long(a.size() == 1 && a[0].IsObject() ? 7 : -1); }, 1)));
  EXPECT_EQ(rt::Send(d, "Throw"), rt::Value::Long(7));
  EXPECT_EQ(box_->shown().size(), 2u);
}

}  // namespace
}  // namespace errors
