// AppendDB is all or nothing: whatever fails part-way (a write, a lock, a
// source record of the wrong kind), the target's table, memo and index files
// stay byte-identical and AppendDB reports failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_faults.h"
#include "runtime/settings.h"
#include "tables/cdx/cdx_pager.h"
#include "tables/cdx/rollback_journal.h"
#include "tables/dbf/dbf_create.h"
#include "tables/dbserver.h"
#include "tables/testing/table_fixture.h"
#include "tables/tools/cdx_check.h"

namespace tables {
namespace {

using dbftest::ErrorCatcher;
using dbftest::FixtureRoot;
using dbftest::ReadFileBytes;
using dbftest::ScratchDir;

struct Files {
  std::vector<uint8_t> dbf, fpt, cdx;
  bool operator==(const Files&) const = default;
};

Files Snapshot(const std::string& base) {
  return {ReadFileBytes(base + ".dbf"), ReadFileBytes(base + ".fpt"), ReadFileBytes(base + ".cdx")};
}

class AppendDBFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = scratch_.Copy(dbftest::DemoTree(), "tree");
    target_ = tree_ + "/root/data/doc01 /tarif";
    source_ = tree_ + "/prog/tarif2017.dbf";
    original_ = Snapshot(target_);
    old_deleted_ = rt::SetDeleted(true);
  }
  void TearDown() override { rt::SetDeleted(old_deleted_); }

  ScratchDir scratch_;
  std::string tree_, target_, source_;
  Files original_;
  bool old_deleted_ = false;
  ErrorCatcher errors_;
};

TEST_F(AppendDBFaultTest, EveryFailedWriteLeavesTheTargetByteIdentical) {
  // 0: the index pages go out at the end; 4: written as soon as four have
  // changed (the bound of a long append, made tiny), and the undo reads
  // every old byte back from the journal.
  for (size_t spill : {size_t{0}, size_t{4}}) {
    SCOPED_TRACE("spill bound " + std::to_string(spill));
    const uint64_t held = SetHeldImageBytes(spill ? 0 : 256 << 10);
    auto open = [&](const std::string& path) {
      auto s = DBServer::Open(path);
      if (s && spill) s->index()->pager().set_spill_limit(spill);
      return s;
    };
    uint64_t writes_needed = 0;
    {
      // A successful run on a scratch copy tells how many writes an append takes.
      ScratchDir probe;
      std::string copy = probe.Copy(tree_ + "/root/data/doc01 ", "doc");
      auto s = open(copy + "/tarif.dbf");
      ASSERT_NE(nullptr, s);
      platform::FaultPlan count;
      platform::FaultScope scope(&count);
      ASSERT_TRUE(s->AppendDB(source_));
      if (spill) {
        EXPECT_GT(s->index()->pager().stats().spills, 0u);
      }
      writes_needed = count.writes;
    }
    ASSERT_GT(writes_needed, 3u);
    for (uint64_t n = 1; n <= writes_needed; ++n) {
      SCOPED_TRACE("failing write " + std::to_string(n));
      auto s = open(target_ + ".dbf");
      ASSERT_NE(nullptr, s);
      errors_.clear();
      platform::FaultPlan plan;
      plan.fail_write_at = n;
      plan.write_code = platform::kErrorDiskFull;
      {
        platform::FaultScope scope(&plan);
        EXPECT_FALSE(s->AppendDB(source_));
      }
      ASSERT_FALSE(errors_.errors().empty());
      EXPECT_EQ("DBFCDX", errors_.errors().back().subsystem);
      s->Close();
      Files now = Snapshot(target_);
      EXPECT_TRUE(now.dbf == original_.dbf) << "dbf differs";
      EXPECT_TRUE(now.fpt == original_.fpt) << "fpt differs";
      ASSERT_TRUE(now.cdx == original_.cdx) << "cdx differs";
    }
    SetHeldImageBytes(held);
  }
}

