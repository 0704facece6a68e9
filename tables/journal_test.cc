// Write transactions survive a killed writer: a child (this binary started
// again) dies at write N of a transaction, for every N; the next open rolls
// the transaction back to the bytes it started from (or keeps a held append
// whose marker was written), and doing the work again gives the bytes of an
// uninterrupted run. Also: a journal cut short, a live writer's journal, a
// journal whose files changed after it, the held append's commit and undo.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/file_faults.h"
#include "platform/profile.h"
#include "runtime/convert.h"
#include "runtime/settings.h"
#include "tables/cdx/cdx_pager.h"
#include "tables/cdx/rollback_journal.h"
#include "tables/cdx/table_journal.h"
#include "tables/dbf/byte_order.h"
#include "tables/dbserver.h"
#include "tables/testing/other_process.h"
#include "tables/testing/table_fixture.h"

namespace tables {
namespace {

using dbftest::DemoTree;
using dbftest::ErrorCatcher;
using dbftest::OtherProcess;
using dbftest::ReadFileBytes;
using dbftest::ScratchDir;
using dbftest::WriteFileBytes;

struct Files {
  std::vector<uint8_t> dbf, fpt, cdx;
  bool operator==(const Files&) const = default;
};

Files Snapshot(const std::string& dir) {
  return {ReadFileBytes(dir + "/tarif.dbf"), ReadFileBytes(dir + "/tarif.fpt"),
          ReadFileBytes(dir + "/tarif.cdx")};
}

// The files with the index's change counter (bytes 8 to 11) blanked: recovery
// moves it on when it puts an index back, so that readers of other programs
// drop what they cached while it was half written.
Files WithoutCounter(Files f) {
  if (f.cdx.size() >= 12) std::fill(f.cdx.begin() + 8, f.cdx.begin() + 12, 0);
  return f;
}

uint32_t Counter(const Files& f) { return f.cdx.size() < 12 ? 0 : Be32(f.cdx.data() + 8); }

std::string Ini(const std::string& dir) { return dir + "/marker.ini"; }

// One transaction (and what ends it) on the practice table in dir; the
// source table of the appends is beside it. False when anything failed.
bool RunOp(const std::string& op, const std::string& dir) {
  auto s = DBServer::Open(dir + "/tarif.dbf");
  if (!s) return false;
  bool ok = true;
  const std::string source = dir + "/source.dbf";
  if (op == "appenddb" || op == "appenddb-early") {
    // appenddb-early: index pages written as soon as a few have changed.
    if (op == "appenddb-early") s->index()->pager().set_spill_limit(4);
    ok = s->AppendDB(source);
  } else if (op == "append") {
    ok = s->Append() && s->FieldPut("CODE", rt::Value::String("ZZZ")) &&
         s->FieldPut("LIBELLE", rt::Value::String("ajout")) &&
         s->FieldPut("NOTE", rt::Value::String("une note")) && s->Unlock();
  } else if (op == "rewrite") {
    ok = s->GoTo(2) && s->RLock() && s->FieldPut("CODE", rt::Value::String("AAA")) &&
         s->FieldPut("NOTE", rt::Value::String(std::string(300, 'n'))) && s->Delete() &&
         s->Unlock();
  } else if (op == "held") {
    DBServer::AppendSpec spec;
    spec.marker = CommitCondition{Ini(dir), "Tarifs", "Fait2017"};
    ok = s->AppendDB(source, spec) &&
         platform::WritePrivateProfileStringA("Tarifs", "Fait2017", "1", Ini(dir).c_str()) &&
         s->CommitAppend();
  }
  return s->Close() && ok;
}

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override { old_deleted_ = rt::SetDeleted(true); }
  void TearDown() override { rt::SetDeleted(old_deleted_); }

