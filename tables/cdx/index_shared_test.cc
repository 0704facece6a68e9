// Two processes maintaining one bag at the same time (our engine on both
// sides): each appends and rewrites its own records under the index lock,
// seeing the other's pages through the change counter. Afterwards every
// record's keys are there, once, and the checker finds nothing. And one
// process reading, mostly from its cache without the lock, while the other
// writes: every answer is the bag as it stood at some moment since the
// reader learnt how far the writer had come.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "tables/cdx/cdx_pager.h"
#include "tables/cdx/index.h"
#include "tables/testing/cdx_fixture.h"
#include "tables/testing/other_process.h"
#include "tables/tools/cdx_check.h"

namespace tables {
namespace {

const std::vector<IndexField> kFields = {{"CODE", 'C', 1, 10, 0, 0}, {"NUM", 'N', 11, 8, 0, 0}};
const std::vector<TagSpec> kTags = {
    {"CODE", "CODE", "", false, false},
    {"NUM", "NUM", "", false, true},
    {"MIX", "UPPER(CODE)+STR(NUM,8)", "NUM % 3 != 0", false, false}};

std::vector<uint8_t> MakeRecord(uint32_t recno, int version) {
  std::string code = "K" + std::to_string((recno * 7919u + version * 104729u) % 100000u);
  code.resize(10, ' ');
  std::string num = std::to_string((recno * 31u + version) % 5000u);
  num = std::string(8 - num.size(), ' ') + num;
  std::string r = " " + code + num;
  return std::vector<uint8_t>(r.begin(), r.end());
}

constexpr uint32_t kEach = 1500;

// Appends records first, first+2, ... (count of them), then rewrites each once.
Status Work(const std::string& path, uint32_t first, uint32_t count) {
  auto file = testing::OpenForTest(path, true);
  std::unique_ptr<CdxIndex> index;
  TABLE_RETURN_IF_ERROR(CdxIndex::Open(file.get(), "shared.cdx", kFields, IndexOptions(), &index));
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t r = first + 2 * i;
    TABLE_RETURN_IF_ERROR(index->Append(r, MakeRecord(r, 0)));
  }
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t r = first + 2 * i;
    TABLE_RETURN_IF_ERROR(index->Update(r, MakeRecord(r, 0), MakeRecord(r, 1)));
  }
  return Status::Ok();
}

// The other program is this test binary started again, working on the odd
// records while we work on the even ones.
TEST(IndexSharedTest, TwoProcessesAppendAndUpdateTheSameBag) {
  testing::TempDir dir;
  std::string path = dir.path() + "/shared.cdx";
  {
    auto file = testing::OpenForTest(path, true);
    std::unique_ptr<CdxIndex> index;
    ASSERT_TRUE(
        CdxIndex::Create(file.get(), "shared.cdx", kFields, kTags, IndexOptions(), &index).ok());
  }
  dbftest::OtherProcess child;
  ASSERT_TRUE(child.Start("IndexSharedChild.Work", "TABLES_CHILD_BAG", path));
  Status s = Work(path, 2, kEach);
  ASSERT_EQ(child.Wait(), 0);
  ASSERT_TRUE(s.ok()) << s.text();

  auto file = testing::OpenForTest(path, true);
  std::unique_ptr<CdxIndex> index;
  ASSERT_TRUE(CdxIndex::Open(file.get(), "shared.cdx", kFields, IndexOptions(), &index).ok());
  IndexCheckReport report;
  s = CheckIndex(
      *index, 2 * kEach,
      [](uint32_t r, std::vector<uint8_t>* out) {
        *out = MakeRecord(r, 1);
        return Status::Ok();
      },
      &report);
  ASSERT_TRUE(s.ok()) << s.text();
  for (const std::string& f : report.faults) ADD_FAILURE() << f;
  EXPECT_EQ(report.entries[0], 2 * kEach);
  EXPECT_EQ(report.entries[1], 2 * kEach);
}

// Runs only as the other program of the test above.
TEST(IndexSharedChild, Work) {
  const char* path = std::getenv("TABLES_CHILD_BAG");
  if (path == nullptr || *path == '\0') {
    GTEST_SKIP() << "runs as the other program of IndexSharedTest";
  }
  std::_Exit(Work(path, 1, kEach).ok() ? 0 : 1);
}

