// Tarif2017.exe /dry-run: the unattended program posts the lines of the real run that follows,
// writes the rows of its change report to /report FILE, and changes no byte of the installation.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "apps/program/testing/install.h"
#include "apps/program/testing/process.h"
#include "tariff/outcome.h"

namespace tariff {
namespace {

namespace fs = std::filesystem;
using testing::Installation;
using testing::ReadFile;

int RunProgram(const Installation& inst, const std::vector<std::string>& args) {
  const std::string exe = inst.prog() + "Tarif2017.exe";
  if (!fs::exists(exe)) fs::copy_file(testing::ProgramFile("Tarif2017"), exe);
  return testing::RunProgram(exe, args).status;
}

// The report's rows without their run stamp (the header kept).
std::vector<std::string> Rows(const std::string& report) {
  std::vector<std::string> rows;
  for (size_t at = 0; at < report.size();) {
    size_t end = report.find("\r\n", at);
    if (end == std::string::npos) end = report.size();
    std::string line = report.substr(at, end - at);
    rows.push_back(rows.empty() ? line : line.substr(line.find(';') + 1));
    at = end + 2;
  }
  return rows;
}

TEST(ProgramDryRun, PostsTheRealRunsLinesAndChangesNothing) {
  if (!fs::exists(testing::ProgramFile("Tarif2017"))) GTEST_SKIP() << "Tarif2017.exe not built";
  Installation inst("demo-tree-trim");
  // Installs the program; refused before anything is touched: a switch without its file.
  EXPECT_EQ(RunProgram(inst, {"/report"}), kExitUsage);
  const auto before = inst.Snapshot();
  const std::string dry_log = inst.dir() + "/dry.log", dry_report = inst.dir() + "/dry.csv";
  ASSERT_EQ(RunProgram(inst, {"/auto", "/dry-run", "/log", dry_log, "/report", dry_report}),
            kExitOk);
  auto after = inst.Snapshot();
  after.erase("dry.log");
  after.erase("dry.csv");
  EXPECT_TRUE(after == before) << "the dry run wrote to the installation";

  const std::string log = inst.dir() + "/run.log";
  ASSERT_EQ(RunProgram(inst, {"/auto", "/log", log}), kExitOk);
  EXPECT_EQ(ReadFile(dry_log), ReadFile(log));
  const auto rows = Rows(ReadFile(inst.prog() + "Tarif2017-changes.csv"));
  EXPECT_GT(rows.size(), 1u);
  EXPECT_EQ(Rows(ReadFile(dry_report)), rows);
}

}  // namespace
}  // namespace tariff
