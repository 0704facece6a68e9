// The change report and the dry run over copies of the demo installations,
// through the program's own dialog: the report lists exactly what the tables'
// contents say changed, and a dry run posts the real run's lines, reports the
// real run's rows and leaves every byte of the installation as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "apps/program/program.h"
#include "apps/program/testing/install.h"
#include "apps/program/testing/program_fixture.h"
#include "platform/file_faults.h"
#include "runtime/convert.h"
#include "runtime/error_box.h"
#include "runtime/object.h"
#include "runtime/program.h"
#include "runtime/settings.h"
#include "shell/shell.h"
#include "tables/dbserver.h"
#include "tariff/report.h"
#include "tariff/run_options.h"
#include "tariff/tariff.h"

namespace tariff {
namespace {

using testing::Installation;
using testing::ReadFile;
using testing::ReadTable;
using testing::Row;

// The cells of every line of a report (quotes undone), header included.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> lines;
  std::vector<std::string> cells(1);
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        cells.back().push_back('"');
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        cells.back().push_back(c);
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ';') {
      cells.emplace_back();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      lines.push_back(cells);
      cells.assign(1, "");
      ++i;
    } else {
      cells.back().push_back(c);
    }
  }
  EXPECT_TRUE(cells.size() == 1 && cells[0].empty()) << "last line not ended by CR LF";
  return lines;
}

// practice, table, action, recno, field, old, new
using Change = std::tuple<std::string, std::string, std::string, std::string, std::string,
                          std::string, std::string>;

// The rows of a report without the run column, sorted; checks the header and
// that every row carries one run stamp.
std::vector<Change> Changes(const std::string& text, size_t skip_rows = 0) {
  auto lines = ParseCsv(text);
  std::vector<Change> out;
  if (lines.empty()) return out;
  EXPECT_EQ(lines[0], (std::vector<std::string>{"run", "practice", "table", "action", "recno",
                                                "field", "old", "new"}));
  for (size_t i = 1 + skip_rows; i < lines.size(); ++i) {
    const auto& l = lines[i];
    EXPECT_EQ(l.size(), 8u);
    if (l.size() != 8) continue;
    EXPECT_EQ(l[0], lines[1 + skip_rows][0]) << "one run, one stamp";
    EXPECT_EQ(l[0].size(), 19u) << l[0];
    out.emplace_back(l[1], l[2], l[3], l[4], l[5], l[6], l[7]);
  }
  std::sort(out.begin(), out.end());
  return out;
}

