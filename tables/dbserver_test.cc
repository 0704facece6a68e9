// DBServer over copies of the demo installation: navigation in the controlling
// order with deleted records hidden, Seek, field writes under locks (and their
// refusal without), Append, AppendDB all or nothing, the runtime class.
#include "tables/dbserver.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "platform/file_faults.h"
#include "runtime/convert.h"
#include "runtime/object.h"
#include "runtime/settings.h"
#include "tables/tools/cdx_check.h"
#include "tables/testing/table_fixture.h"

namespace tables {
namespace {

using dbftest::ErrorCatcher;
using dbftest::FixtureRoot;
using dbftest::ReadFileBytes;
using dbftest::ScratchDir;

class DBServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = scratch_.Copy(dbftest::DemoTree(), "tree");
    old_deleted_ = rt::SetDeleted(true);
  }
  void TearDown() override { rt::SetDeleted(old_deleted_); }
  std::string Ind(const std::string& doc) { return tree_ + "/root/data/" + doc + "/ind_100.dbf"; }
  std::string Tarif(const std::string& doc) { return tree_ + "/root/data/" + doc + "/tarif.dbf"; }
  std::string Ref(const std::string& name) { return tree_ + "/prog/" + name; }

  ScratchDir scratch_;
  std::string tree_;
  bool old_deleted_ = false;
  ErrorCatcher errors_;
};

std::string Key(DBServer& s) {
  return s.FieldGet("INDEX_TYP").GetString() + rt::DToS(s.FieldGet("INDEX_DAT").GetDate());
}

TEST_F(DBServerTest, WalksTheFirstTagAndHidesDeletedRecords) {
  auto s = DBServer::Open(Ind("doc02 "));
  ASSERT_NE(nullptr, s);
  EXPECT_EQ("TYPDAT", s->OrderName());
  EXPECT_EQ(39u, s->LastRec());
  std::vector<std::string> keys;
  std::vector<uint32_t> recnos;
  for (s->GoTop(); !s->Eof(); s->Skip()) {
    keys.push_back(Key(*s));
    recnos.push_back(s->RecNo());
  }
  EXPECT_EQ(38u, keys.size());  // record 39 is deleted
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
  EXPECT_EQ(std::find(recnos.begin(), recnos.end(), 39u), recnos.end());
  EXPECT_EQ(40u, s->RecNo());  // the phantom record after the last
  EXPECT_EQ("    ", s->FieldGet("INDEX_TYP").GetString());
  s->Skip(-1);
  EXPECT_FALSE(s->Eof());
  EXPECT_EQ(keys.back(), Key(*s));
  s->GoTop();
  s->Skip(-1);
  EXPECT_TRUE(s->Bof());
  EXPECT_EQ(keys.front(), Key(*s));

  rt::SetDeleted(false);
  size_t all = 0;
  for (s->GoTop(); !s->Eof(); s->Skip()) ++all;
  EXPECT_EQ(39u, all);
  EXPECT_TRUE(errors_.errors().empty());
}

TEST_F(DBServerTest, SeekFindsVisibleRecordsByPrefix) {
  auto s = DBServer::Open(Ind("doc02 "));
  ASSERT_NE(nullptr, s);
  EXPECT_TRUE(s->Seek(rt::Value::String("V   20170715")));
  EXPECT_EQ(38u, s->RecNo());  // 39 has the same key but is deleted
  EXPECT_DOUBLE_EQ(25.0, s->FieldGet("INDEX_100").GetFloat());
  EXPECT_TRUE(s->Seek(rt::Value::String("CS")));
  EXPECT_EQ("CS  ", s->FieldGet("INDEX_TYP").GetString());
  EXPECT_FALSE(s->Seek(rt::Value::String("ZZ")));
  EXPECT_TRUE(s->Eof());
  // Natural order has nothing to seek in.
  ASSERT_TRUE(s->SetOrder(0u));
  EXPECT_FALSE(s->Seek(rt::Value::String("C")));
  ASSERT_EQ(1u, errors_.errors().size());
  EXPECT_EQ(36u, errors_.errors()[0].gen_code);
  EXPECT_EQ("DBFCDX", errors_.errors()[0].subsystem);
}