  // A practice directory with the reference table beside it.
  std::string Practice(const std::string& name) {
    std::string dir = scratch_.Copy(DemoTree() + "/root/data/doc01 ", name);
    WriteFileBytes(dir + "/source.dbf", ReadFileBytes(DemoTree() + "/prog/tarif2017.dbf"));
    WriteFileBytes(dir + "/source.fpt", ReadFileBytes(DemoTree() + "/prog/tarif2017.fpt"));
    WriteFileBytes(dir + "/source.cdx", ReadFileBytes(DemoTree() + "/prog/tarif2017.cdx"));
    return dir;
  }

  ScratchDir scratch_;
  ErrorCatcher errors_;
  bool old_deleted_ = false;
};

TEST_F(JournalTest, KilledAtEveryWriteRollsBackOrKeeps) {
  for (const char* name : {"appenddb", "appenddb-early", "append", "rewrite", "held"}) {
    const std::string op = name;
    SCOPED_TRACE(op);
    // The uninterrupted run: its write count and its bytes.
    std::string reference = Practice("ref-" + op);
    const Files before = Snapshot(reference);
    uint64_t writes = 0;
    {
      platform::FaultPlan count;
      platform::FaultScope scope(&count);
      ASSERT_TRUE(RunOp(op, reference));
      writes = count.writes;
    }
    const Files after = Snapshot(reference);
    ASSERT_NE(before, after);
    EXPECT_FALSE(platform::FileExists(JournalPath(reference + "/tarif.dbf")));
    for (uint64_t n = 1; n <= writes; ++n) {
      SCOPED_TRACE("dies at write " + std::to_string(n));
      std::string dir = Practice(op + std::to_string(n));
      OtherProcess child;
      ASSERT_TRUE(child.Start("JournalKillChild.*", "TABLES_KILL",
                              op + "|" + std::to_string(n) + "|" + dir));
      ASSERT_EQ(platform::kFaultExitCode, child.Wait());
      const bool marked =
          platform::GetPrivateProfileIntA("Tarifs", "Fait2017", 0, Ini(dir).c_str()) == 1;
      {
        auto s = DBServer::Open(dir + "/tarif.dbf");  // recovers
        ASSERT_NE(nullptr, s);
        ASSERT_TRUE(s->Close());
      }
      EXPECT_FALSE(platform::FileExists(JournalPath(dir + "/tarif.dbf")));
      Files now = Snapshot(dir);
      const Files& expected = marked ? after : before;
      EXPECT_TRUE(now.dbf == expected.dbf) << "dbf";
      EXPECT_TRUE(now.fpt == expected.fpt) << "fpt";
      // Put back: the same index, its counter unchanged (never touched) or
      // moved past both values the transaction gave it.
      ASSERT_TRUE(now.cdx == expected.cdx ||
                  (!marked && WithoutCounter(now).cdx == WithoutCounter(before).cdx &&
                   Counter(now) == Counter(before) + 2))
          << "cdx";
      if (!marked) {
        platform::WritePrivateProfileStringA("Tarifs", nullptr, nullptr, Ini(dir).c_str());
        ASSERT_TRUE(RunOp(op, dir));
        ASSERT_TRUE(WithoutCounter(Snapshot(dir)) == WithoutCounter(after))
            << "the work done again differs";
      }
    }
  }
  EXPECT_TRUE(errors_.errors().empty());
}

// Runs only as the child of the test above: dies at write N of the operation.
TEST(JournalKillChild, Run) {
  const char* arg = std::getenv("TABLES_KILL");
  if (arg == nullptr || *arg == '\0') GTEST_SKIP() << "runs as the child of JournalTest";
  ErrorCatcher errors;
  rt::SetDeleted(true);
  std::string a = arg;
  size_t bar1 = a.find('|'), bar2 = a.find('|', bar1 + 1);
  platform::FaultPlan plan;
  plan.exit_at_write = std::strtoull(a.substr(bar1 + 1, bar2 - bar1 - 1).c_str(), nullptr, 10);
  platform::FaultScope scope(&plan);
  const std::string op = a.substr(0, bar1), dir = a.substr(bar2 + 1);
  if (op == "hold") {
    // Holds an append and ends without a word, as a killed writer would.
    auto s = DBServer::Open(dir + "/tarif.dbf");
    DBServer::AppendSpec spec;
    spec.marker = CommitCondition{Ini(dir), "Tarifs", "Fait2017"};
    std::_Exit(s && s->AppendDB(dir + "/source.dbf", spec) ? 0 : 1);
  }
  RunOp(op, dir);
  std::_Exit(0);
}

// A transaction saves what it will overwrite before it writes: the journal is
// flushed once before the first table byte changes, whatever the transaction
// writes after (a record and its index entries; index pages written early by
// a long append), and the table files once at its end.
TEST_F(JournalTest, OneJournalFlushPerTransaction) {
  struct Case {
    const char* op;
    uint64_t journal_flushes;  // at most
    uint64_t table_flushes;
  };
  const Case cases[] = {
      {"append-no-memo", 1, 2},  // the record, its index entries
      {"appenddb-early", 2, 3},  // the records first, then every index page at once
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.op);
    const std::string dir = Practice(c.op);
    auto s = DBServer::Open(dir + "/tarif.dbf");
    ASSERT_NE(nullptr, s);
    if (std::string(c.op) == "append-no-memo") {
      ASSERT_TRUE(s->Append() && s->FieldPut("CODE", rt::Value::String("ZZZ")) &&
                  s->FieldPut("LIBELLE", rt::Value::String("ajout")) && s->Unlock());
    } else {
      s->index()->pager().set_spill_limit(1);
      ASSERT_TRUE(s->AppendDB(dir + "/source.dbf"));
      EXPECT_GT(s->index()->pager().stats().spills, 1u);
    }
    EXPECT_LE(s->journal()->stats().journal_flushes, c.journal_flushes);
    EXPECT_EQ(c.table_flushes, s->journal()->stats().table_flushes);
    ASSERT_TRUE(s->Close());
  }
}

