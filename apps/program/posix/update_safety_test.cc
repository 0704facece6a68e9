// A killed, doubled or refused run never loses or duplicates a record: the
// update dies at every write of a run (a forked child with a fault plan) or
// at random moments (SIGKILL), runs twice at once, or finds a practice it
// must not write; what is left on disk after the next run always equals one
// uninterrupted run. POSIX only: children are forked and killed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "apps/make_demo/create_table.h"
#include "apps/program/program.h"
#include "platform/file.h"
#include "platform/file_faults.h"
#include "platform/path.h"
#include "runtime/error_box.h"
#include "runtime/object.h"
#include "runtime/program.h"
#include "runtime/settings.h"
#include "shell/shell.h"
#include "tables/dbserver.h"
#include "tariff/outcome.h"
#include "tariff/tariff.h"
#include "apps/program/testing/install.h"

namespace tariff {
namespace {

namespace fs = std::filesystem;
using testing::Installation;
using testing::ReadFile;

fs::path BinDir() { return fs::read_symlink("/proc/self/exe").parent_path(); }

// Every table below root (each record: deletion flag and fields) and every
// practice Velmora.ini, as one text, so two states compare with a readable diff.
std::string DiskState(const std::string& root) {
  std::vector<fs::path> files;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  std::string out;
  for (const fs::path& f : files) {
    std::string name = fs::relative(f, root).string();
    if (f.extension() == ".dbf") {
      out += "table " + name + "\n";
      std::string path;
      EXPECT_TRUE(platform::PathFromNative(f.string(), &path)) << f;
      for (const testing::Row& row : testing::ReadTable(path)) {
        out += row.deleted ? "  *" : "   ";
        for (const auto& [field, value] : row.fields) out += " " + field + "=" + value;
        out += "\n";
      }
    } else if (f.filename() == "Velmora.ini") {
      out += "ini " + name + "\n" + ReadFile(f.string()) + "\n";
    }
  }
  return out;
}

// "" when a == b, else the first line where they part, from both.
std::string FirstDifference(const std::string& a, const std::string& b) {
  if (a == b) return "";
  size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  size_t begin = a.rfind('\n', at == 0 ? 0 : at - 1);
  begin = begin == std::string::npos ? 0 : begin + 1;
  auto line = [begin](const std::string& s) {
    size_t end = s.find('\n', begin);
    return s.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
  };
  size_t table = a.rfind("table ", begin);
  return (table == std::string::npos ? "" : a.substr(table, a.find('\n', table) - table)) +
         "\n  got:  " + line(a) + "\n  want: " + line(b);
}

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

struct Outcome {
  std::string out;
  int status = -1;
};

FILE* StartRunner(const std::string& args) {
  std::string cmd = (BinDir() / "tarif2017").string() + " " + args + " 2>/dev/null </dev/null";
  return popen(cmd.c_str(), "r");
}

Outcome Finish(FILE* p) {
  Outcome o;
  if (!p) return o;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) o.out.append(buf.data(), n);
  int st = pclose(p);
  o.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return o;
}

Outcome RunRunner(const std::string& args) { return Finish(StartRunner(args)); }

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class UpdateSafety : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string failure;
    ASSERT_TRUE(rt::StartRuntime(app::Tarif2017Program(), &failure)) << failure;
  }
  void SetUp() override {
    if (!fs::exists(BinDir() / "tarif2017")) GTEST_SKIP() << "runner not built";
    rt::SetBeep(false);
  }
  void TearDown() override {
    rt::SetErrorBoxFrontEnd(nullptr);
    rt::SetWorkDir("");
  }
};

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
                        std::chrono::steady_clock::now() - started).count();
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

