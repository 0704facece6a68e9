// A batch of appended records (AppendRecords: keys sorted per tag, read-ahead,
// changed pages written early past a bound) gives every tag exactly the
// entries of the same records appended one by one, on a tree whose leaves are
// all full (built in key order, every first insertion splits) and on one grown
// in random order, with unique, FOR and descending tags; the checker finds no
// fault and the file, opened again, reads the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tables/cdx/cdx_pager.h"
#include "tables/cdx/index.h"
#include "tables/testing/cdx_fixture.h"
#include "tables/tools/cdx_check.h"

namespace tables {
namespace {

using Entries = std::vector<std::pair<std::string, uint32_t>>;

const std::vector<IndexField> kFields = {{"NAME", 'C', 1, 8, 0, 0},
                                         {"QTY", 'N', 9, 6, 2, 0},
                                         {"DAY", 'D', 15, 8, 0, 0},
                                         {"OK", 'L', 23, 1, 0, 0}};
const std::vector<TagSpec> kTags = {{"NAMEDAY", "NAME+DTOS(DAY)", "", false, false},
                                    {"LIVE", "UPPER(NAME)", "!DELETED() .AND. OK", false, false},
                                    {"QTYD", "QTY", "", false, true},
                                    {"UQTY", "QTY", "", true, false}};

// Record i: a name and date spread over the key space, or (ordered) rising
// with i, so that appends in record order fill every leaf.
std::vector<uint8_t> MakeRecord(std::mt19937& rng, uint32_t i, bool ordered) {
  std::vector<uint8_t> rec(24, ' ');
  char name[16];
  std::snprintf(name, sizeof name, "%08u",
                ordered ? i * 16 : static_cast<uint32_t>(rng() % 99999999));
  std::copy(name, name + 8, rec.begin() + 1);
  char qty[16];
  std::snprintf(qty, sizeof qty, "%6.2f", (ordered ? i % 900 : rng() % 900) / 3.0);
  std::copy(qty, qty + 6, rec.begin() + 9);
  std::snprintf(name, sizeof name, "2017%02u%02u",
                static_cast<unsigned>(1 + (ordered ? 0 : rng() % 12)), 1 + i % 28);
  std::copy(name, name + 8, rec.begin() + 15);
  rec[23] = "TF"[rng() % 2];
  if (rng() % 7 == 0) rec[0] = '*';
  return rec;
}

struct Bag {
  testing::TempDir dir;
  std::unique_ptr<platform::File> file;
  std::unique_ptr<CdxIndex> index;
  std::vector<std::vector<uint8_t>> records;

