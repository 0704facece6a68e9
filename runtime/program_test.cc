#include "runtime/program.h"

#include <gtest/gtest.h>

#include "platform/file.h"

namespace rt {
namespace {

class ProgramTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetWorkDir("");
    SetExecName("");
  }
};

TEST_F(ProgramTest, ExecNameIsAWindowsPathOfTheTestProgram) {
  std::string exe = ExecName();
  EXPECT_NE(exe.find("runtime_tests"), std::string::npos) << exe;
  ASSERT_GE(exe.size(), 3u);
  EXPECT_EQ(exe[1], ':') << exe;
  EXPECT_EQ(exe.find('/'), std::string::npos) << exe;
  EXPECT_TRUE(platform::FileExists(exe)) << exe;
}

TEST_F(ProgramTest, WorkDirIsTheExecutablesDirectoryWithASeparator) {
  std::string dir = WorkDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '\\');
  EXPECT_EQ(ExecName().compare(0, dir.size(), dir), 0) << dir << " vs " << ExecName();
  EXPECT_EQ(ExecName().find('\\', dir.size()), std::string::npos);
  EXPECT_TRUE(platform::DirectoryExists(dir)) << dir;
}

TEST_F(ProgramTest, WorkDirCanBeOverriddenAndRestored) {
  std::string original = WorkDir();
  SetWorkDir("C:\\Velmora");
  EXPECT_EQ(WorkDir(), "C:\\Velmora\\");
  SetWorkDir("C:\\Velmora\\");
  EXPECT_EQ(WorkDir(), "C:\\Velmora\\");
  SetWorkDir("/srv/velmora");
  EXPECT_EQ(WorkDir(), "/srv/velmora/");
  SetWorkDir("");
  EXPECT_EQ(WorkDir(), original);
}

TEST_F(ProgramTest, WorkDirFollowsAnExecNameSetByTheRunner) {
  SetExecName("C:\\Prog\\Tarif2017.exe");
  EXPECT_EQ(ExecName(), "C:\\Prog\\Tarif2017.exe");
  EXPECT_EQ(WorkDir(), "C:\\Prog\\");
  SetWorkDir("D:\\Data");
  EXPECT_EQ(WorkDir(), "D:\\Data\\");  // an explicit program directory wins
}

TEST_F(ProgramTest, VersionNamesTheRuntime) {
  EXPECT_FALSE(Version().empty());
  EXPECT_EQ(Version(), Version());
}

}  // namespace
}  // namespace rt