TEST_F(JournalTest, HeldAppendCommitsWithItsMarkerOnly) {
  struct {
    const char* how;
    bool marker_written;
    bool kept;
  } cases[] = {{"commit", true, true},
               {"rollback", true, false},
               {"close", true, true},
               {"close", false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.how) + (c.marker_written ? " marked" : " unmarked"));
    std::string dir = Practice(std::string("held-") + c.how + (c.marker_written ? "1" : "0"));
    const Files before = Snapshot(dir);
    auto s = DBServer::Open(dir + "/tarif.dbf");
    ASSERT_NE(nullptr, s);
    const uint32_t count = s->LastRec();
    DBServer::AppendSpec spec;
    spec.marker = CommitCondition{Ini(dir), "Tarifs", "Fait2017"};
    ASSERT_TRUE(s->AppendDB(dir + "/source.dbf", spec));
    EXPECT_TRUE(s->holding_append());
    EXPECT_TRUE(platform::FileExists(JournalPath(dir + "/tarif.dbf")));
    // Another opener reads meanwhile and leaves the live journal alone.
    {
      auto reader = DBServer::Open(dir + "/tarif.dbf", true, true);
      ASSERT_NE(nullptr, reader);
      EXPECT_GT(reader->LastRec(), count);
    }
    EXPECT_TRUE(platform::FileExists(JournalPath(dir + "/tarif.dbf")));
    if (c.marker_written) {
      ASSERT_TRUE(
          platform::WritePrivateProfileStringA("Tarifs", "Fait2017", "1", Ini(dir).c_str()));
    }
    if (std::string(c.how) == "commit") {
      ASSERT_TRUE(s->CommitAppend());
    } else if (std::string(c.how) == "rollback") {
      ASSERT_TRUE(s->RollbackAppend());
    }
    EXPECT_EQ(std::string(c.how) == "close", s->holding_append());
    ASSERT_TRUE(s->Close());
    EXPECT_FALSE(platform::FileExists(JournalPath(dir + "/tarif.dbf")));
    auto again = DBServer::Open(dir + "/tarif.dbf");
    ASSERT_NE(nullptr, again);
    EXPECT_EQ(c.kept, again->LastRec() > count);
    again->Close();
    if (!c.kept) {
      EXPECT_TRUE(Snapshot(dir) == before);
    }
  }
  EXPECT_TRUE(errors_.errors().empty());
}