TEST_F(DBServerTest, FieldPutNeedsTheRecordLockInSharedMode) {
  auto before = ReadFileBytes(Ind("doc02 "));
  auto s = DBServer::Open(Ind("doc02 "));
  ASSERT_NE(nullptr, s);
  ASSERT_TRUE(s->Seek(rt::Value::String("C   20170101")));
  EXPECT_FALSE(s->FieldPut("INDEX_100", rt::Value::Float(99.5, 2)));
  ASSERT_EQ(1u, errors_.errors().size());
  EXPECT_EQ(38u, errors_.errors()[0].gen_code);
  EXPECT_TRUE(errors_.errors()[0].can_retry);
  EXPECT_EQ(before, ReadFileBytes(Ind("doc02 ")));

  ASSERT_TRUE(s->RLock());
  {
    platform::FaultPlan plan;
    platform::FaultScope scope(&plan);
    ASSERT_TRUE(s->RLock());  // held already: kept, not released and taken again
    EXPECT_EQ(0u, plan.locks);
  }
  ASSERT_TRUE(s->FieldPut("INDEX_100", rt::Value::Float(99.5, 2)));
  ASSERT_TRUE(s->Unlock());
  uint32_t recno = s->RecNo();
  s->Close();

  auto again = DBServer::Open(Ind("doc02 "));
  ASSERT_TRUE(again->Seek(rt::Value::String("C   20170101")));
  EXPECT_EQ(recno, again->RecNo());
  EXPECT_DOUBLE_EQ(99.5, again->FieldGet("INDEX_100").GetFloat());
  // Only that field's bytes changed (and nothing in the header but the date).
  auto after = ReadFileBytes(Ind("doc02 "));
  ASSERT_EQ(before.size(), after.size());
  size_t field_at = again->table().header().header_length +
                    (recno - 1) * again->table().record_length() + 13;
  for (size_t i = 0; i < before.size(); ++i) {
    if (i >= 1 && i <= 3) continue;
    if (i >= field_at && i < field_at + 10) continue;
    ASSERT_EQ(before[i], after[i]) << "byte " << i;
  }
  EXPECT_EQ("     99.50", std::string(after.begin() + field_at, after.begin() + field_at + 10));
}

