// The whole update over copies of a demo installation, through the program's
// own dialog (headless on Linux, real windows on Windows): OK pressed, lines
// read back from the list box, tables and markers checked afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "apps/make_demo/create_table.h"
#include "apps/program/program.h"
#include "apps/program/testing/install.h"
#include "apps/program/testing/program_fixture.h"
#include "runtime/convert.h"
#include "runtime/error.h"
#include "runtime/error_box.h"
#include "runtime/object.h"
#include "runtime/program.h"
#include "runtime/settings.h"
#include "shell/shell.h"
#include "tables/dbserver.h"
#include "tariff/tariff.h"
#include "tariff/texts.h"

namespace tariff {
namespace {

namespace fs = std::filesystem;
using testing::Installation;
using testing::ReadFile;
using testing::ReadTable;
using testing::Row;

const std::string kRule(34, '-');
const std::string kSep = "    ______________________ ";

struct RunResult {
  std::vector<std::string> posted;  // as the update posted them
  std::vector<std::string> list;    // the list box at the end of the run
  bool ok_enabled_after = true;
  int selected = -1;
  bool ended = false;  // the update returned and the dialog was read back
};

class TariffRun : public testing::ProgramFixture {
 protected:
  RunResult Run(const Installation& inst) {
    rt::SetWorkDir(inst.prog());
    RunResult result;
    SetLineObserver([&](const std::string& line) { result.posted.push_back(line); });
    // OK is pressed as the dialog's loop starts; once the update has returned, the dialog is
    // read back as the user sees it, then "Fermer" ends it.
    shell::RunUnattended([&](const rt::Value& dialog) {
      rt::Value list = rt::IVarGet(dialog, rt::String2Symbol("ListBox1"));
      int count = static_cast<int>(rt::Send(list, "ItemCount").GetLong());
      for (int i = 1; i <= count; ++i) {
        result.list.push_back(rt::AsString(rt::Send(list, "GetItem", {rt::Value::Long(i)})));
      }
      result.selected =
          static_cast<int>(rt::IVarGet(list, rt::String2Symbol("CurrentItemNo")).GetLong()) - 1;
      result.ok_enabled_after = rt::IVarGet(rt::IVarGet(dialog, rt::String2Symbol("OkButton")),
                                            rt::String2Symbol("Enabled"))
                                    .GetLogic();
      result.ended = true;
    });
    if (!result.ended) {
      // The checks that follow read lines the run did not post: the test ends here, with
      // what the run left to tell why.
      std::string told;
      for (const std::string& line : result.posted) told += "  posted: " + line + "\n";
      for (const auto& box : box_->shown()) told += "  error box: " + box.text + "\n";
      ADD_FAILURE() << "the update did not end (" << result.posted.size() << " lines posted)\n"
                    << told;
      throw std::runtime_error("the unattended run did not end");
    }
    // Whatever the run did, every tag of every table still agrees with its records.
    EXPECT_EQ(testing::CheckAllIndexes(inst.dir()), "");
    return result;
  }