TEST_F(AppendDBFaultTest, FailedLocksLeaveTheTargetByteIdentical) {
  int failures = 0;
  for (uint64_t n = 1; n <= 8; ++n) {
    SCOPED_TRACE("failing lock " + std::to_string(n));
    std::string copy = scratch_.Copy(tree_ + "/root/data/doc01 ", "lock" + std::to_string(n));
    Files before = Snapshot(copy + "/tarif");
    auto s = DBServer::Open(copy + "/tarif.dbf");
    ASSERT_NE(nullptr, s);
    platform::FaultPlan plan;
    plan.fail_lock_at = n;
    bool ok;
    {
      platform::FaultScope scope(&plan);
      ok = s->AppendDB(source_);
    }
    uint32_t count = s->LastRec();
    s->Close();
    // Either the whole append went through (the header lock is waited for,
    // so one refusal there is retried) or nothing changed.
    if (ok) {
      EXPECT_EQ(30u + 58u, count);
    } else {
      ++failures;
      ASSERT_TRUE(Snapshot(copy + "/tarif") == before);
    }
  }
  EXPECT_GT(failures, 0);
}

// Every entry of a tag, deleted records included, read through the work
// area's own index (and so through whatever it has cached).
std::vector<std::pair<std::string, uint32_t>> Entries(DBServer& s, size_t tag) {
  std::vector<std::pair<std::string, uint32_t>> out;
  IndexCursor c;
  Status is = s.index()->First(tag, &c);
  while (is.ok() && c.valid) {
    out.emplace_back(c.key, c.recno);
    is = s.index()->Next(&c);
  }
  EXPECT_TRUE(is.ok()) << is.text();
  return out;
}

void ExpectIndexMatchesTheRecords(DBServer& s) {
  IndexCheckReport report;
  Status is = CheckIndex(
      *s.index(), s.LastRec(),
      [&](uint32_t recno, std::vector<uint8_t>* record) {
        record->resize(s.table().record_length());
        Status st = s.table().ReadRecord(recno, record->data());
        return st.ok() ? Status::Ok() : Status::Corruption(st.text());
      },
      &report);
  ASSERT_TRUE(is.ok()) << is.text();
  for (const std::string& f : report.faults) ADD_FAILURE() << f;
}

// The undo puts the index file back under the work area's feet: the same open
// DBServer must then see the old entries only (no page of the undone attempt
// may survive in its cache), and a later AppendDB must build on the file as it
// is. Shared and exclusive opens trust their cache differently, so both.
class AppendDBCacheTest : public AppendDBFaultTest, public ::testing::WithParamInterface<bool> {};

TEST_P(AppendDBCacheTest, FailedAttemptsLeaveNoTraceInTheOpenIndex) {
  const bool shared = GetParam();
  uint64_t writes_needed = 0;
  {
    ScratchDir probe;
    auto s = DBServer::Open(probe.Copy(tree_ + "/root/data/doc01 ", "doc") + "/tarif.dbf", shared);
    ASSERT_NE(nullptr, s);
    platform::FaultPlan count;
    platform::FaultScope scope(&count);
    ASSERT_TRUE(s->AppendDB(source_));
    writes_needed = count.writes;
  }
  auto s = DBServer::Open(target_ + ".dbf", shared);
  ASSERT_NE(nullptr, s);
  ASSERT_EQ(2u, s->index()->tag_count());
  std::vector<std::pair<std::string, uint32_t>> old_entries[2] = {Entries(*s, 0), Entries(*s, 1)};
  ASSERT_EQ(30u, old_entries[1].size());
  for (uint64_t n = 1; n <= writes_needed; ++n) {
    SCOPED_TRACE("failing write " + std::to_string(n));
    platform::FaultPlan plan;
    plan.fail_write_at = n;
    plan.write_code = platform::kErrorDiskFull;
    {
      platform::FaultScope scope(&plan);
      EXPECT_FALSE(s->AppendDB(source_));
    }
    EXPECT_EQ(30u, s->LastRec());
    EXPECT_EQ(old_entries[0], Entries(*s, 0));
    ASSERT_EQ(old_entries[1], Entries(*s, 1));
    // Navigation and Seek go through the same cache.
    ASSERT_TRUE(s->SetOrder("CODEDATE"));
    // The target holds 2015 and 2016 only; the source brings 2017.
    const std::string& first_key = old_entries[1].front().first;
    EXPECT_FALSE(s->Seek(rt::Value::String(first_key.substr(0, first_key.size() - 8) + "2017")));
    EXPECT_TRUE(s->Seek(rt::Value::String(old_entries[1].front().first)));
    EXPECT_EQ(old_entries[1].front().second, s->RecNo());
  }
  errors_.clear();
  ASSERT_TRUE(s->AppendDB(source_));
  EXPECT_TRUE(errors_.errors().empty());
  ASSERT_EQ(88u, s->LastRec());
  for (size_t tag = 0; tag < 2; ++tag) {
    auto now = Entries(*s, tag);
    EXPECT_EQ(88u, now.size());
    for (const auto& entry : old_entries[tag]) {
      EXPECT_NE(now.end(), std::find(now.begin(), now.end(), entry)) << entry.first;
    }
    for (const auto& entry : now) {
      if (entry.second > 30u) continue;
      EXPECT_NE(old_entries[tag].end(),
                std::find(old_entries[tag].begin(), old_entries[tag].end(), entry))
          << entry.first;
    }
  }
  ExpectIndexMatchesTheRecords(*s);
  // A fresh open reads the same tree from the file.
  auto entries = Entries(*s, 1);
  s->Close();
  auto fresh = DBServer::Open(target_ + ".dbf", true, true);
  ASSERT_NE(nullptr, fresh);
  EXPECT_EQ(entries, Entries(*fresh, 1));
}

