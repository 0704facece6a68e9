#include "errors/error_gen.h"

#include <gtest/gtest.h>

#include "errors/def_error.h"
#include "errors/error_object.h"
#include "errors/testing/error_env.h"
#include "runtime/activation.h"
#include "runtime/error.h"
#include "runtime/object.h"

namespace errors {
namespace {

using testing::ErrorEnvTest;

class ErrorGenTest : public ErrorEnvTest {};

TEST_F(ErrorGenTest, CopiesEveryFieldOfTheRecord) {
  rt::ErrorInfo info;
  info.subsystem = "DBFCDX";
  info.sub_code = 1001;
  info.gen_code = rt::kGenOpen;
  info.os_code = 2;
  info.severity = 2;
  info.can_default = true;
  info.can_retry = true;
  info.operation = "Open";
  info.description = "Open error";
  info.file_name = "C:\\XQ\\tarif.dbf";
  info.args = std::vector<rt::Value>{rt::Value::String("tarif.dbf"), rt::Value::Long(5)};
  info.tries = 3;
  info.func_sym = rt::String2Symbol("DBSERVER:INIT");
  info.file_handle = 9;
  info.arg_num = 1;
  int anchor = 0;
  info.func_ptr = &anchor;
  info.sub_code_text = "no file";
  info.arg = "tarif.dbf";
  info.arg_type = 7;
  info.arg_type_req = 10;
  info.max_size = 254;
  info.substitute_type = 8;
  info.choice = 4;
  info.call_func_sym = rt::String2Symbol("MODTARIF06");
  rt::ErrorRecord rec(info);
  rt::Routine raiser("DBSERVER:INIT", "DBServer", 57);
  rt::Value e = DefErrorGen(rt::Value::Ptr(&rec.raw()));
  ASSERT_TRUE(rt::IsInstanceOf(e, rt::String2Symbol("ERROR")));
  EXPECT_EQ(Field(e, "SubSystem").GetString(), "DBFCDX");
  EXPECT_EQ(Field(e, "SubCode"), rt::Value::Dword(1001));
  EXPECT_EQ(Field(e, "GenCode"), rt::Value::Dword(21));
  EXPECT_EQ(Field(e, "OsCode"), rt::Value::Dword(2));
  EXPECT_EQ(Field(e, "Severity"), rt::Value::Dword(2));
  EXPECT_EQ(Field(e, "CanDefault"), rt::Value::Logic(true));
  EXPECT_EQ(Field(e, "CanRetry"), rt::Value::Logic(true));
  EXPECT_EQ(Field(e, "CanSubstitute"), rt::Value::Logic(false));
  EXPECT_EQ(Field(e, "Operation").GetString(), "Open");
  EXPECT_EQ(Field(e, "Description").GetString(), "Open error");
  EXPECT_EQ(Field(e, "FileName").GetString(), "C:\\XQ\\tarif.dbf");
  ASSERT_TRUE(Field(e, "Args").IsArray());
  ASSERT_EQ(Field(e, "Args").GetArray()->size(), 2u);
  EXPECT_EQ(Field(e, "Args").GetArray()->items()[1], rt::Value::Long(5));
  EXPECT_EQ(Field(e, "Tries"), rt::Value::Dword(3));
  EXPECT_EQ(Field(e, "FuncSym"), rt::Value::Sym(rt::String2Symbol("DBSERVER:INIT")));
  EXPECT_EQ(Field(e, "FileHandle"), rt::Value::Dword(9));
  EXPECT_EQ(Field(e, "ArgNum"), rt::Value::Dword(1));
  EXPECT_EQ(Field(e, "FuncPtr").GetPtr(), &anchor);
  EXPECT_EQ(Field(e, "SubCodeText").GetString(), "no file");
  EXPECT_EQ(Field(e, "Arg").GetString(), "tarif.dbf");
  EXPECT_EQ(Field(e, "ArgType"), rt::Value::Dword(7));
  EXPECT_EQ(Field(e, "ArgTypeReq"), rt::Value::Dword(10));
  EXPECT_EQ(Field(e, "MaxSize"), rt::Value::Dword(254));
  EXPECT_EQ(Field(e, "SubstituteType"), rt::Value::Dword(8));
  EXPECT_EQ(Field(e, "Choice"), rt::Value::Dword(4));
  EXPECT_EQ(Field(e, "CallFuncSym"), rt::Value::Sym(rt::String2Symbol("MODTARIF06")));
  // The stack Init recorded from level 1: the routine that raised the error
  // (the generator registers no activation of its own).
  EXPECT_EQ(Field(e, "Stack").GetString(), "DBSERVER:INIT (Line:57)\r\n");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(ErrorGenTest, ArgumentListsAndNullTexts) {
  rt::ErrorRecord empty;  // every pointer null
  rt::Value e = DefErrorGen(rt::Value::Ptr(&empty.raw()));
  ASSERT_TRUE(Field(e, "Args").IsArray());
  EXPECT_EQ(Field(e, "Args").GetArray()->size(), 0u);
  for (const char* f :
       {"SubSystem", "Operation", "Description", "FileName", "SubCodeText", "Arg"}) {
    EXPECT_TRUE(Field(e, f).IsString()) << f;
    EXPECT_EQ(Field(e, f).GetString(), "") << f;
  }
  // So the box text has none of their lines.
  EXPECT_EQ(ErrorMessageText(e), "Error Code:  \r\n");

  rt::ErrorArgList list;
  list.count1 = 2;
  list.count2 = 3;
  list.values = {rt::Value::Long(1), rt::Value::Long(2), rt::Value::Long(3)};
  rt::ErrorRecord rec;
  uint32_t ref = rt::RegisterRef(&list);
  rec.raw().Put(rt::es::kArgs, ref);
  rt::Value with_list = DefErrorGen(rt::Value::Ptr(&rec.raw()));
  rt::ReleaseRef(ref);
  ASSERT_TRUE(Field(with_list, "Args").IsArray());
  EXPECT_EQ(Field(with_list, "Args").GetArray()->items(),
            (std::vector<rt::Value>{rt::Value::Long(1), rt::Value::Long(2), rt::Value::Long(3)}));
}

TEST_F(ErrorGenTest, WrongTagShowsTheBoxOnceAndKeepsWhatInitSet) {
  rt::Value e = DefErrorGen(rt::Value::Long(42));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "Error structure has wrong tag");
  EXPECT_EQ(messages_[0].caption, "FROM DefErrorGen");
  EXPECT_EQ(messages_[0].type, 0u);
  ASSERT_TRUE(e.IsObject());
  EXPECT_EQ(Field(e, "SubSystem").GetString(), "C:\\XQ\\TARIF2017.EXE");
  EXPECT_EQ(Field(e, "GenCode"), rt::Value::Dword(0));
  // A null pointer cannot be read either.
  DefErrorGen(rt::Value::Ptr(nullptr));
  EXPECT_EQ(messages_.size(), 2u);
}

TEST_F(ErrorGenTest, NoObjectShowsItsBoxAndFillsNothing) {
  // A class whose objects cannot be made: CreateInstance gives NIL.
  rt::ClassBuilder("Error").MakeWith([](const rt::Class*) { return rt::ObjectRef(); }).Register();
  rt::ErrorRecord rec;
  rt::Value e = DefErrorGen(rt::Value::Ptr(&rec.raw()));
  EXPECT_TRUE(e.IsNil());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "No error object created !");
  EXPECT_EQ(messages_[0].caption, "FROM DefErrorGen");
  EXPECT_TRUE(box_->shown().empty());
}

TEST_F(ErrorGenTest, InstalledOnlyWhenTheRuntimeCountIsOne) {
  rt::SetRTCount(2);
  InstallErrorGenerator();
  EXPECT_EQ(rt::ErrorFunc(), nullptr);
  rt::SetRTCount(1);
  InstallErrorGenerator();
  EXPECT_EQ(rt::ErrorFunc(), &DefErrorGen);
  // The runtime now builds its errors with it.
  rt::ErrorBlock(rt::Value::FromBlock(rt::MakeBlock(
      [](rt::Args a) {
        return rt::Value::Logic(Field(a[0], "Stack").GetString() == "TESTER:RAISE (Line:3)\r\n");
      },
      1)));
  rt::Routine raiser("TESTER:RAISE", "Tester", 3);
  rt::ErrorInfo info;
  info.gen_code = rt::kGenArg;
  EXPECT_EQ(rt::RaiseError(info).answer, rt::ErrorAnswer::kRetry);
}

}  // namespace
}  // namespace errors