  static std::string Code(const char* c) { return std::string(c) + " "; }
};

std::vector<std::string> Header(const Installation& inst) {
  return {"InFile OK : " + inst.prog() + "velmora.ini", "Data Path : " + inst.root(), kRule, " "};
}

std::vector<std::string> FirstRunLines(const Installation& inst) {
  std::vector<std::string> lines = Header(inst);
  for (const std::string& l :
       {std::string("Ajout coefficients 2017 pour le cabinet 01  r\xe9ussi"),
        std::string("Ajout Lettres-cl\xe9s 2017 pour le cabinet 01  r\xe9ussi"), kSep,
        std::string("Modifcation Tarifs 2017 pour le cabinet 02  d\xe9j\xe0 faite"),
        std::string("Modifcation Index 2017 pour le cabinet 02  Modifi\xe9"), kSep,
        std::string("Modifcation Tarifs 2017 pour le cabinet 03  d\xe9j\xe0 faite"),
        std::string("Ajout Lettres-cl\xe9s 2017 pour le cabinet 03  r\xe9ussi"), kSep, kRule,
        std::string("Fin modification tarifs 2017")}) {
    lines.push_back(l);
  }
  return lines;
}

std::vector<std::string> SecondRunLines(const Installation& inst) {
  std::vector<std::string> lines = Header(inst);
  for (const char* code : {"01", "02", "03"}) {
    lines.push_back(std::string("Modifcation Tarifs 2017 pour le cabinet ") + code +
                    "  d\xe9j\xe0 faite");
    lines.push_back(std::string("Modifcation Index 2017 pour le cabinet ") + code +
                    "  d\xe9j\xe0 faite");
    lines.push_back(kSep);
  }
  lines.push_back(kRule);
  lines.push_back("Fin modification tarifs 2017");
  return lines;
}

std::vector<Row> Visible(const std::vector<Row>& rows) {
  std::vector<Row> out;
  for (const Row& r : rows) {
    if (!r.deleted) out.push_back(r);
  }
  return out;
}

TEST_F(TariffRun, FirstRunAppendsOnceAndWritesMarkers) {
  Installation inst("demo-tree");
  const auto ref_tarif = ReadTable(inst.prog() + "tarif2017.dbf");
  const auto ref_index = ReadTable(inst.prog() + "ind_1002017.dbf");
  const auto before01 = ReadTable(inst.data("doc01 /tarif.dbf"));
  const auto before01_index = ReadTable(inst.data("doc01 /ind_100.dbf"));
  const auto traps = inst.Snapshot("root/data/doc   ");
  const auto traps09 = inst.Snapshot("root/data/doc09 ");

  RunResult r = Run(inst);
  EXPECT_EQ(r.posted, FirstRunLines(inst));
  EXPECT_EQ(r.list, r.posted);
  EXPECT_FALSE(r.ok_enabled_after);
  EXPECT_EQ(r.selected, static_cast<int>(r.list.size()) - 1);
  EXPECT_TRUE(box_->shown().empty());

  // Every visible reference record appended once, same-named fields copied,
  // the field the reference lacks left blank, deleted reference records not.
  const auto after01 = ReadTable(inst.data("doc01 /tarif.dbf"));
  const auto visible_ref = Visible(ref_tarif);
  ASSERT_LT(visible_ref.size(), ref_tarif.size()) << "the reference has deleted records";
  ASSERT_EQ(after01.size(), before01.size() + visible_ref.size());
  for (size_t i = 0; i < before01.size(); ++i) EXPECT_EQ(after01[i].fields, before01[i].fields);
  for (size_t i = 0; i < visible_ref.size(); ++i) {
    const Row& got = after01[before01.size() + i];
    EXPECT_FALSE(got.deleted);
    for (const auto& [name, value] : got.fields) {
      auto it = visible_ref[i].fields.find(name);
      if (it == visible_ref[i].fields.end()) {
        EXPECT_TRUE(value.find_first_not_of(" 0.") == std::string::npos)
            << name << " should be blank: " << value;
      } else {
        EXPECT_EQ(value, it->second) << "record " << i << " field " << name;
      }
    }
  }
  const auto after01_index = ReadTable(inst.data("doc01 /ind_100.dbf"));
  EXPECT_EQ(after01_index.size(), before01_index.size() + Visible(ref_index).size());

  std::string ini01 = ReadFile(inst.data("doc01 /Velmora.ini"));
  EXPECT_NE(ini01.find("[2017]"), std::string::npos) << ini01;
  EXPECT_NE(ini01.find("tarif=1"), std::string::npos) << ini01;
  EXPECT_NE(ini01.find("index=1"), std::string::npos) << ini01;
  std::string ini03 = ReadFile(inst.data("doc03 /Velmora.ini"));
  EXPECT_NE(ini03.find("index=1"), std::string::npos) << ini03;

  // The blank code and the deleted practice are never read or written.
  EXPECT_TRUE(inst.Snapshot("root/data/doc   ") == traps);
  EXPECT_TRUE(inst.Snapshot("root/data/doc09 ") == traps09);
}

TEST_F(TariffRun, SecondRunChangesNothing) {
  Installation inst("demo-tree");
  Run(inst);
  const auto before = inst.Snapshot("root");
  RunResult r = Run(inst);
  EXPECT_EQ(r.posted, SecondRunLines(inst));
  EXPECT_TRUE(inst.Snapshot("root") == before);
}

TEST_F(TariffRun, ReconcileUpdatesOnlyTheChangedValue) {
  Installation inst("demo-tree");
  Run(inst);
  const auto before = ReadTable(inst.data("doc01 /ind_100.dbf"));
  {
    auto ref = tables::DBServer::Open(inst.prog() + "ind_1002017.dbf", true, false);
    ASSERT_TRUE(ref);
    ASSERT_TRUE(ref->Seek(rt::Value::String("K   20170501")));
    ASSERT_TRUE(ref->RLock());
    ASSERT_TRUE(ref->FieldPut("INDEX_100", rt::Value::Float(9.99, 2)));
    ref->Unlock();
    ref->Close();
  }
  RunResult r = Run(inst);
  EXPECT_EQ(r.posted[5], "Modifcation Index 2017 pour le cabinet 01  Modifi\xe9");
  const auto after = ReadTable(inst.data("doc01 /ind_100.dbf"));
  ASSERT_EQ(after.size(), before.size());
  int changed = 0;
  for (size_t i = 0; i < after.size(); ++i) {
    if (after[i].fields == before[i].fields) continue;
    ++changed;
    EXPECT_EQ(after[i].fields.at("INDEX_TYP"), "K   ");
    EXPECT_EQ(after[i].fields.at("INDEX_DAT"), "20170501");
    EXPECT_NE(after[i].fields.at("INDEX_100").find("9.99"), std::string::npos);
  }
  EXPECT_EQ(changed, 1);
}

TEST_F(TariffRun, DeletedPracticeRecordIsNotFoundAndTheReferenceIsAppendedAgain) {
  Installation inst("demo-tree");
  Run(inst);
  uint32_t deleted_recno = 0;
  {
    auto db = tables::DBServer::Open(inst.data("doc01 /ind_100.dbf"), true, false);
    ASSERT_TRUE(db);
    ASSERT_TRUE(db->Seek(rt::Value::String("V   20170715")));
    deleted_recno = db->RecNo();
    ASSERT_TRUE(db->RLock());
    ASSERT_TRUE(db->Delete());
    db->Unlock();
    db->Close();
  }
  const auto before = ReadTable(inst.data("doc01 /ind_100.dbf"));
  RunResult r = Run(inst);
  EXPECT_EQ(r.posted[5], "Modifcation Index 2017 pour le cabinet 01  Modifi\xe9");
  const auto after = ReadTable(inst.data("doc01 /ind_100.dbf"));
  ASSERT_EQ(after.size(), before.size() + 1);
  EXPECT_TRUE(after[deleted_recno - 1].deleted);
  const Row& added = after.back();
  EXPECT_FALSE(added.deleted);
  EXPECT_EQ(added.fields.at("INDEX_TYP"), "V   ");
  EXPECT_EQ(added.fields.at("INDEX_DAT"), "20170715");
  EXPECT_EQ(added.fields.at("INDEX_100"), after[deleted_recno - 1].fields.at("INDEX_100"));
}

TEST_F(TariffRun, TrailingBlanksMappedOntoTrimmedDirectories) {
  Installation inst("demo-tree-trim");
  RunResult r = Run(inst);
  EXPECT_EQ(r.posted, FirstRunLines(inst));
  EXPECT_NE(ReadFile(inst.data("doc01/Velmora.ini")).find("index=1"), std::string::npos);
}

TEST_F(TariffRun, EmptyDataRootPostsTheOneLine) {
  Installation inst("demo-tree");
  inst.WriteFile(inst.prog() + "Velmora.ini", "[Path]\r\nCommun=\r\n");
  const auto before = inst.Snapshot("root");
  RunResult r = Run(inst);
  EXPECT_EQ(r.posted,
            std::vector<std::string>{"IniFile non trouv\xe9 : " + inst.prog() + "velmora.ini"});
  EXPECT_FALSE(r.ok_enabled_after);
  EXPECT_TRUE(inst.Snapshot("root") == before);
}

TEST_F(TariffRun, LaptopModeUsesTheServerRoot) {
  Installation inst("demo-tree");
  inst.WriteFile(inst.prog() + "Velmora.ini",
                 "[Path]\r\nCommun=C:\\nowhere\\\r\n[options]\r\n"
                 "laptop=1\r\n[Laptop]\r\npathserver=" +
                     inst.root() + "\r\n");
  RunResult r = Run(inst);
  EXPECT_EQ(r.posted, FirstRunLines(inst));
  // laptop other than 1: pathserver is not read.
  Installation other("demo-tree");
  other.WriteFile(other.prog() + "Velmora.ini",
                  "[Path]\r\nCommun=\r\n[options]\r\nlaptop=10\r\n"
                  "[Laptop]\r\npathserver=" +
                      other.root() + "\r\n");
  r = Run(other);
  ASSERT_EQ(r.posted.size(), 1u);
}

TEST_F(TariffRun, MissingPracticeTableReachesTheErrorHandlerAndTheLog) {
  Installation inst("demo-tree");
  fs::remove(inst.data("doc01 /tarif.dbf"));
  RunResult r = Run(inst);
  ASSERT_FALSE(box_->shown().empty());
  EXPECT_NE(box_->shown()[0].text.find("tarif.dbf"), std::string::npos) << box_->shown()[0].text;
  std::string log = ReadFile(inst.prog() + "XQERROR.LOG");
  EXPECT_NE(log.find("DBFCDX"), std::string::npos) << log;
  EXPECT_NE(log.find("MAINDIALOG:MODTARIF06"), std::string::npos) << log;
  // The default answer lets the run go on: the append fails, no marker.
  EXPECT_EQ(r.posted[4], "Ajout coefficients 2017 pour le cabinet 01  rat\xe9 ");
  EXPECT_EQ(ReadFile(inst.data("doc01 /Velmora.ini")).find("tarif=1"), std::string::npos);
  EXPECT_EQ(r.posted.back(), "Fin modification tarifs 2017");
}

TEST_F(TariffRun, CodeLeadingOutsideTheDataRootIsNotVisited) {
  Installation inst("demo-tree");
  {
    auto db = tables::DBServer::Open(inst.data("comm/doc.dbf"), true, false);
    ASSERT_TRUE(db);
    ASSERT_TRUE(db->GoTo(1));  // "01 "
    ASSERT_TRUE(db->RLock());
    ASSERT_TRUE(db->FieldPut("CABINET", rt::Value::String("..\\")));
    db->Unlock();
    db->Close();
  }
  const auto before01 = inst.Snapshot("root/data/doc01 ");
  RunResult r = Run(inst);
  EXPECT_EQ(r.posted[4], "Cabinet ..\\ ignor\xe9 : code invalide");
  EXPECT_EQ(r.posted[5], "Modifcation Tarifs 2017 pour le cabinet 02  d\xe9j\xe0 faite");
  EXPECT_TRUE(inst.Snapshot("root/data/doc01 ") == before01);
}

}  // namespace
}  // namespace tariff

