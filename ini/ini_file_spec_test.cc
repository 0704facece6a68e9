// IniFileSpec and WinIniFileSpec as the runtime's callers see them: objects
// made with CreateInstance and driven with Send, on files in a scratch
// directory (mapped as drive C: on Linux, a real directory on Windows).
#include "ini/ini_file_spec.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/path.h"
#include "platform/profile.h"
#include "runtime/activation.h"
#include "runtime/filespec.h"
#include "runtime/functions.h"
#include "runtime/object.h"
#include "runtime/symbol.h"
#include "testing/scratch_dir.h"

namespace ini {
namespace {

namespace fs = std::filesystem;
using rt::Value;

Value Str(const std::string& s) { return Value::String(s); }

class IniFileSpecTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::DeclareFileSpecClass();
    DeclareIniClasses();
    root_ = testsupport::MakeScratchDir("ini_test");
    ASSERT_FALSE(root_.empty());
    fs::create_directories(root_ + "/work");
    base_ = platform::MapDirectory("C:", root_);
  }
  void TearDown() override {
    platform::ClearPathMappings();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // The Windows path of a file below the scratch directory ("work\\t.ini").
  std::string W(const std::string& rel) const { return base_ + "\\" + rel; }
  void Put(const std::string& rel, const std::string& bytes) {
    std::ofstream(root_ + "/" + rel, std::ios::binary) << bytes;
  }
  std::string Read(const std::string& rel) {
    std::ifstream in(root_ + "/" + rel, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  Value Make(const std::string& cls, std::vector<Value> args) {
    return rt::CreateInstance(rt::String2Symbol(cls), args);
  }
  Value Ini(const std::string& path) { return Make("IniFileSpec", {Str(path)}); }

  std::string root_;
  std::string base_;
};

TEST_F(IniFileSpecTest, GetStringTrimsAndDefaultsToEmpty) {
  Put("work/t.ini", "[s]\r\nempty=\r\nblank=   \r\none=\"1   \"\r\nspaced=a b  \r\n");
  Value ini = Ini(W("work\\t.ini"));
  auto get = [&](const char* section, const char* key) {
    return rt::Send(ini, "GetString", {Str(section), Str(key)}).GetString();
  };
  EXPECT_EQ(get("s", "absent"), "");
  EXPECT_EQ(get("nosuch", "one"), "");
  EXPECT_EQ(get("s", "empty"), "");
  EXPECT_EQ(get("s", "blank"), "");
  EXPECT_EQ(get("s", "one"), "1");
  EXPECT_EQ(get("s", "spaced"), "a b");
  EXPECT_EQ(rt::Send(Ini(W("work\\missing.ini")), "GetString", {Str("s"), Str("k")}).GetString(),
            "");
}

TEST_F(IniFileSpecTest, LongValueIsCutTo1023Characters) {
  std::string value(1500, 'x');
  value[1022] = 'L';
  value[1023] = 'M';
  Put("work/t.ini", "[s]\r\nk=" + value + "\r\n");
  std::string got = rt::Send(Ini(W("work\\t.ini")), "GetString", {Str("s"), Str("k")}).GetString();
  EXPECT_EQ(got, value.substr(0, 1023));
}

TEST_F(IniFileSpecTest, WriteIsSeenAtOnceByAnotherObject) {
  Value writer = Ini(W("work\\new.ini"));
  Value result = rt::Send(writer, "WriteString", {Str("2017"), Str("tarif"), Str("1")});
  EXPECT_EQ(result.GetObject(), writer.GetObject());
  EXPECT_EQ(Read("work/new.ini"), "[2017]\r\ntarif=1\r\n");
  EXPECT_EQ(IniFile(W("work\\new.ini")).GetString("2017", "tarif"), "1");
  IniFile(W("work\\new.ini")).WriteString("2017", "index", "1");
  EXPECT_EQ(Read("work/new.ini"), "[2017]\r\ntarif=1\r\nindex=1\r\n");
}

// (Blank lines between sections are the profile functions' business, and Wine's
// differ there: see the platform's conformance tests.)
TEST_F(IniFileSpecTest, DeleteEntryAndDeleteSectionRemoveOnlyTheirLines) {
  const std::string before = "; practice\r\n[a]\r\nx=1\r\ny=2\r\n[b]\r\nz=3\r\n";
  Put("work/t.ini", before);
  Value ini = Ini(W("work\\t.ini"));
  rt::Send(ini, "DeleteEntry", {Str("a"), Str("x")});
  EXPECT_EQ(Read("work/t.ini"), "; practice\r\n[a]\r\ny=2\r\n[b]\r\nz=3\r\n");
  rt::Send(ini, "DeleteSection", {Str("b")});
  EXPECT_EQ(Read("work/t.ini"), "; practice\r\n[a]\r\ny=2\r\n");
  rt::Send(ini, "DeleteEntry", {Str("a"), Str("absent")});
  EXPECT_EQ(Read("work/t.ini"), "; practice\r\n[a]\r\ny=2\r\n");
}

TEST_F(IniFileSpecTest, GetIntIsUnsignedWithDefaultZero) {
  Put("work/t.ini", "[s]\r\nn=42\r\nletters=abc\r\nneg=-1\r\n");
  Value ini = Ini(W("work\\t.ini"));
  auto get = [&](const char* key) { return rt::Send(ini, "GetInt", {Str("s"), Str(key)}); };
  EXPECT_EQ(get("n").type(), rt::Type::kDword);
  EXPECT_EQ(get("n").GetDword(), 42u);
  EXPECT_EQ(get("letters").GetDword(), 0u);
  EXPECT_EQ(get("missing").GetDword(), 0u);
  EXPECT_EQ(get("neg").GetDword(), 0xFFFFFFFFu);
}

TEST_F(IniFileSpecTest, GetLogicAndGetStringUpper) {
  Put("work/t.ini",
      "[s]\r\na=Oui\r\nb=YES\r\nc=True\r\nd=J\r\ne=y\r\nf=1\r\ng=no\r\nh=0\r\ni=2\r\nj=\r\n"
      "k=caf\xe9\r\n");
  Value ini = Ini(W("work\\t.ini"));
  for (const char* key : {"a", "b", "c", "d", "e", "f"}) {
    EXPECT_TRUE(rt::Send(ini, "GetLogic", {Str("s"), Str(key)}).GetLogic()) << key;
  }
  for (const char* key : {"g", "h", "i", "j", "missing"}) {
    EXPECT_FALSE(rt::Send(ini, "GetLogic", {Str("s"), Str(key)}).GetLogic()) << key;
  }
  // Upper case of ASCII letters only, as the runtime's Upper.
  EXPECT_EQ(rt::Send(ini, "GetStringUpper", {Str("s"), Str("k")}).GetString(), "CAF\xe9");
}

TEST_F(IniFileSpecTest, GetSectionListsPairsInFileOrder) {
  Put("work/t.ini", "[s]\r\nzeta = last  \r\n; note\r\nalpha=\"q\"\r\nmid=\r\n[t]\r\nx=1\r\n");
  Value list = rt::Send(Ini(W("work\\t.ini")), "GetSection", {Str("S")});
  ASSERT_TRUE(list.IsArray());
  const auto& items = list.GetArray()->items();
  ASSERT_EQ(items.size(), 3u);
  const char* want[3][2] = {{"zeta", "last"}, {"alpha", "q"}, {"mid", ""}};
  for (size_t i = 0; i < 3; ++i) {
    const auto& pair = items[i].GetArray()->items();
    ASSERT_EQ(pair.size(), 2u);
    EXPECT_EQ(pair[0].GetString(), want[i][0]);
    EXPECT_EQ(pair[1].GetString(), want[i][1]);
  }
  EXPECT_EQ(rt::Send(Ini(W("work\\t.ini")), "GetSection", {Str("none")}).GetArray()->size(), 0u);
  EXPECT_EQ(rt::Send(Ini(W("work\\no.ini")), "GetSection", {Str("s")}).GetArray()->size(), 0u);
}

TEST_F(IniFileSpecTest, WriteIntWritesPlainDecimal) {
  Value ini = Ini(W("work\\t.ini"));
  rt::Send(ini, "WriteInt", {Str("s"), Str("a"), Value::Long(-42)});
  rt::Send(ini, "WriteInt", {Str("s"), Str("b"), Value::Dword(4000000000u)});
  EXPECT_EQ(Read("work/t.ini"), "[s]\r\na=-42\r\nb=4000000000\r\n");
}

TEST_F(IniFileSpecTest, CreateEmptiesAFileButNeverWinIni) {
  Put("work/t.ini", "[s]\r\nk=v\r\n");
  rt::Send(Ini(W("work\\t.ini")), "Create");
  EXPECT_TRUE(fs::exists(root_ + "/work/t.ini"));
  EXPECT_EQ(Read("work/t.ini"), "");
  Put("work/win.ini", "[s]\r\nk=v\r\n");
  rt::Send(Ini(W("work\\win.ini")), "Create");
  EXPECT_EQ(Read("work/win.ini"), "[s]\r\nk=v\r\n");
  rt::Send(Ini(W("work\\Wintarif.ini")), "Create");
  EXPECT_TRUE(fs::exists(root_ + "/work/Wintarif.ini"));
}

TEST_F(IniFileSpecTest, NullTextsReachThePlatformAsNullPointers) {
  Put("work/t.ini", "[s]\r\nk=v\r\n[t]\r\nx=1\r\n");
  Value ini = Ini(W("work\\t.ini"));
  rt::Send(ini, "WriteString", {Str("s"), Str("k"), Value::NullString()});
  EXPECT_EQ(Read("work/t.ini"), "[s]\r\n[t]\r\nx=1\r\n");
  rt::Send(ini, "WriteString", {Str("t"), Value::NullString(), Value::NullString()});
  EXPECT_EQ(Read("work/t.ini"), "[s]\r\n");
  // The empty text is a value, not a deletion.
  rt::Send(ini, "WriteString", {Str("s"), Str("k"), Str("")});
  EXPECT_EQ(Read("work/t.ini"), "[s]\r\nk=\r\n");
}

// A subclass that replaces GetString and WriteString changes the five
// operations built on them, and they run inside their own activation.
TEST_F(IniFileSpecTest, DerivedOperationsDispatchThroughTheObject) {
  std::vector<std::string> calls;
  rt::ClassBuilder("RecordingIni", "IniFileSpec")
      .Method("GetString",
              [&](const rt::ObjectRef&, rt::Args args) {
                calls.push_back("get " + rt::ProcName(0) + " " + args[1].GetString());
                return Str("yes");
              })
      .Method("WriteString",
              [&](const rt::ObjectRef&, rt::Args args) {
                calls.push_back("write " + rt::ProcName(0) +
                                (args[1].IsNullString() ? " null" : " " + args[1].GetString()) +
                                (args[2].IsNullString() ? " null" : " value"));
                return Value();
              })
      .Register();
  Put("work/t.ini", "[s]\r\nk1=a\r\nk2=b\r\n");
  Value ini = Make("RecordingIni", {Str(W("work\\t.ini"))});
  EXPECT_EQ(rt::Send(ini, "GetStringUpper", {Str("s"), Str("k")}).GetString(), "YES");
  EXPECT_TRUE(rt::Send(ini, "GetLogic", {Str("s"), Str("k")}).GetLogic());
  EXPECT_EQ(rt::Send(ini, "GetSection", {Str("s")}).GetArray()->size(), 2u);
  rt::Send(ini, "DeleteEntry", {Str("s"), Str("k1")});
  rt::Send(ini, "DeleteSection", {Str("s")});
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "get INIFILESPEC:GETSTRINGUPPER k", "get INIFILESPEC:GETLOGIC k",
                       "get INIFILESPEC:GETSECTION k1", "get INIFILESPEC:GETSECTION k2",
                       "write INIFILESPEC:DELETEENTRY k1 null",
                       "write INIFILESPEC:DELETESECTION null null"}));
  EXPECT_EQ(Read("work/t.ini"), "[s]\r\nk1=a\r\nk2=b\r\n");
}

