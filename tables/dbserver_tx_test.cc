// DBServer transactions over copies of the demo installation: a failed write
// puts the record, the index and the open work area back; a changed record is
// written once when its transaction ends; Append and AppendDB all or nothing.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "platform/file_faults.h"
#include "tables/dbserver.h"
#include "tables/testing/dbserver_fixture.h"
#include "tables/tools/cdx_check.h"

namespace tables {
namespace {

using dbftest::DBServerTest;
using dbftest::Key;
using dbftest::ReadFileBytes;

// Every tag of the table agrees with its records (the index checker's faults
// fail the test).
void ExpectIndexSound(DBServer& db) {
  IndexCheckReport report;
  ASSERT_TRUE(CheckIndex(
                  *db.index(), db.LastRec(),
                  [&](uint32_t r, std::vector<uint8_t>* record) {
                    record->resize(db.table().record_length());
                    return db.table().ReadRecord(r, record->data()).ok()
                               ? Status::Ok()
                               : Status::Corruption("unreadable record");
                  },
                  &report)
                  .ok());
  for (const std::string& f : report.faults) ADD_FAILURE() << f;
}

// A key change whose write fails part-way is put back (record and index
// file); the open work area must then find the record under its old key, not
// through pages of the undone change left in its index cache.
TEST_F(DBServerTest, AFailedKeyChangeLeavesTheOpenIndexAsOnDisk) {
  auto s = DBServer::Open(Ind("doc02 "));
  ASSERT_NE(nullptr, s);
  ASSERT_TRUE(s->Seek(rt::Value::String("C   20170101")));
  const uint32_t recno = s->RecNo();
  uint64_t failed = 0;
  for (uint64_t n = 1;; ++n) {
    SCOPED_TRACE("failing write " + std::to_string(n));
    ASSERT_LT(n, 50u);
    platform::FaultPlan plan;
    plan.fail_write_at = n;
    bool ok;
    {
      platform::FaultScope scope(&plan);
      ok = s->RLock() && s->FieldPut("INDEX_TYP", rt::Value::String("ZZ")) && s->Unlock();
    }
    if (plan.writes < n) {  // nothing failed: the change went through
      ASSERT_TRUE(ok);
      break;
    }
    ASSERT_FALSE(ok);
    ++failed;
    EXPECT_EQ("C   ", s->FieldGet("INDEX_TYP").GetString());  // the buffer is put back too
    EXPECT_FALSE(s->Seek(rt::Value::String("ZZ")));
    ASSERT_TRUE(s->Seek(rt::Value::String("C   20170101")));
    EXPECT_EQ(recno, s->RecNo());
    EXPECT_EQ("C   ", s->FieldGet("INDEX_TYP").GetString());
  }
  EXPECT_GT(failed, 1u);  // the record write and at least one index page
  ASSERT_TRUE(s->Seek(rt::Value::String("ZZ  20170101")));
  EXPECT_EQ(recno, s->RecNo());
  ASSERT_NO_FATAL_FAILURE(ExpectIndexSound(*s));
}

// Counts the writes that reach the records of a table (past its header).
class RecordWriteCounter final : public platform::FileView {
 public:
  RecordWriteCounter(std::unique_ptr<platform::File> base, uint64_t header_length, int* writes)
      : FileView(std::move(base)), header_length_(header_length), writes_(writes) {}
  platform::OsStatus WriteAt(uint64_t offset, const void* data, size_t n) override {
    if (offset >= header_length_) ++*writes_;
    return FileView::WriteAt(offset, data, n);
  }