TEST_F(JournalTest, JournalsThatAreNotRolledBack) {
  // Cut short (nothing had changed), empty, or not a journal: discarded.
  for (const std::string& junk : {std::string("XQ"), std::string(), std::string(100, '\0')}) {
    std::string dir = Practice("junk" + std::to_string(junk.size()));
    const Files before = Snapshot(dir);
    WriteFileBytes(JournalPath(dir + "/tarif.dbf"), std::vector<uint8_t>(junk.begin(), junk.end()));
    auto s = DBServer::Open(dir + "/tarif.dbf");
    ASSERT_NE(nullptr, s);
    s->Close();
    EXPECT_FALSE(platform::FileExists(JournalPath(dir + "/tarif.dbf")));
    EXPECT_TRUE(Snapshot(dir) == before);
  }
  // A writer died holding its append; then another program changed the index
  // (its change counter moved): undoing would destroy that change, so the open
  // is refused until recovery is forced.
  std::string dir = Practice("changed");
  const Files before = Snapshot(dir);
  OtherProcess child;
  ASSERT_TRUE(child.Start("JournalKillChild.*", "TABLES_KILL", "hold|0|" + dir));
  ASSERT_EQ(0, child.Wait());
  ASSERT_TRUE(platform::FileExists(JournalPath(dir + "/tarif.dbf")));
  std::vector<uint8_t> cdx = ReadFileBytes(dir + "/tarif.cdx");
  cdx[11] ^= 0x40;
  WriteFileBytes(dir + "/tarif.cdx", cdx);
  EXPECT_EQ(nullptr, DBServer::Open(dir + "/tarif.dbf"));
  ASSERT_EQ(1u, errors_.errors().size());
  EXPECT_EQ(32u, errors_.errors()[0].gen_code);
  errors_.clear();
  EXPECT_TRUE(platform::FileExists(JournalPath(dir + "/tarif.dbf")));
  RecoveryResult result = RecoveryResult::kNone;
  std::string detail;
  ASSERT_TRUE(
      DBServer::Recover(dir + "/tarif.dbf", true, LockSchemeId::kVfp, true, &result, &detail).ok());
  EXPECT_EQ(RecoveryResult::kRolledBack, result) << detail;
  EXPECT_TRUE(WithoutCounter(Snapshot(dir)) == WithoutCounter(before));
  EXPECT_EQ(Counter(Snapshot(dir)), Counter(before) + 2);
  EXPECT_FALSE(platform::FileExists(JournalPath(dir + "/tarif.dbf")));
}

