// Long random sequences of appends, field writes, deletes and recalls on copies
// of fixture bags (and on a bag we create), checked against an in-memory model:
// after every batch each tag walks exactly as the model orders the records, and
// the checker finds no fault. The sequences are shaped so that leaves split,
// roots split, pages empty out onto the free list and are taken again.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "tables/cdx/cdx_pager.h"
#include "tables/cdx/cdx_tree.h"
#include "tables/cdx/index.h"
#include "tables/testing/cdx_fixture.h"
#include "tables/tools/cdx_check.h"

namespace tables {
namespace {

using Entry = std::pair<std::string, uint32_t>;

class Model {
 public:
  Model(CdxIndex& index, std::vector<std::vector<uint8_t>> records)
      : index_(index), records_(std::move(records)), tags_(index.tag_count()) {}

  // Loads the tags' present contents (the fixture as the other engine left it).
  void LoadFromIndex() {
    for (size_t t = 0; t < tags_.size(); ++t) {
      IndexCursor c;
      ASSERT_TRUE(index_.First(t, &c).ok());
      while (c.valid) {
        tags_[t].insert({c.key, c.recno});
        ASSERT_TRUE(index_.Next(&c).ok());
      }
    }
  }

  uint32_t count() const { return static_cast<uint32_t>(records_.size()); }
  const std::vector<uint8_t>& record(uint32_t recno) const { return records_[recno - 1]; }

  void Append(const std::vector<uint8_t>& rec) {
    records_.push_back(rec);
    uint32_t recno = count();
    Status s = index_.Append(recno, rec);
    ASSERT_TRUE(s.ok()) << s.text();
    Apply(recno, {}, rec);
  }

  void Write(uint32_t recno, const std::vector<uint8_t>& rec) {
    std::vector<uint8_t> old = records_[recno - 1];
    records_[recno - 1] = rec;
    Status s = index_.Update(recno, old, rec);
    ASSERT_TRUE(s.ok()) << s.text();
    Apply(recno, old, rec);
  }

  void Verify(const std::string& when) {
    SCOPED_TRACE(when);
    for (size_t t = 0; t < tags_.size(); ++t) {
      std::vector<Entry> want(tags_[t].begin(), tags_[t].end());
      if (index_.tag(t).descending) std::reverse(want.begin(), want.end());
      std::vector<Entry> got;
      IndexCursor c;
      ASSERT_TRUE(index_.First(t, &c).ok());
      while (c.valid) {
        got.push_back({c.key, c.recno});
        ASSERT_TRUE(index_.Next(&c).ok());
      }
      ASSERT_EQ(got.size(), want.size()) << "tag " << index_.tag(t).name;
      for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i], want[i]) << "tag " << index_.tag(t).name << " entry " << i;
      }
      // And backwards.
      ASSERT_TRUE(index_.Last(t, &c).ok());
      for (size_t i = got.size(); i-- > 0;) {
        ASSERT_TRUE(c.valid);
        ASSERT_EQ(c.recno, got[i].second);
        ASSERT_TRUE(index_.Prev(&c).ok());
      }
      ASSERT_FALSE(c.valid);
      if (!index_.tag(t).descending) {
        ASSERT_NO_FATAL_FAILURE(VerifySeeks(t));
      }
    }
    IndexCheckReport report;
    Status s = CheckIndex(
        index_, count(),
        [&](uint32_t r, std::vector<uint8_t>* out) {
          *out = records_[r - 1];
          return Status::Ok();
        },
        &report);
    ASSERT_TRUE(s.ok()) << s.text();
    for (const std::string& f : report.faults) ADD_FAILURE() << f;
    free_pages_seen_ = std::max(free_pages_seen_, report.free_pages);
    last_free_pages_ = report.free_pages;
  }

  // Seeks for keys of the tag, for their prefixes and for keys just after
  // them land where the model says: on the first entry at or after the key,
  // found when that entry begins with it.
  void VerifySeeks(size_t t) {
    const std::set<Entry>& entries = tags_[t];
    size_t i = 0;
    for (const Entry& e : entries) {
      if (i++ % 5 != 0) continue;
      std::string after = e.first;
      if (static_cast<unsigned char>(after.back()) < 0xFF) ++after.back();
      for (const std::string& sought : {e.first, e.first.substr(0, e.first.size() / 2), after}) {
        auto want = entries.lower_bound({sought, 0});
        IndexCursor c;
        bool found;
        ASSERT_TRUE(index_.Seek(t, sought, &c, &found).ok());
        SCOPED_TRACE("tag " + index_.tag(t).name + ", sought " + Hex(sought));
        ASSERT_EQ(c.valid, want != entries.end());
        if (!c.valid) continue;
        EXPECT_EQ(c.key, want->first);
        EXPECT_EQ(c.recno, want->second);
        EXPECT_EQ(found, want->first.compare(0, sought.size(), sought) == 0);
        // The cursor goes on from there in the tag's order.
        ASSERT_TRUE(index_.Next(&c).ok());
        auto next = std::next(want);
        ASSERT_EQ(c.valid, next != entries.end());
        if (c.valid) {
          EXPECT_EQ(c.recno, next->second);
        }
      }
    }
  }

  uint64_t free_pages_seen_ = 0;
  uint64_t last_free_pages_ = 0;

 private:
  // What maintenance must do: remove the old entry, add the new one; a UNIQUE
  // tag adds nothing when the key is already there.
  void Apply(uint32_t recno, const std::vector<uint8_t>& old, const std::vector<uint8_t>& rec) {
    for (size_t t = 0; t < tags_.size(); ++t) {
      std::string ok, nk;
      bool oi = false, ni = false;
      if (!old.empty()) {
        ASSERT_TRUE(index_.KeyOf(t, old, recno, &ok, &oi).ok());
      }
      ASSERT_TRUE(index_.KeyOf(t, rec, recno, &nk, &ni).ok());
      if (oi == ni && (!ni || ok == nk)) continue;
      if (oi) tags_[t].erase({ok, recno});
      if (ni) {
        if (index_.tag(t).unique) {
          auto it = tags_[t].lower_bound({nk, 0});
          if (it != tags_[t].end() && it->first == nk) continue;
        }
        tags_[t].insert({nk, recno});
      }
    }
  }

  CdxIndex& index_;
  std::vector<std::vector<uint8_t>> records_;
  std::vector<std::set<Entry>> tags_;
};