// Every tag of the table agrees with its records (the index checker's faults
// fail the test).
void ExpectIndexSound(DBServer& db) {
  IndexCheckReport report;
  ASSERT_TRUE(CheckIndex(*db.index(), db.LastRec(),
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
        return role == 'D' ? std::make_unique<RecordWriteCounter>(std::move(f), header_length,
                                                                 &writes)
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

TEST_F(DBServerTest, TypeAndWidthErrors) {
  auto s = DBServer::Open(Ind("doc02 "));
  ASSERT_TRUE(s->RLock());
  EXPECT_FALSE(s->FieldPut("INDEX_DAT", rt::Value::String("20170101")));
  EXPECT_FALSE(s->FieldPut("NO_SUCH", rt::Value::Long(1)));
  ASSERT_EQ(2u, errors_.errors().size());
  EXPECT_EQ(33u, errors_.errors()[0].gen_code);
  EXPECT_EQ(14u, errors_.errors()[1].gen_code);
  errors_.clear();
  // Too wide: reported, and even the default answer stores nothing (no
  // stars, no cut value); a value longer only by blanks fits.
  const std::vector<uint8_t> before = s->record();
  const uint32_t width = s->Structure()[s->FieldPos("INDEX_TYP") - 1].length;
  struct {
    const char* field;
    rt::Value value;
    bool fits;
  } cases[] = {{"INDEX_100", rt::Value::Float(123456789.0, 2), false},
               {"INDEX_TYP", rt::Value::String(std::string(width + 1, 'X')), false},
               {"INDEX_TYP", rt::Value::String(std::string(width, ' ') + "Z"), false},
               {"INDEX_TYP", rt::Value::String(s->FieldGet("INDEX_TYP").GetString() + "   "),
                true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    errors_.clear();
    EXPECT_EQ(c.fits, s->FieldPut(c.field, c.value));
    if (c.fits) continue;
    ASSERT_EQ(1u, errors_.errors().size());
    EXPECT_EQ(34u, errors_.errors()[0].gen_code);
    EXPECT_TRUE(errors_.errors()[0].can_default);
    EXPECT_EQ(before, s->record());
  }
  s->Close();
  auto again = DBServer::Open(Ind("doc02 "));
  EXPECT_EQ(before, again->record());
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

TEST_F(DBServerTest, RuntimeClassIsLateBound) {
  RegisterDBServerClass();
  rt::Value db = rt::CreateInstance(
      rt::String2Symbol("DBSERVER"),
      std::vector<rt::Value>{rt::Value::String(Ind("doc02 ")), rt::Value::Logic(true),
                             rt::Value::Logic(false), rt::Value::String("DBFCDX")});
  ASSERT_TRUE(db.IsObject());
  rt::Send(db, "GoTop");
  EXPECT_FALSE(rt::IVarGet(db, rt::String2Symbol("EOF")).GetLogic());
  EXPECT_EQ(39, rt::IVarGet(db, rt::String2Symbol("LASTREC")).GetLong());
  rt::Value by_symbol =
      rt::Send(db, "FieldGet", {rt::Value::Sym(rt::String2Symbol("INDEX_TYP"))});
  rt::Value by_name = rt::Send(db, "FieldGet", {rt::Value::String("index_typ")});
  rt::Value by_pos = rt::Send(db, "FieldGet", {rt::Value::Long(1)});
  EXPECT_EQ("C   ", by_symbol.GetString());
  EXPECT_TRUE(by_symbol == by_name);
  EXPECT_TRUE(by_symbol == by_pos);
  EXPECT_TRUE(rt::Send(db, "Seek", {rt::Value::String("K   2017")}).GetLogic());
  EXPECT_TRUE(rt::Send(db, "RLock").GetLogic());
  rt::Send(db, "FieldPut", {rt::Value::Sym(rt::String2Symbol("INDEX_100")),
                            rt::Value::Float(1.5, 2)});
  EXPECT_DOUBLE_EQ(1.5, rt::Send(db, "FieldGet", {rt::Value::Long(3)}).GetFloat());
  rt::Send(db, "Unlock");
  EXPECT_EQ(3, rt::IVarGet(db, rt::String2Symbol("FCOUNT")).GetLong());
  rt::Send(db, "Close");
  EXPECT_TRUE(rt::IVarGet(db, rt::String2Symbol("EOF")).GetLogic());
  EXPECT_TRUE(errors_.errors().empty());
}

TEST_F(DBServerTest, OpenFailuresAreRaisedWithTheirOsCode) {
  EXPECT_EQ(nullptr, DBServer::Open(tree_ + "/root/data/nowhere/ind_100.dbf"));
  EXPECT_EQ(nullptr, DBServer::Open(tree_ + "/root/data/doc02 /missing.dbf"));
  ASSERT_EQ(2u, errors_.errors().size());
  EXPECT_EQ(21u, errors_.errors()[0].gen_code);
  EXPECT_EQ(3u, errors_.errors()[0].os_code);
  EXPECT_EQ(2u, errors_.errors()[1].os_code);
  EXPECT_EQ("DBFCDX", errors_.errors()[1].subsystem);
  // Held exclusively elsewhere: a sharing violation, which may be retried.
  errors_.clear();
  auto exclusive = DBServer::Open(Ind("doc03 "), false);
  ASSERT_NE(nullptr, exclusive);
  errors_.set_retries(2);
  EXPECT_EQ(nullptr, DBServer::Open(Ind("doc03 ")));
  ASSERT_EQ(3u, errors_.errors().size());  // two retries, then default
  EXPECT_EQ(32u, errors_.errors()[2].os_code);
  EXPECT_TRUE(errors_.errors()[2].can_retry);
}

TEST_F(DBServerTest, CloseAllHookClosesEveryTable) {
  auto a = DBServer::Open(Ind("doc01 "));
  auto b = DBServer::Open(Tarif("doc01 "));
  ASSERT_TRUE(a->used() && b->used());
  rt::XQDBCloseAll();
  EXPECT_FALSE(a->used());
  EXPECT_FALSE(b->used());
}

}  // namespace
}  // namespace tables