namespace tariff {
namespace {

TEST(InstallationCheck, SeesAKeyTheIndexDoesNotHold) {
  testing::Installation inst("demo-tree");
  EXPECT_EQ(testing::CheckAllIndexes(inst.dir()), "");
  // Change record 1's code behind the index's back.
  std::string path = inst.data("doc01 /ind_100.dbf");
  std::string bytes = testing::ReadFile(path);
  uint16_t header = static_cast<uint8_t>(bytes[8]) | static_cast<uint8_t>(bytes[9]) << 8;
  ASSERT_EQ(bytes[header + 1], 'C');
  bytes[header + 1] = 'Z';
  inst.WriteFile(path, bytes);
  EXPECT_NE(testing::CheckAllIndexes(inst.dir()), "");
}

}  // namespace
}  // namespace tariff

namespace tariff {
namespace {

// Rebuilds doc01's ind_100 with the given tags and the 2017 rows already in.
void RebuildIndexTable(const testing::Installation& inst, const std::vector<demo::TagDef>& tags) {
  std::string path = inst.data("doc01 /ind_100.dbf");
  std::filesystem::remove(path);
  std::filesystem::remove(inst.data("doc01 /ind_100.cdx"));
  std::string error;
  ASSERT_TRUE(demo::CreateTable(
      path, {{"INDEX_TYP", 'C', 4}, {"INDEX_DAT", 'D', 8}, {"INDEX_100", 'N', 10, 2}}, tags,
      &error))
      << error;
  auto db = tables::DBServer::Open(path, true, false);
  ASSERT_TRUE(db);
  ASSERT_TRUE(db->AppendDB(inst.prog() + "ind_1002017.dbf"));
  db->Close();
  inst.WriteFile(inst.data("doc01 /Velmora.ini"), "[2017]\r\ntarif=1\r\nindex=1\r\n");
}

TEST_F(TariffRun, ReconcileSelectsTheLookupOrderWhenAnotherComesFirst) {
  testing::Installation inst("demo-tree");
  RebuildIndexTable(inst, {{"DAT", "INDEX_DAT"}, {"TYPDAT", "INDEX_TYP + DTOS(INDEX_DAT)"}});
  size_t before = ReadTable(inst.data("doc01 /ind_100.dbf")).size();
  RunResult r = Run(inst);
  EXPECT_EQ(r.posted[5], "Modifcation Index 2017 pour le cabinet 01  d\xe9j\xe0 faite");
  EXPECT_EQ(ReadTable(inst.data("doc01 /ind_100.dbf")).size(), before);
}

TEST_F(TariffRun, ReconcileWithoutTheLookupOrderRaisesAndWritesNothing) {
  testing::Installation inst("demo-tree");
  RebuildIndexTable(inst, {{"DAT", "INDEX_DAT"}});
  const auto before = inst.Snapshot("root/data/doc01 ");
  RunResult r = Run(inst);
  fs::remove(inst.data("doc01 /tarif2017.lck"));
  ASSERT_EQ(box_->shown().size(), 1u);
  EXPECT_NE(box_->shown()[0].text.find("No order keyed on INDEX_TYP+DTOS(INDEX_DAT)"),
            std::string::npos)
      << box_->shown()[0].text;
  EXPECT_EQ(r.posted[5], "Modifcation Index 2017 pour le cabinet 01  rat\xe9 ");
  EXPECT_TRUE(inst.Snapshot("root/data/doc01 ") == before);
  EXPECT_EQ(r.posted.back(), "Fin modification tarifs 2017");
}

}  // namespace
}  // namespace tariff
