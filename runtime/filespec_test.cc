#include "runtime/filespec.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "runtime/error.h"
#include "runtime/testing/error_class.h"
#include "testing/scratch_dir.h"

namespace rt {
namespace {

namespace fs = std::filesystem;

struct Split {
  const char* full;
  const char* drive;
  const char* path;
  const char* name;
  const char* ext;
};

TEST(FileSpecParts, SplitsWindowsPaths) {
  const Split cases[] = {
      {"C:\\dir\\sub\\file.ini", "C:", "\\dir\\sub\\", "file", ".ini"},
      {"file.ini", "", "", "file", ".ini"},
      {"C:file.txt", "C:", "", "file", ".txt"},
      {"\\dir\\file", "", "\\dir\\", "file", ""},
      {"dir\\", "", "dir\\", "", ""},
      {"C:\\", "C:", "\\", "", ""},
      {"c:", "c:", "", "", ""},
      {"\\\\server\\share\\data\\doc.dbf", "", "\\\\server\\share\\data\\", "doc", ".dbf"},
      {"archive.tar.gz", "", "", "archive.tar", ".gz"},
      {"C:\\dir.d\\noext", "C:", "\\dir.d\\", "noext", ""},
      {"data/comm/Velmora.ini", "", "data/comm/", "Velmora", ".ini"},
      {".ini", "", "", "", ".ini"},
      {"name.", "", "", "name", "."},
      {"D:\\Velmora \\doc01 \\Velmora.ini ", "D:", "\\Velmora \\doc01 \\", "Velmora", ".ini "},
      {"1:\\x", "", "1:\\", "x", ""},  // only a letter makes a drive
      {"", "", "", "", ""},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Split& c = cases[i];
    SCOPED_TRACE(::testing::Message() << "case " << i << " " << c.full);
    FileSpec spec(nullptr);
    spec.SetFullPath(c.full);
    EXPECT_EQ(spec.drive, c.drive);
    EXPECT_EQ(spec.path, c.path);
    EXPECT_EQ(spec.file_name, c.name);
    EXPECT_EQ(spec.extension, c.ext);
    EXPECT_EQ(spec.FullPath(), c.full);
  }
}

class FileSpecClassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::DeclarePlainErrorClass();
    DeclareFileSpecClass();
  }
  static Value Make(Value path) {
    return CreateInstance(String2Symbol("FileSpec"), std::vector<Value>{std::move(path)});
  }
  static std::string Get(const Value& o, const char* member) {
    Value v = IVarGet(o, String2Symbol(member));
    EXPECT_TRUE(v.IsString()) << member;
    return v.GetString();
  }
  static void Put(const Value& o, const char* member, Value v) {
    IVarPut(o, String2Symbol(member), std::move(v));
  }
};

TEST_F(FileSpecClassTest, InitSplitsAndMembersReadBack) {
  Value o = Make(Value::String("C:\\Velmora\\doc01\\Velmora.ini"));
  ASSERT_TRUE(o.IsObject());
  EXPECT_TRUE(IsInstanceOf(o, String2Symbol("FILESPEC")));
  EXPECT_EQ(Get(o, "Drive"), "C:");
  EXPECT_EQ(Get(o, "Path"), "\\Velmora\\doc01\\");
  EXPECT_EQ(Get(o, "FileName"), "Velmora");
  EXPECT_EQ(Get(o, "Extension"), ".ini");
  EXPECT_EQ(Get(o, "FullPath"), "C:\\Velmora\\doc01\\Velmora.ini");
  auto spec = ObjectAs<FileSpec>(o);
  ASSERT_NE(spec, nullptr);
  EXPECT_EQ(spec->file_name, "Velmora");
}

TEST_F(FileSpecClassTest, InitWithoutAPathIsEmpty) {
  for (Value arg : {Value(), Value::NullString(), Value::String("")}) {
    Value o = Make(arg);
    EXPECT_EQ(Get(o, "FullPath"), "");
    EXPECT_EQ(Get(o, "Drive"), "");
  }
  Value o = CreateInstance(String2Symbol("FileSpec"));
  EXPECT_EQ(Get(o, "FullPath"), "");
}

