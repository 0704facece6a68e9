#include "tables/testing/table_fixture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/file.h"
#include "platform/path.h"
#include "runtime/error.h"
#include "runtime/object.h"
#include "runtime/testing/error_class.h"
#include "testing/scratch_dir.h"

namespace tables::dbftest {

std::string FixtureRoot() { return std::string(PROJECT_TESTDATA_DIR) + "/tables/fixtures"; }

std::string DemoTree() { return FixtureRoot() + "/" PROJECT_DEMO_TREE; }

std::string FromHex(std::string_view hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

// The paths given here are the system's own (the tests build ".../doc01 /..."
// as the product does), so they reach the C++ library only through MapPath:
// Windows does not strip the blank from a directory name in the middle of a
// path, and the copy of the demo tree there has "doc01", not "doc01 ".
std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(platform::MapPath(path), std::ios::binary);
  if (!in) {
    // An empty result would compare equal to another failed read.
    ADD_FAILURE() << "cannot read " << path;
    return {};
  }
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(platform::MapPath(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

ScratchDir::ScratchDir() {
  path_ = testsupport::MakeScratchDir("tables_test");
  EXPECT_FALSE(path_.empty());
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ScratchDir::Copy(const std::string& src, const std::string& name) {
  namespace fs = std::filesystem;
  std::string dst = path_ + "/" + name;
  // The source's own name is mapped too: a directory is listed as "name\\*",
  // where Windows no longer strips a trailing blank.
  std::string from = platform::MapPath(src + "/");
  from.pop_back();
  fs::copy(from, dst, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  if (fs::is_directory(dst)) {
    for (auto& e : fs::recursive_directory_iterator(dst)) {
      fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
    }
  }
  fs::permissions(dst, fs::perms::owner_write, fs::perm_options::add);
  return dst;
}

}  // namespace tables::dbftest

namespace tables::dbftest {

ErrorCatcher::ErrorCatcher()
    : errors_(std::make_shared<std::vector<Seen>>()), retries_(std::make_shared<int>(0)) {
  if (!rt::IsClass(rt::String2Symbol("ERROR"))) rt::testing::DeclarePlainErrorClass();
  auto errors = errors_;
  auto retries = retries_;
  rt::ErrorBlock(rt::Value::FromBlock(rt::MakeBlock(
      [errors, retries](rt::Args args) {
        const rt::Value& e = args[0];
        auto get = [&](const char* name) { return rt::IVarGet(e, rt::String2Symbol(name)); };
        Seen s;
        s.subsystem = get("SubSystem").GetString();
        s.operation = get("Operation").GetString();
        s.description = get("Description").GetString();
        s.file_name = get("FileName").GetString();
        s.gen_code = get("GenCode").GetDword();
        s.os_code = get("OsCode").GetDword();
        s.can_retry = get("CanRetry").GetLogic();
        s.can_default = get("CanDefault").GetLogic();
        errors->push_back(s);
        if (*retries > 0 && s.can_retry) {
          --*retries;
          return rt::Value::Logic(true);
        }
        return rt::Value::Logic(false);
      },
      1)));
}

ErrorCatcher::~ErrorCatcher() { rt::ErrorBlock(rt::Value()); }

void PracticeCopyTest::SetUp() {
  dir_ = scratch_.Copy(DemoTree() + "/root/data/doc01 ", "doc01");
  platform::SetLockPatience(std::chrono::milliseconds(200));
}

void PracticeCopyTest::TearDown() { platform::SetLockPatience(platform::kLockPatience); }

}  // namespace tables::dbftest
