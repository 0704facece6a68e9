#include "errors/error_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "errors/def_error.h"
#include "errors/error_object.h"
#include "errors/testing/error_env.h"
#include "runtime/convert.h"
#include "runtime/error.h"
#include "runtime/files.h"
#include "runtime/program.h"
#include "runtime/settings.h"

namespace errors {
namespace {

using testing::ErrorEnvTest;
using testing::ReadBytes;
using testing::TestDataPath;
using testing::WriteBytes;

const char kStack[] =
    "MAINDIALOG:MODTARIF06 (Line:117)\r\nMAINDIALOG:OKBUTTON (Line:42)\r\nAPP:START (Line:12)\r\n";

rt::Value OrdinaryError() {
  rt::Value e = NewError(1);
  SetField(e, "SubSystem", rt::Value::String("DBFCDX"));
  SetField(e, "SubCode", rt::Value::Dword(1001));
  SetField(e, "SubCodeText", rt::Value::String("File not found"));
  SetField(e, "GenCode", rt::Value::Dword(rt::kGenOpen));
  SetField(e, "OsCode", rt::Value::Dword(2));
  SetField(e, "Severity", rt::Value::Dword(2));
  SetField(e, "CanDefault", rt::Value::Logic(true));
  SetField(e, "CanRetry", rt::Value::Logic(true));
  SetField(e, "Operation", rt::Value::String("Open"));
  SetField(e, "Description", rt::Value::String("Open error"));
  SetField(e, "FileName", rt::Value::String("C:\\XQ\\DATA\\tarif.dbf"));
  SetField(e, "Tries", rt::Value::Dword(1));
  SetField(e, "FuncSym", rt::Value::Sym(rt::String2Symbol("DBSERVER:INIT")));
  SetField(e, "ArgNum", rt::Value::Dword(1));
  SetField(e, "Arg", rt::Value::String("tarif.dbf"));
  SetField(e, "ArgType", rt::Value::Dword(7));
  SetField(e, "Stack", rt::Value::String(kStack));
  return e;
}

rt::Value ExceptionError() {
  rt::Value e = NewError(1);
  SetField(e, "SubSystem", rt::Value::String("BASE"));
  SetField(e, "SubCode", rt::Value::Dword(kExceptionSubCode));
  SetField(e, "SubCodeText", rt::Value::String("Exception"));
  SetField(e, "OsCode", rt::Value::Dword(0xC0000005u));
  SetField(e, "ArgType", rt::Value::Dword(1));
  SetField(e, "FuncPtr", rt::Value::Ptr(reinterpret_cast<void*>(uintptr_t{0x00401A2C})));
  SetField(e, "ArgNum", rt::Value::Dword(2));
  SetField(e, "Severity", rt::Value::Dword(2));
  SetField(e, "Description", rt::Value::String("Access violation"));
  SetField(e, "Stack", rt::Value::String(kStack));
  return e;
}

class ErrorLogTest : public ErrorEnvTest {
 protected:
  // The golden block with its date line filled in from the block written;
  // the date line itself must be the date and a time in the current formats.
  std::string Golden(const std::string& name, const std::string& written) {
    std::string golden = ReadBytes(TestDataPath(name));
    EXPECT_FALSE(golden.empty()) << name;
    size_t at = golden.find("<DATE> <TIME>");
    size_t line3 = written.find("\r\n", written.find("\r\n") + 2) + 2;
    std::string date_line = written.substr(line3, written.find("\r\n", line3) - line3);
    std::string today = rt::DToC(rt::Today()) + " ";
    EXPECT_EQ(date_line.substr(0, today.size()), today);
    EXPECT_EQ(date_line.size(), today.size() + rt::Time().size());
    return golden.replace(at, 13, date_line);
  }
};

TEST_F(ErrorLogTest, OrdinaryErrorBlockByteForByte) {
  DefError(OrdinaryError());
  std::string log = ReadLog();
  EXPECT_EQ(log, Golden("log_ordinary.txt", log));
}

TEST_F(ErrorLogTest, ExceptionBlockByteForByte) {
  DefError(ExceptionError());
  std::string log = ReadLog();
  EXPECT_EQ(log, Golden("log_exception.txt", log));
}

TEST_F(ErrorLogTest, CreatedWithoutEmptyLineAppendedWithExactlyOne) {
  EXPECT_FALSE(LogExists());
  DefError(OrdinaryError());
  std::string first = ReadLog();
  ASSERT_EQ(first.rfind("*****", 0), 0u);
  DefError(ExceptionError());
  std::string both = ReadLog();
  ASSERT_GT(both.size(), first.size() + 2);
  EXPECT_EQ(both.substr(0, first.size()), first);
  EXPECT_EQ(both.substr(first.size(), 4), "\r\n**");
  EXPECT_EQ(both.substr(first.size() - 22, 22), "--------------------\r\n");
}

TEST_F(ErrorLogTest, OpenPositionsAfterTheSeparatorLine) {
  WriteBytes(LogPath(), "old\r\n");
  int32_t h = ErrorLogOpen();
  ASSERT_NE(h, rt::kInvalidHandle);
  rt::FPutS(h, "new");
  rt::FClose(h);
  EXPECT_EQ(ReadLog(), "old\r\n\r\nnew\r\n");
}

TEST_F(ErrorLogTest, LogSettingOffTouchesNothing) {
  rt::SetErrorLog(false);
  DefError(OrdinaryError());
  EXPECT_FALSE(LogExists());
  WriteBytes(LogPath(), "keep");
  DefError(OrdinaryError());
  EXPECT_EQ(ReadLog(), "keep");
  EXPECT_EQ(box_->shown().size(), 2u);
}

TEST_F(ErrorLogTest, UnwritableLogNeverPreventsTheBox) {
  std::filesystem::create_directory(LogPath());  // a directory where the file should be
  DefError(OrdinaryError());
  ASSERT_EQ(box_->shown().size(), 1u);
  EXPECT_EQ(box_->shown()[0].caption, "ERROR");
}

// Missing directory: the default directory setting is blamed, cleared and
// reported as an internal error, once; then the error itself is shown.
TEST_F(ErrorLogTest, MissingDirectoryClearsTheDefaultDirectory) {
  rt::SetWorkDir(dir() + "missing" + dir().back());
  rt::SetDefaultDir("D:\\OLD");
  rt::SetDefault("E:\\PATH");
  rt::ErrorBlock(DefaultErrorBlock());
  DefError(OrdinaryError());
  EXPECT_EQ(rt::GetDefaultDir(), "");
  EXPECT_EQ(rt::GetDefault(), "E:\\PATH");
  ASSERT_EQ(box_->shown().size(), 2u);
  EXPECT_NE(box_->shown()[0].text.find("Description: SetDefaultDir: D:\\OLD\r\n"),
            std::string::npos)
      << box_->shown()[0].text;
  EXPECT_EQ(box_->shown()[1].text.rfind("Error Code:  21 [ OPEN ERROR ]", 0), 0u);

  // With no default directory the default path is blamed.
  rt::Value seen;
  rt::ErrorBlock(rt::Value::FromBlock(rt::MakeBlock(
      [&](rt::Args a) {
        seen = a[0];
        return rt::Value::Logic(false);
      },
      1)));
  EXPECT_EQ(ErrorLogOpen(), rt::kInvalidHandle);
  EXPECT_EQ(rt::GetDefault(), "");
  ASSERT_TRUE(seen.IsObject());
  EXPECT_EQ(Field(seen, "Description").GetString(), "SetDefault: E:\\PATH");
}

TEST_F(ErrorLogTest, HexTextByType) {
  EXPECT_EQ(HexText(rt::Value::String("AB")), "41 42 ");
  EXPECT_EQ(HexText(rt::Value::String("")), "");
  EXPECT_EQ(HexText(rt::Value::String("\xE9")), "E9 ");
  EXPECT_EQ(HexText(rt::Value::Dword(0xC0000005u)), "C0000005");
  EXPECT_EQ(HexText(rt::Value::Long(-1)), "FFFFFFFF");
  EXPECT_EQ(HexText(rt::Value()), "00000000");
  EXPECT_EQ(HexText(rt::Value::Ptr(nullptr)), "00000000");
  EXPECT_EQ(HexText(rt::Value::Logic(true)), "00000001");
  EXPECT_EQ(HexText(rt::Value::Sym(rt::Symbol(0x2A))), "0000002A");
  EXPECT_EQ(HexText(rt::Value::Float(3.0, 0)), "00000003");
  EXPECT_EQ(HexText(rt::Value::Float(-5.0, 0)), "FFFFFFFB");
  EXPECT_EQ(HexText(rt::Value::Float(1.5, 1)).size(), 16u);
  EXPECT_EQ(HexText(rt::Value::Float(5e9, 0)).size(), 16u);
  EXPECT_EQ(HexText(rt::Value::Float(-3e9, 0)).size(), 16u);
}

}  // namespace
}  // namespace errors
