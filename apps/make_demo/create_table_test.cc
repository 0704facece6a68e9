// The batch writer of large tables: the records as the table reads them back,
// and tags built by sorted insertion that the index checker accepts in full.
#include "apps/make_demo/create_table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "apps/make_demo/big_tables.h"
#include "tables/dbf/dbf_field.h"
#include "tables/dbserver.h"
#include "tables/tools/cdx_check.h"

namespace demo {
namespace {

namespace fs = std::filesystem;

class Scratch {
 public:
  Scratch() {
    path_ = fs::temp_directory_path() /
            ("demo-tables-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~Scratch() { fs::remove_all(path_); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

TEST(CreateFilledTable, EveryTagHoldsEveryRecordOnce) {
  Scratch dir;
  const std::vector<TagDef> tags = {
      {"TYPDAT", "INDEX_TYP+DTOS(INDEX_DAT)"}, {"DAT", "INDEX_DAT"}, {"VAL", "INDEX_100"}};
  // Keys in another order than the records, repeated keys, empty dates; from
  // an empty table up to trees of several levels, over more than one
  // committed slice.
  for (uint32_t count : {0u, 1u, 2000u, 105000u}) {
    SCOPED_TRACE(count);
    std::string path = dir.File("t" + std::to_string(count) + ".dbf"), error;
    auto make = [](uint32_t i, RecordBuilder& r) {
      uint32_t h = i * 2654435761u;
      r.Char(0, "K" + std::to_string(h % 977));
      r.Date(1,
             h % 11 == 0 ? 0 : tables::JulianFromYmd(2000, 1, 1) + static_cast<int32_t>(h % 5000));
      r.Number(2, (h % 100000) / 100.0);
    };
    ASSERT_TRUE(CreateFilledTable(path, kLetterFields, tags, count, make, &error)) << error;

    auto db = tables::DBServer::Open(path, false, true);
    ASSERT_TRUE(db);
    ASSERT_EQ(db->LastRec(), count);
    tables::IndexCheckReport report;
    tables::Status s = tables::CheckIndex(
        *db->index(), count,
        [&](uint32_t recno, std::vector<uint8_t>* out) {
          out->resize(db->table().record_length());
          tables::Status st = db->table().ReadRecord(recno, out->data());
          return st.ok() ? tables::Status::Ok()
                         : tables::Status::Io(tables::Status::kRead, st.text(), 0);
        },
        &report);
    ASSERT_TRUE(s.ok()) << s.text();
    for (const std::string& f : report.faults) ADD_FAILURE() << f;
    ASSERT_EQ(report.entries.size(), tags.size());
    for (uint64_t entries : report.entries) EXPECT_EQ(entries, count);
    db->Close();
  }
}

TEST(CreateFilledTable, FieldsReadBackAsWritten) {
  Scratch dir;
  const std::vector<FieldSpec> fields = {
      {"CODE", 'C', 4}, {"JOUR", 'D', 8}, {"VAL", 'N', 10, 2}, {"ACTIF", 'L', 1}};
  struct Row {
    std::string code;
    int32_t julian;
    double value;
    bool active;
    std::string want_code, want_value;  // the stored bytes
  };
  const int32_t day = tables::JulianFromYmd(2017, 5, 1);
  const std::vector<Row> rows = {
      {"K", day, 1.5, true, "K   ", "      1.50"},
      {"ABCDEF", 0, -0.25, false, "ABCD", "     -0.25"},
      {"", day + 400, 1234567.89, true, "    ", "1234567.89"},
      {"Z9", day, 123456789.0, false, "Z9  ", "**********"},
  };
  std::string path = dir.File("fields.dbf"), error;
  ASSERT_TRUE(CreateFilledTable(
      path, fields, {}, static_cast<uint32_t>(rows.size()),
      [&](uint32_t i, RecordBuilder& r) {
        r.Char(0, rows[i].code);
        r.Date(1, rows[i].julian);
        r.Number(2, rows[i].value);
        r.Logical(3, rows[i].active);
      },
      &error))
      << error;
  auto db = tables::DBServer::Open(path, false, true);
  ASSERT_TRUE(db);
  ASSERT_EQ(db->LastRec(), rows.size());
  for (uint32_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(db->GoTo(i + 1));
    const std::vector<uint8_t>& rec = db->record();
    EXPECT_EQ(rec[0], ' ');
    EXPECT_EQ(std::string(rec.begin() + 1, rec.begin() + 5), rows[i].want_code);
    EXPECT_EQ(db->FieldGet("JOUR").GetDate().julian, rows[i].julian);
    EXPECT_EQ(std::string(rec.begin() + 13, rec.begin() + 23), rows[i].want_value);
    EXPECT_EQ(db->FieldGet("ACTIF").GetLogic(), rows[i].active);
  }
  db->Close();
}

// The large installation's reference rows: as many differ and are missing as
// the benchmarks say, at any practice size.
TEST(BigTables, ReferenceLettersDifferAndLackAsDescribed) {
  for (uint32_t practice : {kSharedLetters, 1000000u, 4000000u}) {
    SCOPED_TRACE(practice);
    uint32_t same = 0, changed = 0, missing = 0;
    std::vector<bool> used(practice, false);
    for (uint32_t j = 0; j < kReferenceLetters; ++j) {
      LetterRow ref = ReferenceLetter(j, practice);
      if (j >= kSharedLetters) {
        ++missing;
        EXPECT_EQ(ref.code[0], 'Z');  // no practice code starts with Z
        continue;
      }
      uint32_t i = static_cast<uint32_t>(static_cast<uint64_t>(j) * practice / kSharedLetters);
      EXPECT_FALSE(used[i]) << "two reference rows on practice record " << i;
      used[i] = true;
      LetterRow own = PracticeLetter(i);
      ASSERT_EQ(ref.code, own.code);
      ASSERT_EQ(ref.julian, own.julian);
      (ref.value == own.value ? same : changed) += 1;
    }
    EXPECT_EQ(same, 8000u);
    EXPECT_EQ(changed, 1000u);
    EXPECT_EQ(missing, 1000u);
  }
}

}  // namespace
}  // namespace demo