void PutText(std::vector<uint8_t>& rec, const IndexField& f, const std::string& text) {
  std::string v = text;
  v.resize(f.length, ' ');
  std::copy(v.begin(), v.end(), rec.begin() + f.offset);
}

std::string RightAligned(long v, size_t width) {
  std::string s = std::to_string(v);
  return s.size() >= width ? s.substr(0, width) : std::string(width - s.size(), ' ') + s;
}

const IndexField& FieldNamed(const std::vector<IndexField>& fields, const std::string& name) {
  for (const IndexField& f : fields) {
    if (f.name == name) return f;
  }
  static IndexField none;
  ADD_FAILURE() << "no field " << name;
  return none;
}

bool RootIsInterior(CdxIndex& index, size_t tag) {
  uint32_t root;
  cdx::Node* node;
  const cdx::TreeInfo& info = index.tree(tag).info();
  EXPECT_TRUE(index.LockForRead().ok());
  EXPECT_TRUE(index.pager().Root(info.header_offset, &root).ok());
  EXPECT_TRUE(index.pager().Get(root, info.key_length, info.filler, info.where, &node).ok());
  bool interior = !node->leaf();
  index.UnlockRead();
  return interior;
}

TEST(IndexPropertyTest, RandomChangesOnTheCharFixtureKeepEveryTagRight) {
  testing::TempDir dir;
  testing::DbfImage dbf = testing::LoadDbf(testing::FixtureDir() + "/t_char.dbf");
  std::string cdx_path = dir.Copy("t_char.cdx");
  auto file = testing::OpenForTest(cdx_path, true);
  IndexOptions options;  // shared: locks and revalidation on every call
  std::unique_ptr<CdxIndex> index;
  ASSERT_TRUE(CdxIndex::Open(file.get(), "t_char.cdx", dbf.fields, options, &index).ok());
  std::vector<std::vector<uint8_t>> records;
  for (uint32_t r = 1; r <= dbf.count; ++r) {
    records.emplace_back(dbf.Record(r).begin(), dbf.Record(r).end());
  }
  Model model(*index, records);
  model.LoadFromIndex();
  model.Verify("as found");

  const IndexField& id = FieldNamed(dbf.fields, "ID");
  const IndexField& dt = FieldNamed(dbf.fields, "DT");
  const IndexField& code = FieldNamed(dbf.fields, "CODE");
  const IndexField& texte = FieldNamed(dbf.fields, "TEXTE");
  std::mt19937 rng(20170101);
  auto random_code = [&]() {
    static const std::string kLetters = "ABCabc \xe9\xff";
    std::string s;
    size_t n = rng() % 11;
    for (size_t i = 0; i < n; ++i) s += kLetters[rng() % kLetters.size()];
    return s;
  };
  auto make = [&](long id_value) {
    std::vector<uint8_t> rec(dbf.record_length, ' ');
    PutText(rec, id, RightAligned(id_value, id.length));
    if (rng() % 4) {
      PutText(rec, dt,
              std::to_string(1990 + rng() % 40) + "0" + std::to_string(1 + rng() % 9) + "1" +
                  std::to_string(rng() % 9));
    }
    PutText(rec, code, random_code());
    PutText(rec, texte, random_code() + random_code() + random_code());
    return rec;
  };

  // Phase 1: ascending appends split leaves and then the roots.
  for (long i = 0; i < 1500; ++i) ASSERT_NO_FATAL_FAILURE(model.Append(make(1000 + i)));
  ASSERT_NO_FATAL_FAILURE(model.Verify("after ascending appends"));
  EXPECT_TRUE(RootIsInterior(*index, 0));
  EXPECT_TRUE(RootIsInterior(*index, 6));  // UPPER(TEXTE): 60-byte keys

  // Phase 2: move most IDs far away: the pages that held them empty out.
  for (uint32_t r = 100; r <= 1400; ++r) {
    std::vector<uint8_t> rec = model.record(r);
    PutText(rec, id, RightAligned(90000000 + r, id.length));
    ASSERT_NO_FATAL_FAILURE(model.Write(r, rec));
  }
  ASSERT_NO_FATAL_FAILURE(model.Verify("after moving keys"));
  EXPECT_GT(index->pager().stats().pages_freed, 0u);
  // Records leaving the FOR tag (blank CODE) empty its pages without new ones.
  for (uint32_t r = 1; r <= model.count(); ++r) {
    std::vector<uint8_t> rec = model.record(r);
    if (rec[code.offset] != 'A' && rec[code.offset] != 'B') continue;
    PutText(rec, code, "");
    ASSERT_NO_FATAL_FAILURE(model.Write(r, rec));
  }
  ASSERT_NO_FATAL_FAILURE(model.Verify("after emptying the FOR tag"));
  EXPECT_GT(model.last_free_pages_, 0u);
  uint64_t freed = model.last_free_pages_;

  // Phase 3: a random mixture; new pages come from the free list first.
  for (int step = 0; step < 3000; ++step) {
    uint32_t op = rng() % 10;
    if (op < 3) {
      ASSERT_NO_FATAL_FAILURE(model.Append(make(static_cast<long>(rng() % 5000))));
    } else {
      uint32_t r = 1 + rng() % model.count();
      std::vector<uint8_t> rec = model.record(r);
      switch (op) {
        case 3:
          rec[0] = '*';
          break;
        case 4:
          rec[0] = ' ';
          break;
        case 5:
          PutText(rec, code, random_code());
          break;
        case 6:
          PutText(rec, id, RightAligned(static_cast<long>(rng() % 5000) - 5, id.length));
          break;
        case 7:
          PutText(rec, texte, random_code());
          break;
        default:
          PutText(rec, dt, (rng() % 2) ? "" : "20240229");
          break;
      }
      ASSERT_NO_FATAL_FAILURE(model.Write(r, rec));
    }
    if (step % 1000 == 999) {
      ASSERT_NO_FATAL_FAILURE(model.Verify("mixture step " + std::to_string(step)));
    }
  }
  EXPECT_LT(model.last_free_pages_, freed);  // free pages were taken again
  EXPECT_GT(index->pager().stats().pages_reused, 0u);

  // A second open of the file (as another program would) sees the same.
  index.reset();
  ASSERT_TRUE(CdxIndex::Open(file.get(), "t_char.cdx", dbf.fields, options, &index).ok());
  Model reopened(*index, {});
  (void)reopened;
}