TEST_F(FileSpecClassTest, AssigningPartsKeepsThePathWellFormed) {
  Value o = Make(Value::String("notes.txt"));
  Put(o, "Drive", Value::String("d"));
  Put(o, "Path", Value::String("\\data\\comm"));
  Put(o, "Extension", Value::String("dbf"));
  Put(o, "FileName", Value::String("tarif"));
  EXPECT_EQ(Get(o, "Drive"), "d:");
  EXPECT_EQ(Get(o, "Path"), "\\data\\comm\\");
  EXPECT_EQ(Get(o, "Extension"), ".dbf");
  EXPECT_EQ(Get(o, "FullPath"), "d:\\data\\comm\\tarif.dbf");
  Put(o, "Path", Value::String("\\x\\"));  // already closed: unchanged
  Put(o, "Extension", Value::String(""));
  EXPECT_EQ(Get(o, "FullPath"), "d:\\x\\tarif");
  Put(o, "FullPath", Value::String("E:\\y\\z.ini"));
  EXPECT_EQ(Get(o, "Drive"), "E:");
  EXPECT_EQ(Get(o, "Path"), "\\y\\");
  EXPECT_EQ(Get(o, "FileName"), "z");
  Put(o, "Drive", Value());  // NIL clears
  EXPECT_EQ(Get(o, "FullPath"), "\\y\\z.ini");
}

TEST_F(FileSpecClassTest, AssigningANonTextIsADataTypeError) {
  std::vector<Value> errors;
  Value answer = Value::Logic(false);
  Value old = ErrorBlock(Value::FromBlock(MakeBlock(
      [&](Args a) {
        errors.push_back(a[0]);
        return answer;
      },
      1)));
  Value o = Make(Value::String("C:\\a\\b.txt"));
  Put(o, "Path", Value::Long(5));
  EXPECT_EQ(Get(o, "Path"), "\\a\\");  // default: unchanged
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(IVarGet(errors[0], String2Symbol("GenCode")).GetDword(),
            static_cast<uint32_t>(kGenDataType));
  EXPECT_EQ(IVarGet(errors[0], String2Symbol("SubSystem")).GetString(), "FILESPEC");
  EXPECT_EQ(IVarGet(errors[0], String2Symbol("Operation")).GetString(), "Path");
  answer = Value::String("\\subst");
  Put(o, "Path", Value::Logic(true));
  EXPECT_EQ(Get(o, "Path"), "\\subst\\");  // the substitute is used
  answer = Value::Long(1);
  Put(o, "FullPath", Value::Long(2));  // a substitute of the wrong kind changes nothing
  EXPECT_EQ(Get(o, "FullPath"), "C:\\subst\\b.txt");
  EXPECT_EQ(errors.size(), 3u);
  ErrorBlock(old);
}

TEST_F(FileSpecClassTest, SubclassesGetTheNativeParts) {
  ClassBuilder("ProbeIniSpec", "FileSpec").Register();
  Value o = CreateInstance(String2Symbol("ProbeIniSpec"),
                           std::vector<Value>{Value::String("C:\\x\\Velmora.ini")});
  EXPECT_TRUE(IsInstanceOf(o, String2Symbol("FileSpec")));
  auto spec = ObjectAs<FileSpec>(o);
  ASSERT_NE(spec, nullptr);
  EXPECT_EQ(spec->path, "\\x\\");
  EXPECT_EQ(Get(o, "FileName"), "Velmora");
}

class FileSpecCreateTest : public FileSpecClassTest {
 protected:
  void SetUp() override {
    FileSpecClassTest::SetUp();
    dir_ = testsupport::MakeScratchDir("rt_filespec");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path dir_;
};

TEST_F(FileSpecCreateTest, CreateMakesOrEmptiesTheFile) {
  fs::path file = dir_ / "new.ini";
  Value o = Make(Value::String(file.string()));
  EXPECT_EQ(Send(o, "Create"), Value::Logic(true));
  ASSERT_TRUE(fs::exists(file));
  EXPECT_EQ(fs::file_size(file), 0u);
  std::ofstream(file, std::ios::binary) << "[2017]\r\ntarif=1\r\n";
  EXPECT_EQ(Send(o, "Create"), Value::Logic(true));
  EXPECT_EQ(fs::file_size(file), 0u);
}

TEST_F(FileSpecCreateTest, CreateInAMissingDirectoryFails) {
  Value o = Make(Value::String((dir_ / "missing" / "x.ini").string()));
  EXPECT_EQ(Send(o, "Create"), Value::Logic(false));
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

}  // namespace
}  // namespace rt