size_t RowCount(const std::string& text) {
  auto lines = ParseCsv(text);
  return lines.empty() ? 0 : lines.size() - 1;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  return b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// The practice tables of the demo installation, by directory and code.
struct PracticeDir {
  const char* dir;
  const char* code;
};
constexpr PracticeDir kPractices[] = {{"doc01 ", "01 "}, {"doc02 ", "02 "}, {"doc03 ", "03 "}};
constexpr const char* kTables[] = {"tarif.dbf", "ind_100.dbf"};

using Contents = std::vector<std::vector<Row>>;

Contents ReadAll(const Installation& inst) {
  Contents all;
  for (const PracticeDir& p : kPractices) {
    for (const char* t : kTables) all.push_back(ReadTable(inst.data(std::string(p.dir) + "/" + t)));
  }
  return all;
}

// What the tables say changed between two readings, as report rows.
std::vector<Change> Diff(const Contents& before, const Contents& after) {
  std::vector<Change> out;
  size_t n = 0;
  for (const PracticeDir& p : kPractices) {
    for (const char* t : kTables) {
      const auto& b = before[n];
      const auto& a = after[n];
      ++n;
      const bool tarif = std::string(t) == "tarif.dbf";
      for (size_t i = 0; i < a.size(); ++i) {
        const std::string recno = std::to_string(i + 1);
        if (i >= b.size()) {
          const auto& f = a[i].fields;
          std::string key =
              tarif ? f.at("CODE") + f.at("DATE_EFF") : f.at("INDEX_TYP") + f.at("INDEX_DAT");
          out.emplace_back(p.code, t, "append", recno, "", "", rt::RTrim(key));
          continue;
        }
        for (const auto& [field, value] : a[i].fields) {
          const std::string& old = b[i].fields.at(field);
          if (old != value)
            out.emplace_back(p.code, t, "update", recno, field, Trim(old), Trim(value));
        }
      }
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

class ReportRun : public testing::ProgramFixture {
 protected:
  // One run through the dialog; the lines it posted.
  std::vector<std::string> Run(const Installation& inst, const RunOptions& options = {},
                               bool boxes_expected = false) {
    std::vector<std::string> posted = RunAnswering(inst, options);
    EXPECT_EQ(box_->shown().empty(), !boxes_expected);
    return posted;
  }
  // The same whatever error boxes it showed (each answered with its default).
  std::vector<std::string> RunAnswering(const Installation& inst, const RunOptions& options = {}) {
    SetRunOptions(options);
    rt::SetWorkDir(inst.prog());
    std::vector<std::string> posted;
    SetLineObserver([&](const std::string& line) { posted.push_back(line); });
    bool ended = false;
    shell::RunUnattended([&](const rt::Value&) { ended = true; });
    EXPECT_TRUE(ended);
    SetRunOptions(RunOptions());
    return posted;
  }
};

std::string ReportOf(const Installation& inst) { return ReadFile(inst.prog() + report::kFileName); }

// A changed value and a new record (its code holding ';' and '"') in the
// key-letter reference.
void ChangeReference(const Installation& inst) {
  auto ref = tables::DBServer::Open(inst.prog() + "ind_1002017.dbf", true, false);
  ASSERT_TRUE(ref);
  ASSERT_TRUE(ref->Seek(rt::Value::String("K   20170501")));
  ASSERT_TRUE(ref->RLock());
  ASSERT_TRUE(ref->FieldPut("INDEX_100", rt::Value::Float(9.99, 2)));
  ref->Unlock();
  ASSERT_TRUE(ref->Append());
  ASSERT_TRUE(ref->FieldPut("INDEX_TYP", rt::Value::String("X;\"")));
  ASSERT_TRUE(ref->FieldPut("INDEX_DAT", rt::Value::FromDate(rt::SToD("20170901"))));
  ASSERT_TRUE(ref->FieldPut("INDEX_100", rt::Value::Float(1.23, 2)));
  ref->Unlock();
  ref->Close();
}

TEST(ChangeReportCsv, CellsThatWouldBreakALineAreQuoted) {
  const struct {
    std::vector<std::string> cells;
    std::string line;
  } cases[] = {
      {{"a", "", "b "}, "a;;b \r\n"},
      {{"x;y", "z"}, "\"x;y\";z\r\n"},
      {{"say \"hi\""}, "\"say \"\"hi\"\"\"\r\n"},
      {{"l1\r\nl2", "\n", "\r"}, "\"l1\r\nl2\";\"\n\";\"\r\"\r\n"},
      {{"Lettres-cl\xe9s"}, "Lettres-cl\xe9s\r\n"},
  };
  for (const auto& c : cases) {
    const std::string line = report::CsvLine(c.cells);
    EXPECT_EQ(line, c.line);
    auto parsed = ParseCsv(line);
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0], c.cells);
  }
}

TEST_F(ReportRun, ListsExactlyWhatEachRunChanged) {
  Installation inst("demo-tree");
  const Contents before = ReadAll(inst);
  Run(inst);
  const Contents first = ReadAll(inst);
  const std::string report1 = ReportOf(inst);
  const std::vector<Change> rows1 = Changes(report1);
  ASSERT_FALSE(rows1.empty());
  EXPECT_EQ(rows1, Diff(before, first));

  // Nothing to do: the run adds no row.
  Run(inst);
  EXPECT_EQ(ReportOf(inst), report1);

  ChangeReference(inst);
  Run(inst);
  const std::string report3 = ReportOf(inst);
  ASSERT_EQ(report3.compare(0, report1.size(), report1), 0) << "earlier rows are kept";
  const std::vector<Change> rows3 = Changes(report3, RowCount(report1));
  // Each practice: the value updated, the new record appended.
  EXPECT_EQ(rows3.size(), 2 * std::size(kPractices));
  EXPECT_EQ(rows3, Diff(first, ReadAll(inst)));
}

TEST_F(ReportRun, DryRunPostsTheRealLinesReportsTheRealRowsAndChangesNothing) {
  const struct {
    const char* tree;
    int real_runs_before;   // runs that bring the installation to the state tested
    bool change_reference;  // then the reference changes
    bool with_report;       // the dry run names a report file
  } cases[] = {
      {"demo-tree", 0, false, true},  {"demo-tree-trim", 0, false, true},
      {"demo-tree", 1, true, true},   {"demo-tree", 1, false, true},
      {"demo-tree", 0, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.tree) + " after " + std::to_string(c.real_runs_before) + " run(s)" +
                 (c.change_reference ? ", reference changed" : ""));
    Installation inst(c.tree);
    for (int i = 0; i < c.real_runs_before; ++i) Run(inst);
    if (c.change_reference) ChangeReference(inst);
    const auto prog = inst.Snapshot("prog");
    const auto root = inst.Snapshot("root");

    RunOptions dry;
    dry.dry_run = true;
    if (c.with_report) dry.report_path = inst.dir() + "/dry.csv";
    const std::vector<std::string> dry_lines = Run(inst, dry);
    EXPECT_TRUE(inst.Snapshot("prog") == prog) << "the dry run wrote to the program directory";
    EXPECT_TRUE(inst.Snapshot("root") == root) << "the dry run wrote to the data";

    const std::string report_before = ReportOf(inst);
    const std::vector<std::string> real_lines = Run(inst);
    EXPECT_EQ(dry_lines, real_lines);
    if (c.with_report) {
      EXPECT_EQ(Changes(ReadFile(inst.dir() + "/dry.csv")),
                Changes(ReportOf(inst), RowCount(report_before)));
    }
  }
}

TEST_F(ReportRun, DryRunLeavesAnInterruptedWriteToTheRealRun) {
  // Opening the table would replay its journal: the dry run does not open it,
  // reports why and says the step would not succeed.
  Installation inst("demo-tree");
  inst.WriteFile(inst.data("doc01 /tarif.jnl"), "journal of a writer that died");
  const auto before = inst.Snapshot();
  RunOptions dry;
  dry.dry_run = true;
  const std::vector<std::string> lines = Run(inst, dry, true);
  auto after = inst.Snapshot();
  after.erase((std::filesystem::path("prog") / "XQERROR.LOG").string());  // the error it reported
  EXPECT_TRUE(after == before);
  ASSERT_GT(lines.size(), 4u);
  EXPECT_EQ(lines[4], "Ajout coefficients 2017 pour le cabinet 01  rat\xe9 ");
  EXPECT_EQ(lines[5], "Ajout Lettres-cl\xe9s 2017 pour le cabinet 01  r\xe9ussi");
}

// A write refused at any point of a reconcile run that has a value to rewrite
// and a record to add: unless a step says " rat\xe9 ", the tables hold every
// change of an undisturbed run, and the report never lists a change the
// tables do not have.
TEST_F(ReportRun, ARefusedWriteOfTheReconcilePassIsNeverASuccess) {
  testing::KillTestScope in_memory;
  auto prepare = [this](const Installation& inst) {
    box_ = std::make_shared<rt::ScriptedErrorBox>(1);  // the boxes of this round only
    rt::SetErrorBoxFrontEnd(box_);
    Run(inst);
    ChangeReference(inst);
  };
  uint64_t total = 0;
  std::vector<Change> all;
  {
    Installation inst("demo-tree");
    prepare(inst);
    const Contents before = ReadAll(inst);
    platform::FaultPlan plan;
    platform::InstallFaultPlan(&plan);
    Run(inst);
    platform::InstallFaultPlan(nullptr);
    total = plan.writes;
    all = Diff(before, ReadAll(inst));
  }
  ASSERT_GT(total, 0u);
  // Each practice: the rewritten value and the added record.
  ASSERT_EQ(all.size(), 2 * std::size(kPractices));
  int refused = 0;
  for (uint64_t n = 1; n <= total; n += testing::KillStride()) {
    SCOPED_TRACE("write " + std::to_string(n) + " of " + std::to_string(total) + " refused");
    Installation inst("demo-tree");
    prepare(inst);
    const size_t rows_before = RowCount(ReportOf(inst));
    const Contents before = ReadAll(inst);
    platform::FaultPlan plan;
    plan.fail_write_at = n;
    platform::InstallFaultPlan(&plan);
    const std::vector<std::string> lines = RunAnswering(inst);
    platform::InstallFaultPlan(nullptr);
    const std::vector<Change> changed = Diff(before, ReadAll(inst));
    const std::vector<Change> rows = Changes(ReportOf(inst), rows_before);
    EXPECT_TRUE(std::includes(changed.begin(), changed.end(), rows.begin(), rows.end()))
        << rows.size() << " rows, " << changed.size() << " changes";
    const bool failed = std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
      return l.find(" rat\xe9 ") != std::string::npos;
    });
    if (failed) {
      ++refused;
    } else {
      EXPECT_EQ(changed, all);
    }
  }
  EXPECT_GT(refused, 0);
}