TEST(IndexPropertyTest, BigFixtureMultiLevelTreesStayConsistent) {
  testing::TempDir dir;
  testing::DbfImage dbf = testing::LoadDbf(testing::FixtureDir() + "/t_big.dbf");
  std::string cdx_path = dir.Copy("t_big.cdx");
  auto file = testing::OpenForTest(cdx_path, true);
  std::unique_ptr<CdxIndex> index;
  IndexOptions options;
  ASSERT_TRUE(CdxIndex::Open(file.get(), "t_big.cdx", dbf.fields, options, &index).ok());
  // Caches far smaller than the tree: pages are decoded again from kept bytes,
  // kept bytes are replaced, and changed pages must replace their kept bytes.
  // The 300 slots of kept bytes span two of the pager's blocks.
  index->pager().SetCacheLimits(8, 300);
  std::vector<std::vector<uint8_t>> records;
  for (uint32_t r = 1; r <= dbf.count; ++r) {
    records.emplace_back(dbf.Record(r).begin(), dbf.Record(r).end());
  }
  Model model(*index, records);
  model.LoadFromIndex();
  const IndexField& code = FieldNamed(dbf.fields, "CODE");
  const IndexField& montant = FieldNamed(dbf.fields, "MONTANT");
  const IndexField& id = FieldNamed(dbf.fields, "ID");
  std::mt19937 rng(42);
  // Whole runs of neighbouring records change key, emptying interior subtrees.
  for (int step = 0; step < 4000; ++step) {
    uint32_t r = step < 2500 ? 20000 + step : 1 + rng() % model.count();
    std::vector<uint8_t> rec = model.record(r);
    PutText(rec, id, RightAligned(200000 + static_cast<long>(rng() % 100000), id.length));
    PutText(rec, montant,
            RightAligned(static_cast<long>(rng() % 100000), montant.length - 3) + ".00");
    if (rng() % 3 == 0) PutText(rec, code, "Z" + std::to_string(rng() % 50));
    if (rng() % 5 == 0) rec[0] = rec[0] == '*' ? ' ' : '*';
    ASSERT_NO_FATAL_FAILURE(model.Write(r, rec));
  }
  for (int i = 0; i < 500; ++i) {
    std::vector<uint8_t> rec = model.record(1 + rng() % 1000);
    ASSERT_NO_FATAL_FAILURE(model.Append(rec));
  }
  ASSERT_NO_FATAL_FAILURE(model.Verify("after changes"));
  EXPECT_GT(index->pager().stats().pages_freed, 0u);
  EXPECT_GT(index->pager().stats().pages_reused, 0u);
}

