// WinIniFileSpec on a WIN.INI in a temporary Windows directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ini/ini_file_spec.h"
#include "platform/path.h"
#include "platform/profile.h"
#include "runtime/filespec.h"
#include "runtime/object.h"
#include "runtime/symbol.h"
#include "testing/scratch_dir.h"

namespace ini {
namespace {

namespace fs = std::filesystem;
using rt::Value;

Value Str(const std::string& s) { return Value::String(s); }

class WinIniFileSpecTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::DeclareFileSpecClass();
    DeclareIniClasses();
    root_ = testsupport::MakeScratchDir("winini_test");
    ASSERT_FALSE(root_.empty());
    fs::create_directories(root_ + "/WINDOWS");
    platform::AddPathMapping("C:", root_);
    platform::SetWindowsDirectory("C:\\WINDOWS");
  }
  void TearDown() override {
    platform::ClearPathMappings();
    platform::SetWindowsDirectory("C:\\windows");
    fs::remove_all(root_);
  }
  void PutWinIni(const std::string& bytes) {
    std::ofstream(root_ + "/WINDOWS/WIN.INI", std::ios::binary) << bytes;
  }
  std::string WinIni() {
    std::ifstream in(root_ + "/WINDOWS/WIN.INI", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  Value Make() { return rt::CreateInstance(rt::String2Symbol("WinIniFileSpec")); }

  std::string root_;
};

TEST_F(WinIniFileSpecTest, NamesWinIniInTheWindowsDirectory) {
  EXPECT_EQ(rt::IVarGet(Make(), rt::String2Symbol("FullPath")).GetString(), "C:\\WINDOWS\\WIN.INI");
}

TEST_F(WinIniFileSpecTest, GetStringKeepsBlanksAndDefaultsToEmpty) {
  PutWinIni("[Practice]\r\nk=\"v  \"\r\nn=0x20\r\nword=Yes\r\n");
  Value win = Make();
  EXPECT_EQ(rt::Send(win, "GetString", {Str("Practice"), Str("k")}).GetString(), "v  ");
  EXPECT_EQ(rt::Send(win, "GetString", {Str("Practice"), Str("none")}).GetString(), "");
  EXPECT_EQ(rt::Send(win, "GetInt", {Str("Practice"), Str("n")}).GetDword(), 32u);
  EXPECT_EQ(rt::Send(win, "GetInt", {Str("Practice"), Str("none")}).GetDword(), 0u);
  EXPECT_TRUE(rt::Send(win, "GetLogic", {Str("Practice"), Str("word")}).GetLogic());
  // The trailing blanks reach GetLogic untrimmed.
  PutWinIni("[Practice]\r\nword=\"Yes \"\r\n");
  EXPECT_FALSE(rt::Send(win, "GetLogic", {Str("Practice"), Str("word")}).GetLogic());
  // IniFileSpec on the same file trims them.
  std::vector<Value> path = {Str("C:\\WINDOWS\\WIN.INI")};
  Value plain = rt::CreateInstance(rt::String2Symbol("IniFileSpec"), path);
  EXPECT_EQ(rt::Send(plain, "GetString", {Str("Practice"), Str("word")}).GetString(), "Yes");
}

TEST_F(WinIniFileSpecTest, WritesGoThroughTheWinIniCalls) {
  PutWinIni("; system\r\n[Practice]\r\nk=v\r\n");
  Value win = Make();
  rt::Send(win, "WriteString", {Str("Practice"), Str("k2"), Str("w")});
  rt::Send(win, "WriteInt", {Str("Practice"), Str("n"), Value::Long(-3)});
  EXPECT_EQ(WinIni(), "; system\r\n[Practice]\r\nk=v\r\nk2=w\r\nn=-3\r\n");
  rt::Send(win, "DeleteEntry", {Str("Practice"), Str("k")});
  EXPECT_EQ(WinIni(), "; system\r\n[Practice]\r\nk2=w\r\nn=-3\r\n");
  Value pairs = rt::Send(win, "GetSection", {Str("Practice")});
  ASSERT_EQ(pairs.GetArray()->size(), 2u);
  EXPECT_EQ(pairs.GetArray()->items()[1].GetArray()->items()[1].GetString(), "-3");
  rt::Send(win, "DeleteSection", {Str("Practice")});
  EXPECT_EQ(WinIni(), "; system\r\n");
}

TEST_F(WinIniFileSpecTest, CreateNeverTouchesWinIni) {
  PutWinIni("[s]\r\nk=v\r\n");
  rt::Send(Make(), "Create");
  EXPECT_EQ(WinIni(), "[s]\r\nk=v\r\n");
  fs::remove(root_ + "/WINDOWS/WIN.INI");
  rt::Send(Make(), "Create");
  EXPECT_FALSE(fs::exists(root_ + "/WINDOWS/WIN.INI"));
}

TEST_F(WinIniFileSpecTest, OverlongWindowsDirectoryIsNotReadPastTheBuffer) {
  std::string dir = "C:\\" + std::string(130, 'd');
  platform::SetWindowsDirectory(dir);
  // The call leaves the buffer untouched, so the path is only the file name.
  EXPECT_EQ(rt::IVarGet(Make(), rt::String2Symbol("FullPath")).GetString(), "\\WIN.INI");
}

}  // namespace
}  // namespace ini