#if !defined(_WIN32)
// POSIX only: the update runs in forked children that die at a chosen write.

// The whole update in a child that dies at write n (0: never); the number of
// writes it made when it lived.
uint64_t RunDyingAt(const Installation& inst, uint64_t n) {
  int fds[2];
  if (pipe(fds) != 0) return 0;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    platform::FaultPlan plan;
    plan.exit_at_write = n;
    platform::InstallFaultPlan(&plan);
    rt::SetWorkDir(inst.prog());
    shell::RunUnattended();
    uint64_t writes = plan.writes;
    ssize_t ignored = write(fds[1], &writes, sizeof writes);
    (void)ignored;
    _exit(0);
  }
  close(fds[1]);
  uint64_t writes = 0;
  if (read(fds[0], &writes, sizeof writes) != static_cast<ssize_t>(sizeof writes)) writes = 0;
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return writes;
}

// Killed at every write of a first run: every row of its report is a change
// the tables kept (as the next open finds them, journals replayed), whole
// lines only.
TEST_F(ReportRun, KilledRunReportsNothingItDidNotChange) {
  testing::KillTestScope in_memory;
  uint64_t total = 0;
  {
    Installation inst("demo-tree");
    total = RunDyingAt(inst, 0);
    ASSERT_GT(total, 0u);
  }
  int with_rows = 0;
  for (uint64_t n = 1; n <= total; n += testing::KillStride()) {
    SCOPED_TRACE("killed at write " + std::to_string(n) + " of " + std::to_string(total));
    Installation inst("demo-tree");
    const Contents before = ReadAll(inst);
    RunDyingAt(inst, n);
    const std::vector<Change> changed = Diff(before, ReadAll(inst));
    const std::vector<Change> rows = Changes(ReportOf(inst));
    if (!rows.empty()) ++with_rows;
    EXPECT_TRUE(std::includes(changed.begin(), changed.end(), rows.begin(), rows.end()))
        << rows.size() << " rows, " << changed.size() << " changes";
  }
  EXPECT_GT(with_rows, 0);
}
#endif  // !_WIN32

}  // namespace
}  // namespace tariff