TEST(IndexPropertyTest, CreatedBagWithDeletedForAndDescendKeys) {
  testing::TempDir dir;
  std::vector<IndexField> fields = {{"NAME", 'C', 1, 8, 0, 0},
                                    {"QTY", 'N', 9, 6, 2, 0},
                                    {"DAY", 'D', 15, 8, 0, 0},
                                    {"OK", 'L', 23, 1, 0, 0}};
  auto file = testing::OpenForTest(dir.path() + "/made.cdx", true);
  std::unique_ptr<CdxIndex> index;
  std::vector<TagSpec> specs = {{"NAME", "NAME", "", false, false},
                                {"LIVE", "UPPER(NAME)+DTOS(DAY)", "!DELETED()", false, false},
                                {"QTYD", "QTY", "", false, true},
                                {"UQTY", "QTY", "", true, false},
                                {"DESC", "DESCEND(NAME)", "OK .AND. QTY > 10", false, false},
                                {"OKS", "OK", "", false, false}};
  Status s = CdxIndex::Create(file.get(), "made.cdx", fields, specs, IndexOptions(), &index);
  ASSERT_TRUE(s.ok()) << s.text();
  ASSERT_EQ(index->tag_count(), 6u);
  EXPECT_EQ(index->tag(0).name, "NAME");  // creation order, not name order
  EXPECT_EQ(index->tag(1).name, "LIVE");
  EXPECT_EQ(index->tag(2).key_length, 8u);
  EXPECT_TRUE(index->CheckWritable().ok());
  Model model(*index, {});
  std::mt19937 rng(7);
  auto make = [&]() {
    std::vector<uint8_t> rec(24, ' ');
    std::string name;
    for (int i = 0, n = 1 + rng() % 8; i < n; ++i) name += static_cast<char>('a' + rng() % 4);
    PutText(rec, fields[0], name);
    PutText(
        rec, fields[1],
        RightAligned(static_cast<long>(rng() % 300), 3) + "." + std::to_string(10 + rng() % 90));
    PutText(rec, fields[2],
            "2017" + std::string("0") + std::to_string(1 + rng() % 9) + "1" +
                std::to_string(rng() % 9));
    rec[23] = "TF "[rng() % 3];
    return rec;
  };
  for (int step = 0; step < 4000; ++step) {
    if (model.count() == 0 || rng() % 3 == 0) {
      ASSERT_NO_FATAL_FAILURE(model.Append(make()));
    } else {
      uint32_t r = 1 + rng() % model.count();
      std::vector<uint8_t> rec = rng() % 2 ? make() : model.record(r);
      rec[0] = rng() % 4 == 0 ? '*' : ' ';
      ASSERT_NO_FATAL_FAILURE(model.Write(r, rec));
    }
    if (step % 2000 == 1999) {
      ASSERT_NO_FATAL_FAILURE(model.Verify("step " + std::to_string(step)));
    }
  }
}

}  // namespace
}  // namespace tables
