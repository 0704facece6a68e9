// The tarif2017 console runner as a user runs it: lines on stdout in UTF-8,
// exit status 0 after the update, the error's general code after quitting.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "apps/program/testing/install.h"
#include "apps/program/testing/process.h"
#include "tariff/outcome.h"
#include "testing/scratch_dir.h"

namespace tariff {
namespace {

namespace fs = std::filesystem;
using testing::ProgramFile;

std::string Runner() { return ProgramFile("tarif2017"); }

struct Outcome {
  std::string out;
  int status = -1;
};

Outcome RunRunner(const std::vector<std::string>& args) {
  testing::ProgramRun run = testing::RunProgram(Runner(), args);
  // A Windows console program writes CR LF in text mode; the lines are the same.
  std::string out;
  for (size_t i = 0; i < run.out.size(); ++i) {
    if (run.out[i] == '\r' && i + 1 < run.out.size() && run.out[i + 1] == '\n') continue;
    out.push_back(run.out[i]);
  }
  return {out, run.status};
}

TEST(Runner, PrintsTheLinesInUtf8AndRunsTwiceSafely) {
  if (!fs::exists(Runner())) GTEST_SKIP() << "runner not built";
  testing::Installation inst("demo-tree");
  Outcome first = RunRunner({"--program-dir", inst.prog()});
  EXPECT_EQ(first.status, 0) << first.out << testing::ReadFile(inst.prog() + "XQERROR.LOG");
  EXPECT_NE(first.out.find("Ajout Lettres-cl\xc3\xa9s 2017 pour le cabinet 01  r\xc3\xa9ussi\n"),
            std::string::npos)
      << first.out;
  EXPECT_NE(first.out.find("Fin modification tarifs 2017\n"), std::string::npos);
  Outcome second = RunRunner({"--program-dir", inst.prog()});
  EXPECT_EQ(second.status, 0) << testing::ReadFile(inst.prog() + "XQERROR.LOG");
  EXPECT_NE(second.out.find("Modifcation Index 2017 pour le cabinet 01  d\xc3\xa9j\xc3\xa0 faite"),
            std::string::npos)
      << second.out;
}

TEST(Runner, QuittingOnAnErrorExitsWithTheGeneralCode) {
  if (!fs::exists(Runner())) GTEST_SKIP() << "runner not built";
  testing::Installation inst("demo-tree");
  fs::remove(inst.data("doc01 /tarif.dbf"));
  Outcome o = RunRunner({"--program-dir", inst.prog(), "--on-error", "quit"});
  EXPECT_EQ(o.status, 21);  // open error
  EXPECT_EQ(o.out.find("Fin modification"), std::string::npos);
  EXPECT_NE(testing::ReadFile(inst.prog() + "XQERROR.LOG").find("Open error"), std::string::npos);
  Outcome d = RunRunner({"--program-dir", inst.prog(), "--on-error", "default"});
  EXPECT_EQ(d.status, kExitPracticeFailed);  // a failed step is no success
  EXPECT_NE(d.out.find("rat\xc3\xa9 \n"), std::string::npos) << d.out;
  // Nor is a practice list that cannot be opened, though the run reaches its end.
  fs::remove(inst.data("comm/doc.dbf"));
  Outcome no_list = RunRunner({"--program-dir", inst.prog(), "--on-error", "default"});
  EXPECT_EQ(no_list.status, kExitPracticeFailed);
  EXPECT_NE(no_list.out.find("Fin modification"), std::string::npos) << no_list.out;
}

TEST(Runner, DriveMappingReachesTheDataRoot) {
  if (!fs::exists(Runner())) GTEST_SKIP() << "runner not built";
#ifdef _WIN32
  GTEST_SKIP() << "drive letters are the system's own on Windows";
#endif
  testing::Installation inst("demo-tree");
  inst.WriteFile(inst.prog() + "Velmora.ini", "[Path]\r\nCommun=X:\\\r\n");
  Outcome o = RunRunner({"--program-dir", inst.prog(), "--map", "X:=" + inst.root()});
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("Data Path : X:\\\n"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("cabinet 01  r\xc3\xa9ussi"), std::string::npos) << o.out;
}

TEST(Runner, DemoInstallationRunsTwice) {
  std::string make_demo = ProgramFile("make-demo");
  if (!fs::exists(make_demo)) GTEST_SKIP() << "make-demo is a Linux tool";
  testsupport::ScratchDir scratch("demo");
  ASSERT_FALSE(scratch.path().empty());
  fs::path dir = fs::path(scratch.path()) / "tree";
  ASSERT_EQ(testing::RunProgram(make_demo, {dir.string()}).status, 0);
  std::vector<std::string> prog = {"--program-dir", (dir / "prog").string()};
  Outcome first = RunRunner(prog);
  EXPECT_EQ(first.status, 0);
  for (const char* line : {"Ajout coefficients 2017 pour le cabinet 01  r\xc3\xa9ussi\n",
                           "Modifcation Index 2017 pour le cabinet 02  d\xc3\xa9j\xc3\xa0 faite\n",
                           "Ajout Lettres-cl\xc3\xa9s 2017 pour le cabinet 03  r\xc3\xa9ussi\n",
                           "Modifcation Index 2017 pour le cabinet 04  Modifi\xc3\xa9\n"}) {
    EXPECT_NE(first.out.find(line), std::string::npos) << line << "\n" << first.out;
  }
  EXPECT_EQ(first.out.find("cabinet 09"), std::string::npos);
  Outcome second = RunRunner(prog);
  EXPECT_EQ(second.out.find("Ajout"), std::string::npos) << second.out;
  EXPECT_EQ(second.out.find("Modifi\xc3\xa9\n"), std::string::npos) << second.out;
}

#if !defined(_WIN32)
// `tarif2017 … | head -1`: the reader goes away after the first line; the
// update still runs to its end, writes every marker, and exits 0. (A broken
// pipe is a POSIX signal; Windows has none.)
TEST(Runner, VanishedStandardOutputDoesNotStopTheUpdate) {
  if (!fs::exists(Runner())) GTEST_SKIP() << "runner not built";
  testing::Installation inst("demo-tree");
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);  // nobody will ever read
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    std::freopen("/dev/null", "w", stderr);
    std::string prog = "--program-dir=" + inst.prog();
    execl(Runner().c_str(), "tarif2017", prog.c_str(), nullptr);
    _exit(127);
  }
  close(fds[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  for (const char* practice : {"doc01 ", "doc03 "}) {
    EXPECT_NE(testing::ReadFile(inst.data(std::string(practice) + "/Velmora.ini")).find("index=1"),
              std::string::npos)
        << practice;
  }
}
#endif  // !_WIN32

TEST(Runner, NoDataRootIsItsOwnExitCode) {
  if (!fs::exists(Runner())) GTEST_SKIP() << "runner not built";
  testing::Installation inst("demo-tree");
  inst.WriteFile(inst.prog() + "Velmora.ini", "[Path]\r\n");
  Outcome o = RunRunner({"--program-dir", inst.prog()});
  EXPECT_EQ(o.status, kExitConfigNotFound);
  EXPECT_NE(o.out.find("IniFile non trouv"), std::string::npos) << o.out;
}

TEST(Runner, BadOptionsAreRefused) {
  if (!fs::exists(Runner())) GTEST_SKIP() << "runner not built";
  EXPECT_EQ(RunRunner({"--on-error", "maybe"}).status, kExitUsage);
#ifndef _WIN32
  // A Linux prompt needs a terminal; on Windows "ask" shows the error box.
  EXPECT_EQ(RunRunner({"--on-error", "ask"}).status, kExitUsage);
#endif
  EXPECT_EQ(RunRunner({"--map", "nonsense"}).status, kExitUsage);
}

}  // namespace
}  // namespace tariff
