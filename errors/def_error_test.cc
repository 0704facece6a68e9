#include "errors/def_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "errors/error_log.h"
#include "errors/error_object.h"
#include "errors/international.h"
#include "errors/testing/error_env.h"
#include "runtime/activation.h"
#include "runtime/error.h"
#include "runtime/object.h"
#include "runtime/recovery.h"
#include "runtime/settings.h"

namespace errors {
namespace {

using testing::ErrorEnvTest;
using ::testing::HasSubstr;
using ::testing::StartsWith;

rt::Symbol Sym(const char* s) { return rt::String2Symbol(s); }

// An Error with no subsystem and a fixed stack, so texts are predictable.
rt::Value Plain() {
  rt::Value e = NewError(1);
  SetField(e, "SubSystem", rt::Value::String(""));
  SetField(e, "Stack", rt::Value::String("APP:START (Line:12)\r\n"));
  return e;
}

class ErrorMessageTextTest : public ErrorEnvTest {};

TEST_F(ErrorMessageTextTest, EveryLineInOrder) {
  rt::Value e = Plain();
  SetField(e, "SubSystem", rt::Value::String("DBFCDX"));
  SetField(e, "GenCode", rt::Value::Dword(rt::kGenDataType));
  SetField(e, "SubCode", rt::Value::Dword(1020));
  SetField(e, "SubCodeText", rt::Value::String("bad field"));
  SetField(e, "Operation", rt::Value::String("FieldPut"));
  SetField(e, "FuncSym", rt::Value::Sym(Sym("DBSERVER:FIELDPUT")));
  SetField(e, "FileName", rt::Value::String("ind_100.dbf"));
  SetField(e, "Arg", rt::Value::String("INDEX_100"));
  SetField(e, "ArgType", rt::Value::Dword(7));
  SetField(e, "ArgNum", rt::Value::Dword(2));
  SetField(e, "ArgTypeReq", rt::Value::Dword(3));
  SetField(e, "Description", rt::Value::String("Data type error"));
  EXPECT_EQ(ErrorMessageText(e),
            "Error Code:  33 [ DATA TYPE ERROR ]\r\n"
            "Subsystem: DBFCDX\r\n"
            "Error Subcode: 1020 (bad field)\r\n"
            "Operation: FieldPut\r\n"
            "Function: DBSERVER:FIELDPUT\r\n"
            "Filename: ind_100.dbf\r\n"
            "Argument: INDEX_100\r\n"
            "Type: STRING\r\n"
            "Argument Number: 2\r\n"
            "Requested type: FLOAT\r\n"
            "Description: Data type error\r\n");
}

TEST_F(ErrorMessageTextTest, GenCodeZeroRepeatsTheDescription) {
  rt::Value e = Plain();
  SetField(e, "Description", rt::Value::String("Fichier d\xe9j\xe0 ouvert"));
  EXPECT_EQ(ErrorMessageText(e),
            "Error Code:  Fichier d\xe9j\xe0 ouvert\r\nDescription: Fichier d\xe9j\xe0 ouvert\r\n");
  SetField(e, "Description", rt::Value::String(""));
  EXPECT_EQ(ErrorMessageText(e), "Error Code:  \r\n");
}

TEST_F(ErrorMessageTextTest, WarningLabelOnlyForSeverityOne) {
  rt::Value e = Plain();
  SetField(e, "GenCode", rt::Value::Dword(rt::kGenOpen));
  SetField(e, "Severity", rt::Value::Dword(1));
  EXPECT_EQ(ErrorMessageText(e), "WARNING :  21 [ OPEN ERROR ]\r\n");
  SetField(e, "Severity", rt::Value::Dword(3));
  EXPECT_EQ(ErrorMessageText(e), "Error Code:  21 [ OPEN ERROR ]\r\n");
}

TEST_F(ErrorMessageTextTest, SubCodeWithoutTextAndFileNameCutAtForty) {
  rt::Value e = Plain();
  SetField(e, "GenCode", rt::Value::Dword(rt::kGenOpen));
  SetField(e, "SubCode", rt::Value::Dword(7));
  std::string name60 = "C:\\XQ\\DATA\\" + std::string(49, 'x');
  ASSERT_EQ(name60.size(), 60u);
  SetField(e, "FileName", rt::Value::String(name60));
  EXPECT_EQ(ErrorMessageText(e),
            "Error Code:  21 [ OPEN ERROR ]\r\nError Subcode: 7\r\n"
            "Filename: " +
                name60.substr(0, 40) + "\r\n");
}

TEST_F(ErrorMessageTextTest, ArgumentAndTypeLines) {
  rt::Value e = Plain();
  SetField(e, "GenCode", rt::Value::Dword(rt::kGenArg));
  SetField(e, "ArgType", rt::Value::Dword(7));     // no Arg: neither line
  SetField(e, "ArgTypeReq", rt::Value::Dword(7));  // same as ArgType: no line
  EXPECT_EQ(ErrorMessageText(e), "Error Code:  1 [ ARGUMENT ERROR ]\r\n");
  SetField(e, "Arg", rt::Value::String("x"));
  SetField(e, "ArgType", rt::Value::Dword(0));  // Arg without a type
  EXPECT_EQ(ErrorMessageText(e),
            "Error Code:  1 [ ARGUMENT ERROR ]\r\nArgument: x\r\nRequested type: STRING\r\n");
}

class DefErrorTest : public ErrorEnvTest {};

TEST_F(DefErrorTest, SharingAndLockViolationsAreSettledSilently) {
  for (uint32_t os : {32u, 33u}) {
    rt::NetErr(false);
    rt::Value e = Plain();
    SetField(e, "GenCode", rt::Value::Dword(rt::kGenOpen));
    SetField(e, "OsCode", rt::Value::Dword(os));
    SetField(e, "CanDefault", rt::Value::Logic(true));
    EXPECT_EQ(DefError(e), rt::Value::Logic(false));
    EXPECT_TRUE(rt::NetErr());
  }
  EXPECT_TRUE(box_->shown().empty());
  EXPECT_TRUE(tones_.empty());
  EXPECT_FALSE(LogExists());

  rt::Value cannot = Plain();
  SetField(cannot, "GenCode", rt::Value::Dword(rt::kGenOpen));
  SetField(cannot, "OsCode", rt::Value::Dword(32));
  DefError(cannot);
  EXPECT_EQ(box_->shown().size(), 1u);
}

TEST_F(DefErrorTest, ReportBeepLogAndBoxOptions) {
  rt::Value e = Plain();
  SetField(e, "GenCode", rt::Value::Dword(rt::kGenOpen));
  SetField(e, "CanDefault", rt::Value::Logic(true));
  SetField(e, "CanRetry", rt::Value::Logic(true));
  EXPECT_EQ(DefError(e), rt::Value::Logic(false));
  ASSERT_EQ(box_->shown().size(), 1u);
  const auto& shown = box_->shown()[0];
  EXPECT_EQ(shown.text, "Error Code:  21 [ OPEN ERROR ]\r\nCallStack:\r\nAPP:START (Line:12)\r\n");
  EXPECT_EQ(shown.caption, "ERROR");
  EXPECT_EQ(shown.def, 1u);
  EXPECT_EQ(shown.retry, 2u);
  EXPECT_EQ(shown.quit, 0x80000000u);
  ASSERT_EQ(tones_.size(), 3u);
  EXPECT_EQ(tones_[0].first, 440u);
  EXPECT_EQ(tones_[1].first, 494u);
  EXPECT_EQ(tones_[2].first, 523u);
  EXPECT_THAT(ReadLog(), HasSubstr("\r\n--------------\r\n" + shown.text + "\r\nError Object"));

  rt::SetBeep(false);
  rt::Value none = Plain();
  rt::BeginSequence([&] { DefError(none); });
  EXPECT_EQ(tones_.size(), 3u);
  EXPECT_EQ(box_->shown()[1].def, 0u);
  EXPECT_EQ(box_->shown()[1].retry, 0u);
  EXPECT_EQ(box_->shown()[1].quit, 0x80000003u);
}

TEST_F(DefErrorTest, DefaultAnswerWithAndWithoutSubstitution) {
  rt::Value e = Plain();
  SetField(e, "CanDefault", rt::Value::Logic(true));
  EXPECT_EQ(DefError(e), rt::Value::Logic(false));
  SetField(e, "CanSubstitute", rt::Value::Logic(true));
  SetField(e, "SubstituteType", rt::Value::Dword(7));
  EXPECT_EQ(DefError(e), rt::Value::String(""));
  SetField(e, "SubstituteType", rt::Value::Dword(1));
  EXPECT_EQ(DefError(e), rt::Value::Long(0));
  SetField(e, "CanDefault", rt::Value::Logic(false));
  SetField(e, "SubstituteType", rt::Value::Dword(8));
  EXPECT_EQ(DefError(e), rt::Value::Logic(false));
  EXPECT_EQ(box_->shown().back().def, 1u);
}

TEST_F(DefErrorTest, RetryAnswerAndGenCode14NeverOffersRetry) {
  rt::Value e = Plain();
  SetField(e, "GenCode", rt::Value::Dword(rt::kGenRead));
  SetField(e, "CanRetry", rt::Value::Logic(true));
  box_->Answer(2);
  EXPECT_EQ(DefError(e), rt::Value::Logic(true));

  rt::Value v = Plain();
  SetField(v, "GenCode", rt::Value::Dword(rt::kGenNoVar));
  SetField(v, "CanRetry", rt::Value::Logic(true));
  SetField(v, "CanDefault", rt::Value::Logic(true));
  DefError(v);
  EXPECT_EQ(box_->shown().back().retry, 0u);
  EXPECT_FALSE(Field(v, "CanRetry").GetLogic());
  EXPECT_THAT(ReadLog(), HasSubstr("GenCode         :No exported variable\r\n"));
  std::string log = ReadLog();
  EXPECT_THAT(log.substr(log.rfind("*****ERROR")), HasSubstr("\r\nCanRetry        :.F.\r\n"));
}

TEST_F(DefErrorTest, WarningWithPointerSubstituteLogsSeverityThree) {
  rt::Value e = Plain();
  SetField(e, "Severity", rt::Value::Dword(1));
  SetField(e, "SubstituteType", rt::Value::Dword(18));
  SetField(e, "GenCode", rt::Value::Dword(rt::kGenArg));
  DefError(e);
  EXPECT_EQ(box_->shown()[0].caption, "WARNING");
  EXPECT_THAT(box_->shown()[0].text, StartsWith("Error Code:  1 [ ARGUMENT ERROR ]"));
  EXPECT_THAT(ReadLog(), HasSubstr("\r\nSeverity        :3\r\n"));
}

TEST_F(DefErrorTest, QuitJumpsToTheRecoveryPoint) {
  rt::Value e = Plain();
  box_->Answer(3);
  bool after = false;
  std::optional<rt::Value> got = rt::BeginSequence([&] {
    DefError(e);
    after = true;
  });
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(*got, e);
  EXPECT_FALSE(after);
  EXPECT_EQ(box_->shown()[0].quit, 0x80000003u);
}

TEST_F(DefErrorTest, QuitWithoutRecoveryPointClosesTablesAndExitsWithGenCode) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  rt::Value e = Plain();
  SetField(e, "GenCode", rt::Value::Dword(rt::kGenOpen));
  box_->Answer(3);
  EXPECT_EXIT(
      {
        rt::AddCloseAllHook([] { std::fputs("tables closed\n", stderr); });
        DefError(e);
      },
      ::testing::ExitedWithCode(21), "tables closed");
}

TEST_F(DefErrorTest, ValueThatIsNotAnErrorBecomesWrongClass) {
  rt::Value shown = DefError(rt::Value::String("hello"));
  EXPECT_EQ(shown, rt::Value::Logic(false));
  ASSERT_EQ(box_->shown().size(), 1u);
  EXPECT_EQ(box_->shown()[0].caption, "ERROR");
  EXPECT_EQ(box_->shown()[0].def, 1u);
  EXPECT_THAT(box_->shown()[0].text, StartsWith("Error Code:  28 [ WRONG CLASS ]\r\n"
                                                "Function: DEFERROR\r\n"
                                                "Argument: hello\r\n"
                                                "Argument Number: 1\r\n"
                                                "CallStack:\r\n"));
  DefError(rt::Value::Long(12));
  EXPECT_THAT(box_->shown()[1].text, HasSubstr("\r\nArgument: 12\r\n"));
}

TEST_F(DefErrorTest, EmptyStackIsFilledAndStored) {
  RT_ROUTINE("TESTER:RUN", "Test");
  rt::Value e = Plain();
  SetField(e, "Stack", rt::Value::String(""));
  const int line = __LINE__ + 1;
  RT_LINE();
  DefError(e);
  std::string want = "TESTER:RUN (Line:" + std::to_string(line) + ")\r\n";
  EXPECT_EQ(Field(e, "Stack").GetString(), want);
  EXPECT_THAT(box_->shown()[0].text, HasSubstr("CallStack:\r\n" + want));
}

TEST_F(DefErrorTest, ErrorClassWithoutStackFieldGetsAStackNotStored) {
  rt::ClassBuilder b("Error");
  for (const ErrorField& f : kErrorFields) {
    if (f.name != "Stack") b.IVar(f.name);
  }
  b.Register();
  RT_ROUTINE("TESTER:RUN", "Test");
  rt::Value e = rt::CreateInstance(Sym("ERROR"));
  SetField(e, "GenCode", rt::Value::Dword(rt::kGenArg));
  const int line = __LINE__ + 1;
  RT_LINE();
  DefError(e);
  EXPECT_THAT(box_->shown()[0].text,
              HasSubstr("CallStack:\r\nTESTER:RUN (Line:" + std::to_string(line) + ")"));
}

class FixedFrench : public LocaleSource {
 public:
  uint32_t UserDefaultLcid() override { return 0x040C; }
  int LocaleInfo(uint32_t, uint32_t lctype, char* buffer, int size) override {
    if (lctype != 31 || size < 11) return 0;
    std::snprintf(buffer, size, "dd/MM/yyyy");
    return 11;
  }
};

TEST_F(DefErrorTest, InstallOnlyWhenNoBlockIsInstalled) {
  SetLocaleSource(std::make_shared<FixedFrench>());
  rt::Value mine = rt::Value::FromBlock(rt::MakeBlock([](rt::Args) { return rt::Value(); }, 1));
  rt::ErrorBlock(mine);
  InstallDefaultErrorBlock();
  EXPECT_EQ(rt::ErrorBlock(), mine);
  EXPECT_EQ(rt::SetIntl(), 0u);

  rt::ErrorBlock(rt::Value());
  InstallDefaultErrorBlock();
  ASSERT_TRUE(rt::ErrorBlock().IsBlock());
  EXPECT_EQ(rt::SetIntl(), 1u);
  EXPECT_EQ(rt::GetDateFrmt(), "MM/DD/YYYY");  // IDATE unreadable: month first
  rt::Value e = Plain();
  SetField(e, "CanDefault", rt::Value::Logic(true));
  box_->Answer(1);
  EXPECT_EQ(rt::Eval(rt::ErrorBlock(), std::vector<rt::Value>{e}), rt::Value::Logic(false));
  EXPECT_EQ(box_->shown().size(), 1u);
}

}  // namespace
}  // namespace errors