// The reader's test: the writer (the other program) rewrites a third of the
// records and appends kGrowth new ones per round, and says so by a signal
// file when the round is written; it starts a round only when the reader has
// checked the last one, and the reader keeps seeking while the round is being
// written. Record r's key is "K" + a scrambled r (its own 6 digits, so that
// appends land all over the tree) + the round that last wrote it.
namespace reading {

const std::vector<IndexField> kFields = {{"CODE", 'C', 1, 12, 0, 0}};
const std::vector<TagSpec> kTags = {{"CODE", "CODE", "", false, false},
                                    {"BACK", "CODE", "", false, true}};
constexpr uint32_t kFirst = 300;  // records before the first round
constexpr uint32_t kGrowth = 30;  // records appended per round
constexpr int kRounds = 16;

std::string Prefix(uint32_t recno) {
  char s[8];
  std::snprintf(s, sizeof s, "K%06u", (recno * 7919u) % 1000000u);
  return s;
}
std::string Key(uint32_t recno, int version) {
  char s[8];
  std::snprintf(s, sizeof s, "%05d", version);
  return Prefix(recno) + s;
}
std::vector<uint8_t> Record(uint32_t recno, int version) {
  std::string r = " " + Key(recno, version);
  return std::vector<uint8_t>(r.begin(), r.end());
}
uint32_t RecordsAfter(int round) { return kFirst + static_cast<uint32_t>(round) * kGrowth; }
int Born(uint32_t recno) {
  return recno <= kFirst ? 0 : static_cast<int>((recno - kFirst + kGrowth - 1) / kGrowth);
}
// Round r rewrites the records with recno % 3 == r % 3 that exist before it.
bool Rewrites(int round, uint32_t recno) {
  return round > Born(recno) && static_cast<uint32_t>(round) % 3 == recno % 3;
}
// The version of a record once `round` rounds are written; -1: not yet there.
int VersionAfter(uint32_t recno, int round) {
  if (recno > RecordsAfter(round)) return -1;
  int v = Born(recno);
  for (int r = v + 1; r <= round; ++r) v = Rewrites(r, recno) ? r : v;
  return v;
}
std::string SignalName(const char* what, int round) { return what + std::to_string(round); }

Status Write(const std::string& path, const std::string& dir) {
  auto file = testing::OpenForTest(path, true);
  std::unique_ptr<CdxIndex> index;
  TABLE_RETURN_IF_ERROR(CdxIndex::Open(file.get(), "read.cdx", kFields, IndexOptions(), &index));
  for (int round = 1; round <= kRounds; ++round) {
    if (!dbftest::AwaitSignal(dir, SignalName("checked-", round - 1))) {
      return Status::Argument("the reader went quiet");
    }
    for (uint32_t r = 1; r <= RecordsAfter(round - 1); ++r) {
      if (!Rewrites(round, r)) continue;
      TABLE_RETURN_IF_ERROR(
          index->Update(r, Record(r, VersionAfter(r, round - 1)), Record(r, round)));
    }
    for (uint32_t r = RecordsAfter(round - 1) + 1; r <= RecordsAfter(round); ++r) {
      TABLE_RETURN_IF_ERROR(index->Append(r, Record(r, round)));
    }
    dbftest::Signal(dir, SignalName("written-", round));
  }
  return Status::Ok();
}

// Seeks every record there after `round` rounds in both orders, and steps
// once past each; an answer is wrong when it shows a record missing, another
// record, or a version older than the one written by then.
void CheckAll(CdxIndex& index, int round, std::mt19937& rng, std::vector<std::string>* faults) {
  std::vector<uint32_t> order(RecordsAfter(round));
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i + 1;
  std::shuffle(order.begin(), order.end(), rng);
  auto check = [&](const IndexCursor& c, const std::string& what) {
    int written = VersionAfter(c.recno, round);
    int v = c.key.size() == 12 ? std::atoi(c.key.c_str() + 7) : -1;
    if (c.key != Key(c.recno, v) || v < written || v > kRounds ||
        (written < 0 && v < Born(c.recno))) {
      faults->push_back(what + ": record " + std::to_string(c.recno) + " with key \"" + c.key +
                        "\" after round " + std::to_string(round));
    }
  };
  for (uint32_t recno : order) {
    size_t tag = recno % 2;
    IndexCursor c;
    bool found = false;
    Status s = index.Seek(tag, Prefix(recno), &c, &found);
    if (!s.ok() || !found || c.recno != recno) {
      faults->push_back("seek of record " + std::to_string(recno) + " after round " +
                        std::to_string(round) + ": " + (s.ok() ? "found " + c.key : s.text()));
      continue;
    }
    check(c, "seek");
    std::string sought = c.key;
    s = index.Next(&c);
    if (!s.ok()) faults->push_back("step: " + s.text());
    if (!c.valid) continue;
    check(c, "step");
    // (When the record was rewritten meanwhile, its new key may come next.)
    if ((c.key > sought) != (tag == 0)) {
      faults->push_back("step from record " + std::to_string(recno) + " went the wrong way");
    }
  }
}

}  // namespace reading

