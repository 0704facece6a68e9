// Two programs on one table (this test binary started a second time): record
// locks conflict between them, appends serialise under the header lock, and
// afterwards every record of both is there and every tag holds it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "runtime/convert.h"
#include "runtime/settings.h"
#include "tables/dbserver.h"
#include "tables/testing/other_process.h"
#include "tables/testing/table_fixture.h"

namespace tables {
namespace {

using dbftest::AwaitSignal;
using dbftest::DemoTree;
using dbftest::ErrorCatcher;
using dbftest::OtherProcess;
using dbftest::ScratchDir;
using dbftest::Signal;

constexpr int kPerProcess = 150;

// Appends kPerProcess records with codes prefix + number; false on a failure.
bool AppendMany(DBServer& s, char prefix) {
  for (int i = 0; i < kPerProcess; ++i) {
    if (!s.Append()) return false;
    std::string code = std::string(1, prefix) + std::to_string(i);
    if (!s.FieldPut("INDEX_TYP", rt::Value::String(code))) return false;
    if (!s.FieldPut("INDEX_DAT", rt::Value::FromDate(rt::Date::FromYmd(2017, 1, 1 + i % 28)))) {
      return false;
    }
    if (!s.FieldPut("INDEX_100", rt::Value::Long(i))) return false;
  }
  return s.Unlock();
}

TEST(DBServerProcessTest, LocksConflictAndAppendsSerialise) {
  ErrorCatcher errors;
  ScratchDir scratch;
  std::string dir = scratch.Copy(DemoTree() + "/root/data/doc02 ", "doc02");
  std::string path = dir + "/ind_100.dbf";
  auto s = DBServer::Open(path);
  ASSERT_NE(nullptr, s);
  ASSERT_TRUE(s->GoTo(1));
  ASSERT_TRUE(s->RLock());

  OtherProcess child;
  ASSERT_TRUE(child.Start("DBServerProcessChild.*", "TABLES_CHILD_TABLE", path));
  ASSERT_TRUE(AwaitSignal(dir, "ready"));  // the child has tried our lock
  ASSERT_TRUE(s->Unlock());
  ASSERT_TRUE(Signal(dir, "go"));
  EXPECT_TRUE(AppendMany(*s, 'A'));
  EXPECT_EQ(0, child.Wait());
  s->Close();

  auto check = DBServer::Open(path);
  ASSERT_NE(nullptr, check);
  EXPECT_EQ(39u + 2 * kPerProcess, check->LastRec());
  rt::SetDeleted(false);
  std::set<uint32_t> seen;
  std::string last;
  for (check->GoTop(); !check->Eof(); check->Skip()) {
    std::string key =
        check->FieldGet("INDEX_TYP").GetString() + rt::DToS(check->FieldGet("INDEX_DAT").GetDate());
    EXPECT_LE(last, key);
    last = key;
    seen.insert(check->RecNo());
  }
  EXPECT_EQ(39u + 2 * kPerProcess, seen.size());
  for (char prefix : {'A', 'B'}) {
    for (int i = 0; i < kPerProcess; ++i) {
      std::string code = std::string(1, prefix) + std::to_string(i);
      code.resize(4, ' ');
      ASSERT_TRUE(check->Seek(rt::Value::String(code))) << code;
      EXPECT_EQ(i, check->FieldGet("INDEX_100").GetLong());
    }
  }
  EXPECT_TRUE(errors.errors().empty());
}

// Runs only as the child of the test above.
TEST(DBServerProcessChild, Run) {
  const char* path = std::getenv("TABLES_CHILD_TABLE");
  if (path == nullptr || *path == '\0')
    GTEST_SKIP() << "runs as the other program of DBServerProcessTest";
  ErrorCatcher errors;
  std::string dir = std::filesystem::path(path).parent_path().string();
  int code = 0;
  auto t = DBServer::Open(path);
  if (!t) std::_Exit(10);
  t->GoTo(1);
  if (t->RLock()) code |= 1;  // held by the parent
  t->GoTo(2);
  if (!t->RLock()) code |= 2;  // free
  if (t->FLock()) code |= 4;   // the parent holds a record
  t->Unlock();
  if (!Signal(dir, "ready")) std::_Exit(11);
  if (!AwaitSignal(dir, "go")) std::_Exit(12);  // start appending together
  if (!AppendMany(*t, 'B')) code |= 8;
  for (const auto& e : errors.errors()) {
    fprintf(stderr, "child error %u/%u %s: %s\n", e.gen_code, e.os_code, e.operation.c_str(),
            e.description.c_str());
  }
  t->Close();
  std::_Exit(code);
}

}  // namespace
}  // namespace tables
