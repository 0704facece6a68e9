// Installations the update must handle with care: practices it must not
// write (left alone, the run failing with 71, the error logged) and paths
// holding accents (the runner, make-demo and tabletool take them). POSIX only:
// files are made unwritable with chmod and paths are UTF-8.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "apps/make_demo/create_table.h"
#include "apps/program/testing/install.h"
#include "apps/program/testing/posix/update_runs.h"
#include "runtime/object.h"
#include "tables/dbserver.h"
#include "tariff/outcome.h"

namespace tariff {
namespace {

namespace fs = std::filesystem;
using testing::BinDir;
using testing::DiskState;
using testing::FirstDifference;
using testing::Installation;
using testing::Outcome;
using testing::ReadFile;
using testing::RunRunner;
using testing::UpdateSafety;

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
    const char* line;    // UTF-8, as the runner prints it
    const char* logged;  // in XQERROR.LOG ("" when no error box)
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
         RebuildPracticeIndex(
             i, {{"INDEX_TYP", 'C', 4}, {"INDEX_DAT", 'D', 8}, {"INDEX_100", 'C', 10}},
             rt::Value::String("23.50"));
         return nullptr;
       },
       "Modifcation Index 2017 pour le cabinet 01  rat\xc3\xa9 \n", "INDEX_100", false},
      {"key-letter values too wide for the practice's field",
       [](const Installation& i) {
         RebuildPracticeIndex(
             i, {{"INDEX_TYP", 'C', 4}, {"INDEX_DAT", 'D', 8}, {"INDEX_100", 'N', 4, 2}},
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
  const fs::path dir = base /
                       "Cabinet m\xc3\xa9"
                       "dical";
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