TEST(IndexSharedTest, ReaderSeesEveryWriteOfAnotherProgram) {
  using reading::CheckAll, reading::kRounds, reading::SignalName;
  testing::TempDir dir;
  std::string path = dir.path() + "/read.cdx";
  auto file = testing::OpenForTest(path, true);
  std::unique_ptr<CdxIndex> index;
  ASSERT_TRUE(CdxIndex::Create(file.get(), "read.cdx", reading::kFields, reading::kTags,
                               IndexOptions(), &index)
                  .ok());
  for (uint32_t r = 1; r <= reading::kFirst; ++r) {
    ASSERT_TRUE(index->Append(r, reading::Record(r, 0)).ok());
  }
  // Caches smaller than the tree: some reads find their pages, others miss
  // one half-way and start again under the lock.
  index->pager().SetCacheLimits(4, 16);
  dbftest::OtherProcess child;
  ASSERT_TRUE(child.Start("IndexSharedChild.Write", "TABLES_CHILD_WRITER", path));
  std::mt19937 rng(7);
  std::vector<std::string> faults;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  for (int round = 0; round <= kRounds && faults.empty(); ++round) {
    if (round > 0) {
      ASSERT_TRUE(dbftest::AwaitSignal(dir.path(), SignalName("written-", round)));
    }
    CheckAll(*index, round, rng, &faults);  // the writer waits: answers come from the cache
    dbftest::Signal(dir.path(), SignalName("checked-", round));
    if (round == kRounds) break;
    // Seek on while the next round is being written.
    do {
      CheckAll(*index, round, rng, &faults);
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the writer went quiet";
    } while (faults.empty() && !std::filesystem::exists(std::filesystem::path(dir.path()) /
                                                        SignalName("written-", round + 1)));
  }
  if (!faults.empty()) {
    // Let the writer finish rather than leave it waiting.
    for (int r = 0; r <= kRounds; ++r) dbftest::Signal(dir.path(), SignalName("checked-", r));
  }
  EXPECT_EQ(child.Wait(), 0);
  for (size_t i = 0; i < std::min<size_t>(faults.size(), 5); ++i) ADD_FAILURE() << faults[i];
  EXPECT_GT(index->pager().stats().reads_without_lock, 0u);
  EXPECT_GT(index->pager().stats().cache_drops, 0u);
}

TEST(IndexSharedChild, Write) {
  const char* path = std::getenv("TABLES_CHILD_WRITER");
  if (path == nullptr || *path == '\0') {
    GTEST_SKIP() << "runs as the other program of IndexSharedTest";
  }
  std::string dir = std::filesystem::path(path).parent_path().string();
  std::_Exit(reading::Write(path, dir).ok() ? 0 : 1);
}

TEST(IndexSharedTest, CachedPagesAreDroppedWhenAnotherWriterMovedTheCounter) {
  testing::TempDir dir;
  std::string path = dir.path() + "/shared.cdx";
  auto file_a = testing::OpenForTest(path, true);
  auto file_b = testing::OpenForTest(path, true);
  std::unique_ptr<CdxIndex> a, b;
  ASSERT_TRUE(
      CdxIndex::Create(file_a.get(), "shared.cdx", kFields, kTags, IndexOptions(), &a).ok());
  ASSERT_TRUE(CdxIndex::Open(file_b.get(), "shared.cdx", kFields, IndexOptions(), &b).ok());
  for (uint32_t r = 1; r <= 300; ++r) ASSERT_TRUE(a->Append(r, MakeRecord(r, 0)).ok());
  IndexCursor cb;
  bool found;
  ASSERT_TRUE(b->Seek(0, "K", &cb, &found).ok());  // b caches the tree as it is now
  uint64_t drops = b->pager().stats().cache_drops;
  ASSERT_TRUE(a->Append(301, MakeRecord(301, 0)).ok());
  std::string code301(reinterpret_cast<const char*>(MakeRecord(301, 0).data()) + 1, 10);
  ASSERT_TRUE(b->Seek(0, code301, &cb, &found).ok());
  EXPECT_TRUE(found);
  EXPECT_EQ(cb.recno, 301u);
  EXPECT_GT(b->pager().stats().cache_drops, drops);
  // b writes on top of a's change and a sees b's.
  ASSERT_TRUE(b->Append(302, MakeRecord(302, 0)).ok());
  std::string code302(reinterpret_cast<const char*>(MakeRecord(302, 0).data()) + 1, 10);
  IndexCursor ca;
  ASSERT_TRUE(a->Seek(0, code302, &ca, &found).ok());
  EXPECT_TRUE(found);
  // A cursor held across another writer's change re-finds its place.
  IndexCursor walk;
  ASSERT_TRUE(a->First(1, &walk).ok());
  ASSERT_TRUE(b->Append(303, MakeRecord(303, 0)).ok());
  size_t n = 1;
  while (walk.valid) {
    ASSERT_TRUE(a->Next(&walk).ok());
    n += walk.valid;
  }
  EXPECT_EQ(n, 303u);
}

