// Two processes on one table (fork): record locks conflict between them,
// appends serialise under the header lock, and afterwards every record of
// both is there and every tag holds it.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "runtime/convert.h"
#include "runtime/settings.h"
#include "tables/dbserver.h"
#include "tables/testing/table_fixture.h"

namespace tables {
namespace {

using dbftest::ErrorCatcher;
using dbftest::FixtureRoot;
using dbftest::ScratchDir;

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
  std::string dir = scratch.Copy(FixtureRoot() + "/demo-tree/root/data/doc02 ", "doc02");
  std::string path = dir + "/ind_100.dbf";
  auto s = DBServer::Open(path);
  ASSERT_NE(nullptr, s);
  ASSERT_TRUE(s->GoTo(1));
  ASSERT_TRUE(s->RLock());

  int to_child[2], to_parent[2];
  ASSERT_EQ(0, pipe(to_child));
  ASSERT_EQ(0, pipe(to_parent));
  // The other program: this test binary again, started fresh (a plain fork
  // would share the parent's open files and so its locks).
  pid_t child = fork();
  if (child == 0) {
    dup2(to_child[0], 3);
    dup2(to_parent[1], 4);
    setenv("TABLES_CHILD_TABLE", path.c_str(), 1);
    execl("/proc/self/exe", "tables_tests", "--gtest_filter=DBServerProcessChild.*",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  char c = 0;
  ASSERT_EQ(1, read(to_parent[0], &c, 1));
  ASSERT_TRUE(s->Unlock());
  ASSERT_EQ(1, write(to_child[1], "g", 1));
  EXPECT_TRUE(AppendMany(*s, 'A'));
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  s->Close();

  auto check = DBServer::Open(path);
  ASSERT_NE(nullptr, check);
  EXPECT_EQ(39u + 2 * kPerProcess, check->LastRec());
  rt::SetDeleted(false);
  std::set<uint32_t> seen;
  std::string last;
  for (check->GoTop(); !check->Eof(); check->Skip()) {
    std::string key = check->FieldGet("INDEX_TYP").GetString() +
                      rt::DToS(check->FieldGet("INDEX_DAT").GetDate());
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
  const char* path = getenv("TABLES_CHILD_TABLE");
  if (path == nullptr) GTEST_SKIP() << "runs as the other program of DBServerProcessTest";
  ErrorCatcher errors;
  char c = 0;
  int code = 0;
  auto t = DBServer::Open(path);
  if (!t) _exit(10);
  t->GoTo(1);
  if (t->RLock()) code |= 1;  // held by the parent
  t->GoTo(2);
  if (!t->RLock()) code |= 2;  // free
  if (t->FLock()) code |= 4;   // the parent holds a record
  t->Unlock();
  if (write(4, "r", 1) != 1) _exit(11);
  if (read(3, &c, 1) != 1) _exit(12);  // start appending together
  if (!AppendMany(*t, 'B')) code |= 8;
  for (const auto& e : errors.errors()) {
    fprintf(stderr, "child error %u/%u %s: %s\n", e.gen_code, e.os_code, e.operation.c_str(),
            e.description.c_str());
  }
  t->Close();
  _exit(code);
}

}  // namespace
}  // namespace tables