  explicit Bag(bool shared) {
    file = testing::OpenForTest(dir.path() + "/b.cdx", true);
    IndexOptions options;
    options.shared = shared;
    Status s = CdxIndex::Create(file.get(), "b.cdx", kFields, kTags, options, &index);
    EXPECT_TRUE(s.ok()) << s.text();
  }
  void AppendOne(const std::vector<uint8_t>& rec) {
    records.push_back(rec);
    Status s = index->Append(static_cast<uint32_t>(records.size()), rec);
    ASSERT_TRUE(s.ok()) << s.text();
  }
  Entries Tag(size_t t) {
    Entries out;
    IndexCursor c;
    Status s = index->First(t, &c);
    while (s.ok() && c.valid) {
      out.emplace_back(c.key, c.recno);
      s = index->Next(&c);
    }
    EXPECT_TRUE(s.ok()) << s.text();
    return out;
  }
  void Check() {
    IndexCheckReport report;
    Status s = CheckIndex(
        *index, static_cast<uint32_t>(records.size()),
        [&](uint32_t r, std::vector<uint8_t>* out) {
          *out = records[r - 1];
          return Status::Ok();
        },
        &report);
    ASSERT_TRUE(s.ok()) << s.text();
    for (const std::string& f : report.faults) ADD_FAILURE() << f;
  }
};

TEST(IndexBatchTest, ABatchGivesTheEntriesOfSingleAppends) {
  struct Case {
    const char* name;
    bool full_tree;      // the records before the batch rise in key order
    size_t spill_pages;  // 0: no early writes (the update cannot be undone)
    uint32_t batches;    // the batch cut in this many AppendRecords calls
    bool shared;
  };
  const Case cases[] = {
      {"full tree", true, 0, 1, true},
      {"full tree, pages written early", true, 1, 1, true},
      {"grown tree, pages written early, three calls", false, 3, 3, false},
      {"grown tree", false, 0, 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(2017);
    std::vector<std::vector<uint8_t>> before, batch;
    for (uint32_t i = 0; i < 1500; ++i) before.push_back(MakeRecord(rng, i, c.full_tree));
    for (uint32_t i = 0; i < 700; ++i) batch.push_back(MakeRecord(rng, i, false));
    // Some keys of the batch repeat keys already there (UNIQUE keeps the first).
    for (uint32_t i = 0; i < batch.size(); i += 10) batch[i] = before[(i * 7) % before.size()];

    Bag one(false), many(c.shared);
    for (const auto& rec : before) {
      ASSERT_NO_FATAL_FAILURE(one.AppendOne(rec));
      ASSERT_NO_FATAL_FAILURE(many.AppendOne(rec));
    }
    for (const auto& rec : batch) ASSERT_NO_FATAL_FAILURE(one.AppendOne(rec));

    if (c.spill_pages) {
      // Small caches too: pages written early are read again from the file.
      many.index->pager().SetCacheLimits(8, 64);
      many.index->pager().set_spill_limit(c.spill_pages);
    }
    ASSERT_TRUE(many.index->BeginUpdate(c.spill_pages != 0).ok());
    size_t per = (batch.size() + c.batches - 1) / c.batches;
    for (size_t from = 0; from < batch.size(); from += per) {
      size_t n = std::min(per, batch.size() - from);
      std::vector<uint8_t> flat;
      for (size_t i = from; i < from + n; ++i)
        flat.insert(flat.end(), batch[i].begin(), batch[i].end());
      uint32_t first = static_cast<uint32_t>(many.records.size() + 1);
      for (size_t i = from; i < from + n; ++i) many.records.push_back(batch[i]);
      Status s = many.index->AppendRecords(first, flat.data(), static_cast<uint32_t>(n), 24);
      ASSERT_TRUE(s.ok()) << s.text();
    }
    ASSERT_TRUE(many.index->EndUpdate().ok());
    EXPECT_EQ(c.spill_pages != 0, many.index->pager().stats().spills > 0);

    for (size_t t = 0; t < kTags.size(); ++t) {
      SCOPED_TRACE(kTags[t].name);
      ASSERT_EQ(one.Tag(t), many.Tag(t));
    }
    ASSERT_NO_FATAL_FAILURE(many.Check());
    // Another program opening the file finds the same tags.
    std::unique_ptr<CdxIndex> again;
    IndexOptions options;
    ASSERT_TRUE(CdxIndex::Open(many.file.get(), "b.cdx", kFields, options, &again).ok());
    many.index = std::move(again);
    for (size_t t = 0; t < kTags.size(); ++t) ASSERT_EQ(one.Tag(t), many.Tag(t));
  }
}

// A long update tells the pages it will change before it writes the first of
// them early: the notices of the early writes and of the commit that follow
// find nearly every old page saved already, so a journal behind them flushes
// a few times, not once per early write.
TEST(IndexBatchTest, EarlyWritesFindTheirOldPagesAnnounced) {
  for (bool full_tree : {true, false}) {
    SCOPED_TRACE(full_tree ? "full tree" : "grown tree");
    std::mt19937 rng(2017);
    Bag bag(true);
    for (uint32_t i = 0; i < 3000; ++i) {
      ASSERT_NO_FATAL_FAILURE(bag.AppendOne(MakeRecord(rng, i, full_tree)));
    }
    uint64_t old_size = 0;
    ASSERT_TRUE(bag.file->Size(&old_size).ok());
    std::vector<bool> saved(old_size, false);
    int saving_notices = 0;
    bag.index->pager().set_before_commit(
        [&](const std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
          bool saves = false;
          for (const auto& [offset, length] : ranges) {
            for (uint64_t b = offset; b < std::min(offset + length, old_size); ++b) {
              saves = saves || !saved[b];
              saved[b] = true;
            }
          }
          saving_notices += saves ? 1 : 0;
          return platform::OsStatus::Ok();
        });
    bag.index->pager().SetCacheLimits(8, 64);
    bag.index->pager().set_spill_limit(2);
    std::vector<uint8_t> flat;
    const uint32_t first = static_cast<uint32_t>(bag.records.size() + 1);
    for (uint32_t i = 0; i < 400; ++i) {
      bag.records.push_back(MakeRecord(rng, i, false));
      flat.insert(flat.end(), bag.records.back().begin(), bag.records.back().end());
    }
    ASSERT_TRUE(bag.index->BeginUpdate(true).ok());
    Status s = bag.index->AppendRecords(first, flat.data(), 400, 24);
    ASSERT_TRUE(s.ok()) << s.text();
    ASSERT_TRUE(bag.index->EndUpdate().ok());
    EXPECT_GT(bag.index->pager().stats().spills, 50u);
    EXPECT_LE(saving_notices, 3);
    ASSERT_NO_FATAL_FAILURE(bag.Check());
  }
}

}  // namespace
}  // namespace tables
