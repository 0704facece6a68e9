// A killed or doubled run never loses or duplicates a record: the update
// dies at every write of a run (a forked child with a fault plan) or at random
// moments (SIGKILL), or runs twice at once; what is left on disk after the
// next run always equals one uninterrupted run. POSIX only: children are
// forked and killed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "apps/program/testing/install.h"
#include "apps/program/testing/posix/update_runs.h"
#include "platform/file_faults.h"
#include "runtime/error_box.h"
#include "runtime/program.h"
#include "runtime/settings.h"
#include "shell/shell.h"
#include "tables/dbserver.h"
#include "tariff/outcome.h"

namespace tariff {
namespace {

namespace fs = std::filesystem;
using testing::BinDir;
using testing::DiskState;
using testing::Finish;
using testing::FirstDifference;
using testing::Installation;
using testing::Outcome;
using testing::RunRunner;
using testing::StartRunner;
using testing::UpdateSafety;

// Presses OK as the dialog's loop starts, then Fermer once the update returned.
void RunUpdateHeadless(const std::string& prog) {
  rt::SetWorkDir(prog);
  rt::SetErrorBoxFrontEnd(std::make_shared<rt::ScriptedErrorBox>(1));
  shell::RunUnattended();
}

// The whole update in a forked child that dies at write exit_at_write (0:
// never). Returns the child's exit status (-1 when it did not exit) and, when
// asked, the number of writes it made.
int RunInChild(const Installation& inst, uint64_t exit_at_write, uint64_t* writes = nullptr) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    platform::FaultPlan plan;
    plan.exit_at_write = exit_at_write;
    platform::InstallFaultPlan(&plan);
    RunUpdateHeadless(inst.prog());
    uint64_t n = plan.writes;
    ssize_t ignored = write(fds[1], &n, sizeof n);
    (void)ignored;
    _exit(ExitCodeOf(LastRun()));
  }
  close(fds[1]);
  uint64_t n = 0;
  ssize_t got = read(fds[0], &n, sizeof n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (writes) *writes = got == sizeof n ? n : 0;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Dies at every write of a first run (the coefficient and key-letter appends,
// the reconcile pass's updates and added record, the marker writes), then runs
// again: the tables, their indexes and the markers equal one uninterrupted run.
// Practice 01 takes both appends and both markers, 02 the reconcile pass (a
// value updated, records added), 03 the key-letter append alone.
TEST_F(UpdateSafety, KilledAtAnyWriteThenRunAgainEqualsOneRun) {
  testing::KillTestScope in_memory;
  Installation reference("demo-tree");
  uint64_t total = 0;
  ASSERT_EQ(RunInChild(reference, 0, &total), kExitOk);
  ASSERT_GT(total, 0u);
  const std::string want = DiskState(reference.root());
  std::vector<std::string> faults;
  for (uint64_t n = 1; n <= total; n += testing::KillStride()) {
    Installation inst("demo-tree");
    int killed = RunInChild(inst, n);
    int again = RunInChild(inst, 0);
    std::string got = DiskState(inst.root());
    std::string index_faults = testing::CheckAllIndexes(inst.dir());
    if (killed != platform::kFaultExitCode || again != kExitOk || got != want ||
        !index_faults.empty()) {
      faults.push_back("write " + std::to_string(n) + ": exit " + std::to_string(killed) +
                       " then " + std::to_string(again) + "\n" + index_faults.substr(0, 2000) +
                       FirstDifference(got, want));
    }
  }
  EXPECT_TRUE(faults.empty()) << faults.size() << " of " << total << " writes, first:\n"
                              << faults.front();
}

// The runner killed by SIGKILL at random moments of a run over many practices
// (fixed seed), then run again to the end: the result equals one run.
TEST_F(UpdateSafety, SigkillAtRandomMomentsThenRunAgainEqualsOneRun) {
  const fs::path base = fs::temp_directory_path() / ("tarif-kill-" + std::to_string(getpid()));
  fs::remove_all(base);
  // The demo tree with 24 more practices like 01 (never updated), so that a
  // run lasts long enough to be killed in every phase.
  const fs::path pristine = base / "pristine";
  fs::create_directories(base);
  fs::copy(fs::path(PROJECT_TESTDATA_DIR) / "tariff" / "demo-tree", pristine,
           fs::copy_options::recursive);
  for (auto& e : fs::recursive_directory_iterator(pristine)) {
    fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
  }
  {
    auto doc = tables::DBServer::Open((pristine / "root/data/comm/doc.dbf").string(), false, false);
    ASSERT_TRUE(doc);
    for (int code = 10; code < 34; ++code) {
      ASSERT_TRUE(doc->Append());
      ASSERT_TRUE(doc->FieldPut("CABINET", rt::Value::String(std::to_string(code))));
      fs::copy(pristine / "root/data/doc01 ",
               pristine / "root/data" / ("doc" + std::to_string(code) + " "),
               fs::copy_options::recursive);
    }
    doc->Close();
  }
  // A copy of the installation whose Velmora.ini points at the copy's own root.
  auto copy = [&](const std::string& name) {
    fs::path dir = base / name;
    fs::copy(pristine, dir, fs::copy_options::recursive);
    std::ofstream(dir / "prog" / "Velmora.ini", std::ios::binary | std::ios::trunc)
        << "[Path]\r\nCommun=" << (dir / "root").string() << "/\r\n";
    return dir;
  };
  auto run = [](const fs::path& dir) {
    return RunRunner("--program-dir '" + (dir / "prog").string() + "'");
  };

  const fs::path reference = copy("reference");
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(run(reference).status, kExitOk);
  const auto span = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - started)
                        .count();
  const std::string want = DiskState((reference / "root").string());

  std::mt19937 random(2017);
  std::uniform_int_distribution<int64_t> moment(0, span);
  for (int trial = 0; trial < 6; ++trial) {
    const fs::path dir = copy("trial" + std::to_string(trial));
    const int64_t at = moment(random);
    pid_t pid = fork();
    if (pid == 0) {
      std::string prog = "--program-dir=" + (dir / "prog").string();
      std::freopen("/dev/null", "w", stdout);
      execl((BinDir() / "tarif2017").c_str(), "tarif2017", prog.c_str(), nullptr);
      _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(at));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome again = run(dir);
    EXPECT_EQ(again.status, kExitOk) << "killed after " << at << " ms\n" << again.out;
    EXPECT_EQ(FirstDifference(DiskState((dir / "root").string()), want), "")
        << "killed after " << at << " ms";
    EXPECT_EQ(testing::CheckAllIndexes(dir.string()), "") << "killed after " << at << " ms";
  }
  fs::remove_all(base);
}

// Two runs started at once on one installation take turns practice by
// practice: every append happens once, and the tables equal one run.
TEST_F(UpdateSafety, TwoRunsAtOnceEqualOneRun) {
  Installation reference("demo-tree");
  ASSERT_EQ(RunRunner("--program-dir '" + reference.prog() + "'").status, kExitOk);
  const std::string want = DiskState(reference.root());

  Installation inst("demo-tree");
  FILE* a = StartRunner("--program-dir '" + inst.prog() + "'");
  FILE* b = StartRunner("--program-dir '" + inst.prog() + "'");
  Outcome first = Finish(a);
  Outcome second = Finish(b);
  EXPECT_EQ(first.status, kExitOk) << first.out;
  EXPECT_EQ(second.status, kExitOk) << second.out;
  const std::string both = first.out + second.out;
  EXPECT_EQ(Count(both, "r\xc3\xa9ussi\n"), 3u) << both;  // 01 twice, 03 once
  EXPECT_EQ(FirstDifference(DiskState(inst.root()), want), "");
  EXPECT_EQ(testing::CheckAllIndexes(inst.dir()), "");
}

}  // namespace
}  // namespace tariff
