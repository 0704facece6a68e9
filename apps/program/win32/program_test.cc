// Tarif2017.exe run unattended, as a scheduled task would run it: the real dialog (Wine in
// Xvfb under Linux), OK pressed by /auto, the list box's lines in the /log file, error boxes
// answered by /onerror, and the exit code telling how the run went.
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

// Installs the program beside the installation's Velmora.ini (its program directory is its
// own) and runs it.
int RunProgram(const Installation& inst, const std::vector<std::string>& args) {
  const std::string exe = inst.prog() + "Tarif2017.exe";
  if (!fs::exists(exe)) fs::copy_file(testing::ProgramFile("Tarif2017"), exe);
  return testing::RunProgram(exe, args).status;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(ProgramRun, AutoRunsTheUpdateLogsEveryLineAndExitsWithTheOutcome) {
  if (!fs::exists(testing::ProgramFile("Tarif2017"))) GTEST_SKIP() << "Tarif2017.exe not built";
  Installation inst("demo-tree-trim");
  const std::string log = inst.dir() + "/run.log";
  ASSERT_EQ(RunProgram(inst, {"/auto", "/log", log}), kExitOk);
  std::string first = ReadFile(log);
  // Windows-1252 bytes, one CR LF per line, nothing else.
  EXPECT_EQ(Count(first, "\r\n"), 15u) << first;
  EXPECT_EQ(Count(first, "\n"), 15u) << first;
  EXPECT_NE(first.find("\r\nAjout coefficients 2017 pour le cabinet 01  r\xe9ussi\r\n"),
            std::string::npos)
      << first;
  EXPECT_NE(first.find("\r\nModifcation Index 2017 pour le cabinet 02  Modifi\xe9\r\n"),
            std::string::npos)
      << first;
  EXPECT_EQ(first.substr(first.size() - 30), "Fin modification tarifs 2017\r\n");
  EXPECT_EQ(testing::CheckAllIndexes(inst.dir()), "");
  EXPECT_NE(ReadFile(inst.data("doc01/Velmora.ini")).find("tarif=1"), std::string::npos);

  // Switches in any case and with '-'; the second run appends to the log and changes nothing.
  const auto before = inst.Snapshot("root");
  ASSERT_EQ(RunProgram(inst, {"-AUTO", "/Log", log}), kExitOk);
  std::string both = ReadFile(log);
  ASSERT_EQ(both.substr(0, first.size()), first);
  EXPECT_EQ(Count(both.substr(first.size()), "d\xe9j\xe0 faite\r\n"), 6u) << both;
  EXPECT_TRUE(inst.Snapshot("root") == before);
}

TEST(ProgramRun, OnErrorAnswersTheBoxWithoutAPerson) {
  if (!fs::exists(testing::ProgramFile("Tarif2017"))) GTEST_SKIP() << "Tarif2017.exe not built";
  {
    Installation inst("demo-tree-trim");
    fs::remove(inst.data("doc01/tarif.dbf"));
    const std::string log = inst.dir() + "/run.log";
    // The default answer lets the run go on; a failed step is no success.
    EXPECT_EQ(RunProgram(inst, {"/auto", "/onerror", "default", "/log", log}), kExitPracticeFailed);
    EXPECT_NE(ReadFile(log).find("Ajout coefficients 2017 pour le cabinet 01  rat\xe9 \r\n"),
              std::string::npos)
        << ReadFile(log);
    EXPECT_NE(ReadFile(log).find("Fin modification tarifs 2017\r\n"), std::string::npos);
    EXPECT_NE(ReadFile(inst.prog() + "XQERROR.LOG").find("Open error"), std::string::npos);
  }
  {
    Installation inst("demo-tree-trim");
    fs::remove(inst.data("doc01/tarif.dbf"));
    const std::string log = inst.dir() + "/run.log";
    // Quit ends the process with the error's general code, the run unfinished.
    EXPECT_EQ(RunProgram(inst, {"/auto", "/onerror", "QUIT", "/log", log}), 21);  // open error
    EXPECT_EQ(ReadFile(log).find("Fin modification"), std::string::npos) << ReadFile(log);
  }
}

TEST(ProgramRun, NoDataRootAndBadSwitchesHaveTheirOwnCodes) {
  if (!fs::exists(testing::ProgramFile("Tarif2017"))) GTEST_SKIP() << "Tarif2017.exe not built";
  Installation inst("demo-tree-trim");
  inst.WriteFile(inst.prog() + "Velmora.ini", "[Path]\r\n");
  EXPECT_EQ(RunProgram(inst, {"/auto"}), kExitConfigNotFound);
  // Refused before anything is touched: no log is made.
  const std::string log = inst.dir() + "/bad.log";
  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"/auto", "/onerror", "maybe", "/log", log},
                                             {"/auto", "/onerror"},
                                             {"/auto", "/log"},
                                             {"/auto", "/now", "/log", log}}) {
    EXPECT_EQ(RunProgram(inst, bad), kExitUsage) << bad[1];
  }
  EXPECT_FALSE(fs::exists(log));
  EXPECT_FALSE(fs::exists(inst.prog() + "XQERROR.LOG"));
}

}  // namespace
}  // namespace tariff