TEST(IndexSharedTest, CursorKeepsItsPlaceAcrossOurOwnWrites) {
  testing::TempDir dir;
  auto file = testing::OpenForTest(dir.path() + "/own.cdx", true);
  std::unique_ptr<CdxIndex> index;
  ASSERT_TRUE(CdxIndex::Create(file.get(), "own.cdx", kFields, kTags, IndexOptions(), &index).ok());
  for (uint32_t r = 1; r <= 400; ++r) ASSERT_TRUE(index->Append(r, MakeRecord(r, 0)).ok());
  // Walk the CODE order; halfway, give earlier records the current key, so
  // that they land just before the cursor on its own page (which splits).
  IndexCursor c;
  ASSERT_TRUE(index->First(0, &c).ok());
  std::pair<std::string, uint32_t> prev{"", 0};
  size_t steps = 0;
  while (c.valid) {
    std::pair<std::string, uint32_t> here{c.key, c.recno};
    ASSERT_LT(prev, here) << "step " << steps;
    prev = here;
    if (++steps == 200) {
      for (uint32_t r = 1; r < c.recno && r <= 150; ++r) {
        std::vector<uint8_t> rec = MakeRecord(r, 0);
        std::copy(c.key.begin(), c.key.end(), rec.begin() + 1);
        ASSERT_TRUE(index->Update(r, MakeRecord(r, 0), rec).ok());
      }
    }
    ASSERT_TRUE(index->Next(&c).ok());
  }
  EXPECT_GT(steps, 200u);
}

// A rewrite that moves no key (only a field outside every key changed) must
// not touch the bag: no page, no change counter, so other workstations keep
// their caches. A key that moves is written as usual.
TEST(IndexSharedTest, RewriteMovingNoKeyLeavesTheBagUntouched) {
  std::vector<IndexField> fields = kFields;
  fields.push_back({"NOTE", 'C', 19, 5, 0, 0});
  auto with_note = [](uint32_t recno, int version, const char* note) {
    std::vector<uint8_t> rec = MakeRecord(recno, version);
    rec.insert(rec.end(), note, note + 5);
    return rec;
  };
  testing::TempDir dir;
  std::string path = dir.path() + "/quiet.cdx";
  auto file = testing::OpenForTest(path, true);
  std::unique_ptr<CdxIndex> index;
  ASSERT_TRUE(
      CdxIndex::Create(file.get(), "quiet.cdx", fields, kTags, IndexOptions(), &index).ok());
  for (uint32_t r = 1; r <= 200; ++r) ASSERT_TRUE(index->Append(r, with_note(r, 0, "aaaaa")).ok());
  std::vector<uint8_t> before = testing::ReadAll(path);
  for (uint32_t r = 1; r <= 200; ++r) {
    ASSERT_TRUE(index->Update(r, with_note(r, 0, "aaaaa"), with_note(r, 0, "bbbbb")).ok());
  }
  EXPECT_EQ(testing::ReadAll(path), before);
  ASSERT_TRUE(index->Update(7, with_note(7, 0, "bbbbb"), with_note(7, 1, "bbbbb")).ok());
  std::vector<uint8_t> after = testing::ReadAll(path);
  EXPECT_NE(after, before);
  EXPECT_NE(std::vector<uint8_t>(after.begin() + 8, after.begin() + 12),
            std::vector<uint8_t>(before.begin() + 8, before.begin() + 12));  // counter moved
  IndexCheckReport report;
  auto fetch = [&](uint32_t recno, std::vector<uint8_t>* record) {
    *record = with_note(recno, recno == 7 ? 1 : 0, "bbbbb");
    return Status::Ok();
  };
  ASSERT_TRUE(CheckIndex(*index, 200, fetch, &report).ok());
  EXPECT_TRUE(report.ok()) << report.faults.front();
}

}  // namespace
}  // namespace tables