// Practice 01's ind_100 made anew with these fields and one record (code C,
// 1 January 2017, the value given), both markers set: the reconcile pass is due.
void RebuildPracticeIndex(const Installation& inst, const std::vector<demo::FieldSpec>& fields,
                          const rt::Value& value) {
  std::string path = inst.data("doc01 /ind_100.dbf");
  fs::remove(path);
  fs::remove(inst.data("doc01 /ind_100.cdx"));
  std::string error;
  ASSERT_TRUE(demo::CreateTable(path, fields, {{"TYPDAT", "INDEX_TYP+DTOS(INDEX_DAT)"}}, &error))
      << error;
  auto db = tables::DBServer::Open(path, true, false);
  ASSERT_TRUE(db);
  EXPECT_TRUE(db->Append());
  EXPECT_TRUE(db->FieldPut("INDEX_TYP", rt::Value::String("C")));
  EXPECT_TRUE(db->FieldPut("INDEX_DAT", rt::Value::FromDate(rt::Date::FromYmd(2017, 1, 1))));
  EXPECT_TRUE(db->FieldPut("INDEX_100", value));
  db->Close();
  inst.WriteFile(inst.data("doc01 /Velmora.ini"), "[2017]\r\ntarif=1\r\nindex=1\r\n");
}

// Practices the update must not write: nothing of the practice changes, the
// step's line ends in " raté ", the run exits with 71, the error is logged, and
// a second run changes nothing either.
TEST_F(UpdateSafety, PracticeThatCannotBeWrittenIsLeftAlone) {
  struct Case {
    const char* name;
    std::function<std::shared_ptr<void>(const Installation&)> setup;  // keeps what it holds
    const char* line;      // UTF-8, as the runner prints it
    const char* logged;    // in XQERROR.LOG ("" when no error box)
    bool needs_non_root;
  };
  const std::string doc01 = "root/data/doc01 ";
  const Case cases[] = {
      {"read-only marker file",
       [](const Installation& i) {
         chmod(i.data("doc01 /Velmora.ini").c_str(), 0444);
         return nullptr;
       },
       "Ajout coefficients 2017 pour le cabinet 01  rat\xc3\xa9 \n", "Velmora.ini", false},
      {"directory in place of the marker file",
       [](const Installation& i) {
         fs::remove(i.data("doc01 /Velmora.ini"));
         fs::create_directory(i.data("doc01 /Velmora.ini"));
         return nullptr;
       },
       "Ajout Lettres-cl\xc3\xa9s 2017 pour le cabinet 01  rat\xc3\xa9 \n", "Velmora.ini", false},
      {"practice directory not writable",
       [](const Installation& i) {
         chmod(i.data("doc01 ").c_str(), 0555);
         return nullptr;
       },
       "Ajout coefficients 2017 pour le cabinet 01  rat\xc3\xa9 \n", "doc01", true},
      {"another run holds the practice",
       [](const Installation& i) -> std::shared_ptr<void> {
         std::unique_ptr<platform::File> f;
         if (!platform::OpenFile(i.data("doc01 /tarif2017.lck"), platform::Access::kReadWrite,
                                 platform::Share::kDenyNone, platform::Disposition::kOpenAlways,
                                 0x80, &f)
                  .ok() ||
             !f->Lock(0, 1, platform::LockKind::kExclusive, false).ok()) {
           ADD_FAILURE() << "cannot take the update lock";
         }
         return std::shared_ptr<platform::File>(f.release());
       },
       "Ajout coefficients 2017 pour le cabinet 01  rat\xc3\xa9 : cabinet en cours de mise "
       "\xc3\xa0 jour sur un autre poste\n",
       "", false},
      {"key-letter value of the wrong kind",
       [](const Installation& i) {
         RebuildPracticeIndex(i, {{"INDEX_TYP", 'C', 4}, {"INDEX_DAT", 'D', 8},
                                  {"INDEX_100", 'C', 10}},
                              rt::Value::String("23.50"));
         return nullptr;
       },
       "Modifcation Index 2017 pour le cabinet 01  rat\xc3\xa9 \n", "INDEX_100", false},
      {"key-letter values too wide for the practice's field",
       [](const Installation& i) {
         RebuildPracticeIndex(i, {{"INDEX_TYP", 'C', 4}, {"INDEX_DAT", 'D', 8},
                                  {"INDEX_100", 'N', 4, 2}},
                              rt::Value::Float(1.5, 2));
         return nullptr;
       },
       "Modifcation Index 2017 pour le cabinet 01  rat\xc3\xa9 \n", "does not fit", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_non_root && geteuid() == 0) continue;  // root writes everywhere
    Installation inst("demo-tree");
    std::shared_ptr<void> held = c.setup(inst);
    const std::string before = DiskState(inst.dir() + "/" + doc01);
    const std::string args =
        "--program-dir '" + inst.prog() + "' --on-error default --lock-wait 0.2";
    for (int run = 1; run <= 2; ++run) {
      Outcome o = RunRunner(args);
      EXPECT_EQ(o.status, kExitPracticeFailed) << "run " << run << "\n" << o.out;
      EXPECT_NE(o.out.find(c.line), std::string::npos) << "run " << run << "\n" << o.out;
      EXPECT_EQ(o.out.find("cabinet 01  r\xc3\xa9ussi"), std::string::npos) << o.out;
      EXPECT_NE(o.out.find("Fin modification tarifs 2017"), std::string::npos) << o.out;
      EXPECT_EQ(FirstDifference(DiskState(inst.dir() + "/" + doc01), before), "") << "run " << run;
    }
    const std::string log = ReadFile(inst.prog() + "XQERROR.LOG");
    if (*c.logged) {
      EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    } else {
      EXPECT_EQ(log, "");
    }
    chmod(inst.data("doc01 ").c_str(), 0755);
  }
}