TEST(Usual2LogicTest, FollowsTheTable) {
  EXPECT_TRUE(Usual2Logic(Value::Logic(true)));
  EXPECT_FALSE(Usual2Logic(Value::Logic(false)));
  EXPECT_TRUE(Usual2Logic(Value::Long(1)));
  EXPECT_TRUE(Usual2Logic(Value::Float(1.0, 1)));
  EXPECT_TRUE(Usual2Logic(Value::Dword(1)));
  for (Value v : {Value::Long(0), Value::Long(2), Value::Long(-1), Value::Float(0.5)}) {
    EXPECT_FALSE(Usual2Logic(v));
  }
  for (const char* yes : {"oui", "OUI", "On", "yes", "TRUE", "j", "Y", "1", "oui_/_on", "/"}) {
    EXPECT_TRUE(Usual2Logic(Str(yes))) << yes;
  }
  for (const char* no : {"", " yes", "yes ", "non", "o", "ye", "_", "vrai", "0"}) {
    EXPECT_FALSE(Usual2Logic(Str(no))) << "'" << no << "'";
  }
  EXPECT_FALSE(Usual2Logic(Value()));
  EXPECT_FALSE(Usual2Logic(Value::NullString()));
  EXPECT_FALSE(Usual2Logic(Value::FromDate(rt::Date::FromYmd(2017, 1, 1))));
  EXPECT_FALSE(Usual2Logic(Value::FromArray(rt::ArrayInit({Value::Long(1)}))));
}

TEST(IniProgramTest, AddToProgramDeclaresClassesAndUsual2Logic) {
  rt::Program program;
  rt::AddRuntimeToProgram(program);
  AddToProgram(program);
  std::string failure;
  ASSERT_TRUE(rt::StartRuntime(program, &failure)) << failure;
  EXPECT_TRUE(rt::IsClass(rt::String2Symbol("IniFileSpec")));
  EXPECT_TRUE(rt::FindClass(rt::String2Symbol("WinIniFileSpec"))
                  ->IsA(rt::FindClass(rt::String2Symbol("FileSpec"))));
  EXPECT_EQ(rt::FunctionParams(rt::String2Symbol("Usual2Logic")), 1);
  EXPECT_TRUE(rt::CallFunction("Usual2Logic", {Str("Oui")}).GetLogic());
  EXPECT_FALSE(rt::CallFunction("Usual2Logic", {Value::Long(2)}).GetLogic());
}

}  // namespace
}  // namespace ini