INSTANTIATE_TEST_SUITE_P(SharedAndExclusive, AppendDBCacheTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Shared" : "Exclusive");
                         });

TEST_F(AppendDBFaultTest, TypeMismatchFailsBeforeAnythingIsWritten) {
  std::string odd = scratch_.path() + "/odd.dbf";
  ASSERT_TRUE(CreateTable(odd, 0x03, {{"CODE", 'N', 5, 0}, {"LIBELLE", 'C', 10, 0}}).ok());
  {
    auto w = DBServer::Open(odd, false);
    ASSERT_TRUE(w->Append());
    ASSERT_TRUE(w->FieldPut("CODE", rt::Value::Long(12)));
  }
  auto s = DBServer::Open(target_ + ".dbf");
  EXPECT_FALSE(s->AppendDB(odd));
  ASSERT_EQ(1u, errors_.errors().size());
  EXPECT_EQ(33u, errors_.errors()[0].gen_code);
  s->Close();
  EXPECT_TRUE(Snapshot(target_) == original_);
}

TEST_F(AppendDBFaultTest, AValueTooWideUndoesTheRecordsBeforeIt) {
  // A source whose third record does not fit the target's COEF N(10,2).
  std::string wide = scratch_.path() + "/wide.dbf";
  ASSERT_TRUE(CreateTable(wide, 0x03, {{"CODE", 'C', 5, 0}, {"COEF", 'N', 15, 2}}).ok());
  {
    auto w = DBServer::Open(wide, false);
    for (double v : {1.0, 2.0, 123456789012.0, 3.0}) {
      ASSERT_TRUE(w->Append());
      ASSERT_TRUE(w->FieldPut("COEF", rt::Value::Float(v, 2)));
    }
  }
  auto s = DBServer::Open(target_ + ".dbf");
  EXPECT_FALSE(s->AppendDB(wide));
  ASSERT_EQ(1u, errors_.errors().size());
  EXPECT_EQ(34u, errors_.errors()[0].gen_code);
  s->Close();
  EXPECT_TRUE(Snapshot(target_) == original_);
}

TEST_F(AppendDBFaultTest, CrashAfterTheRecordsLeavesACountOthersCanRead) {
  // kill -9 between the record write and the header write: the next opener
  // counts records from the file size.
  {
    auto s = DBServer::Open(target_ + ".dbf");
    platform::FaultPlan plan;
    plan.crash_after_writes = 1;
    platform::FaultScope scope(&plan);
    EXPECT_FALSE(s->AppendDB(source_));
  }
  auto again = DBServer::Open(target_ + ".dbf");
  ASSERT_NE(nullptr, again);
  EXPECT_GE(again->LastRec(), 30u);
  EXPECT_FALSE(again->table().warnings().empty() && again->LastRec() != 30u &&
               again->table().header().stored_count == again->LastRec());
}

}  // namespace
}  // namespace tables