// A program directory and a data root holding "é": the console runner takes
// the UTF-8 argument, Velmora.ini holds the root in Windows-1252, the tables
// are updated, the markers written (a second run appends nothing), and
// make-demo and tabletool work on such paths too.
TEST_F(UpdateSafety, PathsWithAccentsWork) {
  const fs::path base =
      fs::temp_directory_path() / ("tarif-\xc3\xa9t\xc3\xa9-" + std::to_string(getpid()));
  fs::remove_all(base);
  fs::create_directories(base);
  const fs::path dir = base / "Cabinet m\xc3\xa9" "dical";
  fs::copy(fs::path(PROJECT_TESTDATA_DIR) / "tariff" / "demo-tree", dir,
           fs::copy_options::recursive);
  std::string root_1252;
  for (size_t i = 0; i < (dir / "root").string().size(); ++i) {
    unsigned char c = static_cast<unsigned char>((dir / "root").string()[i]);
    if (c == 0xC3) {  // the é of the names above, the only non-ASCII letter here
      root_1252.push_back(static_cast<char>(0xE9));
      ++i;
    } else {
      root_1252.push_back(static_cast<char>(c));
    }
  }
  std::ofstream(dir / "prog" / "Velmora.ini", std::ios::binary | std::ios::trunc)
      << "[Path]\r\nCommun=" << root_1252 << "/\r\n";
  const std::string args = "--program-dir '" + (dir / "prog").string() + "'";
  Outcome first = RunRunner(args);
  EXPECT_EQ(first.status, kExitOk) << first.out;
  EXPECT_NE(first.out.find("Data Path : " + (dir / "root").string() + "/\n"), std::string::npos)
      << first.out;
  EXPECT_NE(ReadFile((dir / "root/data/doc01 /Velmora.ini").string()).find("index=1"),
            std::string::npos);
  const std::string after_first = DiskState((dir / "root").string());
  Outcome second = RunRunner(args);
  EXPECT_EQ(second.status, kExitOk) << second.out;
  EXPECT_EQ(second.out.find("Ajout"), std::string::npos) << second.out;
  EXPECT_EQ(FirstDifference(DiskState((dir / "root").string()), after_first), "");

  const fs::path make_demo = BinDir() / "make-demo";
  const fs::path tabletool = BinDir() / "tabletool";
  if (fs::exists(make_demo) && fs::exists(tabletool)) {
    const fs::path demo = base / "d\xc3\xa9mo";
    const std::string make = "'" + make_demo.string() + "' '" + demo.string() + "' >/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
    Outcome d = RunRunner("--program-dir '" + (demo / "prog").string() + "'");
    EXPECT_EQ(d.status, kExitOk) << d.out;
    EXPECT_EQ(std::system(("'" + tabletool.string() + "' check '" +
                           (demo / "root/data/doc01/tarif.dbf").string() + "' >/dev/null")
                              .c_str()),
              0);
  }
  fs::remove_all(base);
}

}  // namespace
}  // namespace tariff