// The end record of a transaction that changed the table only: the files as
// its writes left them are undone; another program's later change to any of
// them (the index too, which may hold keys of the rewritten record) stops it.
TEST_F(JournalTest, RecoveryAfterTheEndRecordOfARewrite) {
  struct Case {
    const char* what;
    std::function<void(const std::string& dir)> after;
    RecoveryResult result;
  };
  const Case cases[] = {
      {"nobody wrote after it", [](const std::string&) {}, RecoveryResult::kRolledBack},
      {"the index it did not touch changed",
       [](const std::string& dir) {
         std::vector<uint8_t> cdx = ReadFileBytes(dir + "/tarif.cdx");
         cdx[11] ^= 0x40;
         WriteFileBytes(dir + "/tarif.cdx", cdx);
       },
       RecoveryResult::kRefused},
      {"the table it changed grew",
       [](const std::string& dir) {
         std::vector<uint8_t> dbf = ReadFileBytes(dir + "/tarif.dbf");
         dbf.push_back(0x1A);
         WriteFileBytes(dir + "/tarif.dbf", dbf);
       },
       RecoveryResult::kRefused},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string dir = Practice("ended" + std::to_string(++n));
    const std::string path = dir + "/tarif.dbf";
    const std::vector<uint8_t> old_dbf = ReadFileBytes(path);
    {
      // A writer that marked the end of its rewrite of record 1 and died.
      std::unique_ptr<platform::File> dbf, cdx;
      for (auto [name, file] : {std::pair{path, &dbf}, std::pair{dir + "/tarif.cdx", &cdx}}) {
        ASSERT_TRUE(platform::OpenFile(name, platform::Access::kReadWrite,
                                       platform::Share::kDenyNone,
                                       platform::Disposition::kOpenExisting, 0, file)
                        .ok());
      }
      RollbackJournal journal(path);
      JournalFile table(std::move(dbf), &journal, 'D');
      journal.Attach('D', table.base(), path);
      journal.Attach('C', cdx.get(), dir + "/tarif.cdx");
      ASSERT_TRUE(journal.Begin().ok());
      const uint8_t star = '*';
      ASSERT_TRUE(
          table.WriteAt(static_cast<uint64_t>(old_dbf[8] | old_dbf[9] << 8), &star, 1).ok());
      ASSERT_TRUE(journal.MarkEnd(true).ok());
      journal.Abandon();
    }
    c.after(dir);
    RecoveryResult result = RecoveryResult::kNone;
    std::string detail;
    Status st = DBServer::Recover(path, true, LockSchemeId::kVfp, false, &result, &detail);
    EXPECT_EQ(c.result, result) << detail;
    EXPECT_EQ(c.result == RecoveryResult::kRolledBack, st.ok()) << st.text();
    EXPECT_EQ(c.result != RecoveryResult::kRolledBack, platform::FileExists(JournalPath(path)));
    if (c.result == RecoveryResult::kRolledBack) {
      EXPECT_TRUE(ReadFileBytes(path) == old_dbf);
    }
  }
}

// A transaction starts where its journal goes: an empty file there (a journal
// emptied by a writer whose delete failed) is void and taken over; a journal
// with contents, left by a dead writer since the table was opened, refuses the
// write until the next open recovers it.
TEST_F(JournalTest, AJournalFoundWhereATransactionStarts) {
  struct Case {
    std::string left;
    bool written;
  };
  const Case cases[] = {{"", true}, {"XQJNL", false}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.left);
    const std::string dir = Practice("found" + std::to_string(++n));
    const std::string path = dir + "/tarif.dbf";
    auto s = DBServer::Open(path);
    ASSERT_NE(nullptr, s);
    // A first transaction, then the file appears.
    ASSERT_TRUE(s->GoTo(1) && s->RLock() && s->FieldPut("LIBELLE", rt::Value::String("un")) &&
                s->Unlock());
    ASSERT_FALSE(platform::FileExists(JournalPath(path)));
    WriteFileBytes(JournalPath(path), std::vector<uint8_t>(c.left.begin(), c.left.end()));
    EXPECT_TRUE(s->GoTo(2) && s->RLock());
    EXPECT_EQ(c.written, s->FieldPut("LIBELLE", rt::Value::String("deux")));
    s->Unlock();
    EXPECT_EQ(c.written, errors_.errors().empty());
    errors_.clear();
    EXPECT_EQ(!c.written, platform::FileExists(JournalPath(path)));
    ASSERT_TRUE(s->Close());
    auto again = DBServer::Open(path);  // recovers what was left
    ASSERT_NE(nullptr, again);
    ASSERT_TRUE(again->GoTo(2));
    EXPECT_EQ(c.written, rt::RTrim(again->FieldGet("LIBELLE").GetString()) == "deux");
    again->Close();
    EXPECT_FALSE(platform::FileExists(JournalPath(path)));
  }
  EXPECT_TRUE(errors_.errors().empty());
}

}  // namespace
}  // namespace tables
