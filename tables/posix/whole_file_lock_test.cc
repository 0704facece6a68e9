// A whole-file lock (lockf) another process holds on a table's file is
// waited for at most the lock patience, then raised as a lock error that may
// be retried, never a hang; the same for the profile functions on a locked INI
// file. The other refusals of an open: tables/open_refusal_test.cc.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/file.h"
#include "platform/profile.h"
#include "tables/dbserver.h"
#include "tables/testing/table_fixture.h"

namespace tables {
namespace {

class WholeFileLockTest : public dbftest::PracticeCopyTest {};

TEST_F(WholeFileLockTest, IsWaitedForBoundedly) {
  const std::string ini = dir_ + "/Velmora.ini";
  for (const char* name : {"tarif.dbf", "tarif.cdx", "tarif.fpt", "Velmora.ini"}) {
    SCOPED_TRACE(name);
    errors_.clear();
    // Another program locks the whole file (a process of its own: POSIX
    // record locks belong to the process and go with any close of the file).
    int ready[2], done[2];
    ASSERT_EQ(0, pipe(ready));
    ASSERT_EQ(0, pipe(done));
    const std::string native = dir_ + "/" + name;
    pid_t pid = fork();
    if (pid == 0) {
      close(done[1]);
      int fd = open(native.c_str(), O_RDWR);
      char c = fd >= 0 && lockf(fd, F_LOCK, 0) == 0 ? 'y' : 'n';
      if (write(ready[1], &c, 1) != 1 || read(done[0], &c, 1) < 0) _exit(1);
      _exit(0);
    }
    ASSERT_GT(pid, 0);
    char c = 0;
    ASSERT_EQ(1, read(ready[0], &c, 1));
    ASSERT_EQ('y', c);
    if (std::string(name) == "Velmora.ini") {
      char buffer[32] = {};
      EXPECT_EQ(4u, platform::GetPrivateProfileStringA("Nowhere", "Key", "dflt", buffer,
                                                       sizeof buffer, ini.c_str()));
      EXPECT_EQ(0, platform::WritePrivateProfileStringA("Tarifs", "Fait2017", "1", ini.c_str()));
    } else {
      EXPECT_EQ(nullptr, DBServer::Open(dir_ + "/tarif.dbf"));
      ASSERT_EQ(1u, errors_.errors().size());
      const auto& e = errors_.errors()[0];
      EXPECT_EQ(21u, e.gen_code);
      EXPECT_EQ(platform::kErrorLockViolation, e.os_code);
      EXPECT_TRUE(e.can_retry);
    }
    close(done[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    for (int p : {ready[0], ready[1], done[0]}) close(p);
    auto s = DBServer::Open(dir_ + "/tarif.dbf");
    ASSERT_NE(nullptr, s);
  }
}

}  // namespace
}  // namespace tables
