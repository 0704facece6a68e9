// Where IniFileSpec objects put their files: bare names, drives and directories
// as the runtime's callers give them, in a scratch directory mapped as drive C:
// with a current directory of its own (the portable tests are ini_file_spec_test.cc).
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

class IniFileSpecPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::DeclareFileSpecClass();
    DeclareIniClasses();
    root_ = testsupport::MakeScratchDir("ini_test");
    ASSERT_FALSE(root_.empty());
    fs::create_directories(root_ + "/work/sub");
    fs::create_directories(root_ + "/windows");
    old_cwd_ = fs::current_path();
    platform::AddPathMapping("C:", root_);
    platform::SetWindowsDirectory("C:\\windows");
    ASSERT_TRUE(platform::SetCurrentDirectory("C:\\work"));
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    platform::ClearPathMappings();
    platform::SetWindowsDirectory("C:\\windows");
    fs::remove_all(root_);
  }

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
  std::string FullPath(const Value& o) {
    return rt::IVarGet(o, rt::String2Symbol("FullPath")).GetString();
  }

  std::string root_;
  fs::path old_cwd_;
};

TEST_F(IniFileSpecPathTest, BareNameAddressesTheCurrentDirectory) {
  ASSERT_TRUE(platform::SetCurrentDirectory("C:\\work\\sub"));
  EXPECT_EQ(FullPath(Ini("Velmora.ini")), "C:\\work\\sub\\Velmora.ini");
  ASSERT_TRUE(platform::SetCurrentDirectory("C:\\"));
  EXPECT_EQ(FullPath(Ini("Velmora.ini")), "C:\\\\Velmora.ini");
  // The doubled backslash still reaches the file at the root.
  Put("Velmora.ini", "[Path]\r\nData=C:\\data\\\r\n");
  EXPECT_EQ(rt::Send(Ini("Velmora.ini"), "GetString", {Str("Path"), Str("Data")}).GetString(),
            "C:\\data\\");
}

TEST_F(IniFileSpecPathTest, PathsWithDriveOrDirectoryAreKept) {
  for (const char* path : {"C:\\work\\x.ini", "\\work\\x.ini", "C:x.ini", "sub\\x.ini"}) {
    EXPECT_EQ(FullPath(Ini(path)), path);
  }
}

}  // namespace
}  // namespace ini