 private:
  uint64_t header_length_;
  int* writes_;
};

// A changed record stays in the work area until its transaction ends, then it
// is written once with its keys; another work area on the table sees nothing
// of it before and all of it after, whichever way the transaction ended.
TEST_F(DBServerTest, AChangedRecordIsWrittenOnceWhenItsTransactionEnds) {
  using End = std::function<bool(DBServer&)>;
  const std::vector<std::pair<const char*, End>> endings = {
      {"skip", [](DBServer& s) { return s.Skip(); }},
      {"goto", [](DBServer& s) { return s.GoTo(1); }},
      {"unlock", [](DBServer& s) { return s.Unlock(); }},
      {"commit", [](DBServer& s) { return s.Commit(); }},
      {"append", [](DBServer& s) { return s.Append(); }},
      {"close", [](DBServer& s) { return s.Close(); }},
  };
  const rt::Date date = rt::Date::FromYmd(2017, 3, 4);
  int copy = 0;
  for (bool append : {true, false}) {
    for (const auto& [name, end] : endings) {
      SCOPED_TRACE(std::string(append ? "append, " : "rewrite, ") + name);
      const std::string path =
          scratch_.Copy(tree_ + "/root/data/doc02 ", "case" + std::to_string(++copy)) +
          "/ind_100.dbf";
      int writes = 0;
      auto s = DBServer::Open(path);
      auto other = DBServer::Open(path);
      ASSERT_TRUE(s && other);
      const uint64_t header_length = s->table().header().header_length;
      s->table().WrapFiles([&](std::unique_ptr<platform::File> f, char role) {
        return role == 'D'
                   ? std::make_unique<RecordWriteCounter>(std::move(f), header_length, &writes)
                   : std::move(f);
      });
      const uint32_t count = other->LastRec();
      uint32_t recno = count + 1;
      std::string old_key;
      if (append) {
        ASSERT_TRUE(s->Append());
        ASSERT_EQ(recno, s->RecNo());
        EXPECT_EQ(recno, s->LastRec());
      } else {
        ASSERT_TRUE(s->Seek(rt::Value::String("C   20170101")));
        recno = s->RecNo();
        old_key = Key(*s);
        ASSERT_TRUE(s->RLock());
      }
      ASSERT_TRUE(s->FieldPut("INDEX_TYP", rt::Value::String("ZZ")));
      ASSERT_TRUE(s->FieldPut("INDEX_DAT", rt::Value::FromDate(date)));
      ASSERT_TRUE(s->FieldPut("INDEX_100", rt::Value::Long(7)));
      EXPECT_EQ("ZZ  20170304", Key(*s));
      EXPECT_EQ(0, writes);
      EXPECT_EQ(count, other->LastRec());
      EXPECT_FALSE(other->Seek(rt::Value::String("ZZ  20170304")));
      if (!append) {
        ASSERT_TRUE(other->GoTo(recno));
        EXPECT_EQ(old_key, Key(*other));
      }

      ASSERT_TRUE(end(*s));
      EXPECT_EQ(1, writes);
      EXPECT_EQ(count + (append ? 1 : 0), other->LastRec());
      ASSERT_TRUE(other->Seek(rt::Value::String("ZZ  20170304")));
      EXPECT_EQ(recno, other->RecNo());
      EXPECT_EQ(7, other->FieldGet("INDEX_100").GetLong());
      if (!append) {
        EXPECT_FALSE(other->Seek(rt::Value::String(old_key)));
      }
      ASSERT_TRUE(other->SetOrder("DAT"));
      ASSERT_TRUE(other->Seek(rt::Value::FromDate(date)));
      EXPECT_EQ(recno, other->RecNo());
      ASSERT_NO_FATAL_FAILURE(ExpectIndexSound(*other));
    }
  }
  EXPECT_TRUE(errors_.errors().empty());
}

// An append whose transaction fails at any of its writes (the end included)
// is undone: the files are as before, the error raised, and the work area can
// append again.
TEST_F(DBServerTest, AFailedAppendLeavesTheFilesAsTheyWere) {
  const std::string path = Ind("doc02 ");
  const std::string cdx = tree_ + "/root/data/doc02 /ind_100.cdx";
  const auto dbf_before = ReadFileBytes(path), cdx_before = ReadFileBytes(cdx);
  auto s = DBServer::Open(path);
  ASSERT_NE(nullptr, s);
  const uint32_t count = s->LastRec();
  uint64_t failed = 0;
  for (uint64_t n = 1;; ++n) {
    SCOPED_TRACE("failing write " + std::to_string(n));
    ASSERT_LT(n, 50u);
    platform::FaultPlan plan;
    plan.fail_write_at = n;
    bool ok;
    {
      platform::FaultScope scope(&plan);
      ok = s->Append() && s->FieldPut("INDEX_TYP", rt::Value::String("ZZ")) &&
           s->FieldPut("INDEX_100", rt::Value::Long(7)) && s->Unlock();
    }
    if (plan.writes < n) {
      ASSERT_TRUE(ok);
      break;
    }
    ASSERT_FALSE(ok);
    ++failed;
    EXPECT_EQ(failed, errors_.errors().size());
    EXPECT_EQ(count, s->LastRec());
    EXPECT_FALSE(platform::FileExists(JournalPath(path)));
    ASSERT_TRUE(dbf_before == ReadFileBytes(path));
    ASSERT_TRUE(cdx_before == ReadFileBytes(cdx));
  }
  EXPECT_GT(failed, 2u);  // the journal, the record and the index
  EXPECT_EQ(count + 1, s->LastRec());
  ASSERT_TRUE(s->Seek(rt::Value::String("ZZ")));
  EXPECT_EQ(count + 1, s->RecNo());
}

TEST_F(DBServerTest, AppendThenFieldPutWithoutFurtherLock) {
  auto s = DBServer::Open(Ind("doc02 "));
  ASSERT_TRUE(s->Append());
  EXPECT_EQ(40u, s->RecNo());
  ASSERT_TRUE(s->FieldPut("INDEX_TYP", rt::Value::String("ZZ")));
  ASSERT_TRUE(s->FieldPut("INDEX_DAT", rt::Value::FromDate(rt::Date::FromYmd(2017, 3, 4))));
  ASSERT_TRUE(s->FieldPut("INDEX_100", rt::Value::Long(7)));
  EXPECT_TRUE(errors_.errors().empty());
  s->Close();
  auto again = DBServer::Open(Ind("doc02 "));
  EXPECT_EQ(40u, again->LastRec());
  ASSERT_TRUE(again->Seek(rt::Value::String("ZZ  20170304")));
  EXPECT_EQ(40u, again->RecNo());
  EXPECT_DOUBLE_EQ(7.0, again->FieldGet("INDEX_100").GetFloat());
  again->GoBottom();
  EXPECT_EQ(40u, again->RecNo());  // ZZ sorts last
}

TEST_F(DBServerTest, AppendDBCopiesEveryVisibleRecordByFieldName) {
  auto before = ReadFileBytes(Tarif("doc01 "));
  auto s = DBServer::Open(Tarif("doc01 "));
  ASSERT_TRUE(s->AppendDB(Ref("tarif2017.dbf")));
  EXPECT_TRUE(errors_.errors().empty());
  EXPECT_EQ(30u + 58u, s->LastRec());
  auto ref = DBServer::Open(Ref("tarif2017.dbf"), true, true);
  ref->SetOrder(0u);
  ref->GoTop();
  for (uint32_t n = 31; n <= 88; ++n, ref->Skip()) {
    ASSERT_FALSE(ref->Eof());
    ASSERT_TRUE(s->GoTo(n));
    for (const char* f : {"CODE", "LIBELLE", "COEF", "DATE_EFF", "ACTIF", "NOTE"}) {
      EXPECT_TRUE(ref->FieldGet(f) == s->FieldGet(f)) << "record " << n << " field " << f;
    }
    EXPECT_DOUBLE_EQ(0.0, s->FieldGet("PRIX_CAB").GetFloat());
  }
  EXPECT_TRUE(ref->Eof());
  // The records that were there are untouched, byte for byte.
  auto after = ReadFileBytes(Tarif("doc01 "));
  size_t data_end = s->table().header().header_length + 30 * s->table().record_length();
  for (size_t i = 0; i < data_end; ++i) {
    if ((i >= 1 && i <= 7)) continue;  // date and count
    ASSERT_EQ(before[i], after[i]) << "byte " << i;
  }
  // Every appended record is in the controlling tag.
  ASSERT_TRUE(s->SetOrder("CODEDATE"));
  size_t walked = 0;
  for (s->GoTop(); !s->Eof(); s->Skip()) ++walked;
  EXPECT_EQ(88u, walked);
}

}  // namespace
}  // namespace tables
