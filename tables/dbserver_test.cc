// DBServer over copies of the demo installation: navigation in the controlling
// order with deleted records hidden, Seek, field reads and writes under locks
// (and their refusal without), type and width errors, the runtime class, open
// failures and CloseAll.
#include "tables/dbserver.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/file_faults.h"
#include "runtime/object.h"
#include "tables/testing/dbserver_fixture.h"

namespace tables {
namespace {

using dbftest::DBServerTest;
using dbftest::Key;
using dbftest::ReadFileBytes;

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
  size_t field_at =
      again->table().header().header_length + (recno - 1) * again->table().record_length() + 13;
  for (size_t i = 0; i < before.size(); ++i) {
    if (i >= 1 && i <= 3) continue;
    if (i >= field_at && i < field_at + 10) continue;
    ASSERT_EQ(before[i], after[i]) << "byte " << i;
  }
  EXPECT_EQ("     99.50", std::string(after.begin() + field_at, after.begin() + field_at + 10));
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
  } cases[] = {
      {"INDEX_100", rt::Value::Float(123456789.0, 2), false},
      {"INDEX_TYP", rt::Value::String(std::string(width + 1, 'X')), false},
      {"INDEX_TYP", rt::Value::String(std::string(width, ' ') + "Z"), false},
      {"INDEX_TYP", rt::Value::String(s->FieldGet("INDEX_TYP").GetString() + "   "), true}};
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
  rt::Value by_symbol = rt::Send(db, "FieldGet", {rt::Value::Sym(rt::String2Symbol("INDEX_TYP"))});
  rt::Value by_name = rt::Send(db, "FieldGet", {rt::Value::String("index_typ")});
  rt::Value by_pos = rt::Send(db, "FieldGet", {rt::Value::Long(1)});
  EXPECT_EQ("C   ", by_symbol.GetString());
  EXPECT_TRUE(by_symbol == by_name);
  EXPECT_TRUE(by_symbol == by_pos);
  EXPECT_TRUE(rt::Send(db, "Seek", {rt::Value::String("K   2017")}).GetLogic());
  EXPECT_TRUE(rt::Send(db, "RLock").GetLogic());
  rt::Send(db, "FieldPut",
           {rt::Value::Sym(rt::String2Symbol("INDEX_100")), rt::Value::Float(1.5, 2)});
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
