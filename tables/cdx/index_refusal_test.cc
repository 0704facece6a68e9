// Tags we cannot reproduce and damaged pages: the bag still opens and reads
// through its sound tags, every write is refused with a clear error, and the
// file stays byte for byte as it was.
#include <gtest/gtest.h>

#include <functional>

#include "tables/cdx/cdx_page.h"
#include "tables/cdx/index.h"
#include "tables/testing/cdx_fixture.h"

namespace tables {
namespace {

struct Opened {
  testing::DbfImage dbf;
  std::unique_ptr<platform::File> file;
  std::unique_ptr<CdxIndex> index;
  Status open_status;
};

// Copies a fixture bag, lets `damage` change its bytes, and opens it shared.
void OpenDamaged(testing::TempDir& dir, const std::string& name,
                 const std::function<void(std::vector<uint8_t>&)>& damage, Opened* out,
                 std::string* path) {
  out->dbf = testing::LoadDbf(testing::FixtureDir() + "/" + name + ".dbf");
  *path = dir.Copy(name + ".cdx");
  std::vector<uint8_t> bytes = testing::ReadAll(*path);
  damage(bytes);
  testing::WriteAll(*path, bytes);
  out->file = testing::OpenForTest(*path, true);
  out->open_status =
      CdxIndex::Open(out->file.get(), name + ".cdx", out->dbf.fields, IndexOptions(), &out->index);
}

// Sets a tag's key expression (and an empty FOR) in its header pool.
void SetKeyExpr(std::vector<uint8_t>& b, uint32_t header, const std::string& expr) {
  std::fill(b.begin() + header + 512, b.begin() + header + 1024, 0);
  std::copy(expr.begin(), expr.end(), b.begin() + header + 512);
  uint16_t len = static_cast<uint16_t>(expr.size() + 1);
  PutLe16(&b[header + 504], len);
  PutLe16(&b[header + 506], 1);
  PutLe16(&b[header + 508], 0);
  PutLe16(&b[header + 510], len);
}

void ExpectWritesRefused(Opened& o, const std::string& path, const std::string& says) {
  std::vector<uint8_t> before = testing::ReadAll(path);
  Status s = o.index->CheckWritable();
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.text().find(says), std::string::npos) << s.text();
  auto rec = o.dbf.Record(1);
  std::vector<uint8_t> changed(rec.begin(), rec.end());
  changed[0] = '*';
  Status a = o.index->Append(o.dbf.count + 1, rec);
  Status u = o.index->Update(1, rec, changed);
  EXPECT_FALSE(a.ok());
  EXPECT_FALSE(u.ok());
  EXPECT_NE(u.text().find(says), std::string::npos) << u.text();
  EXPECT_EQ(testing::ReadAll(path), before);
}

TEST(IndexRefusalTest, TagsWeCannotReproduceRefuseWritesButStayReadable) {
  struct Case {
    const char* what;
    const char* table;
    size_t tag;  // index in creation order of the damaged tag
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* says;
  } cases[] = {
      {"GENERAL collation", "t_char", 2,
       [](std::vector<uint8_t>& b) { std::copy_n("GENERAL", 7, b.begin() + 4608 + 494); },
       "collation GENERAL"},
      {"unknown function", "t_char", 2,
       [](std::vector<uint8_t>& b) { SetKeyExpr(b, 4608, "MYUDF(CODE)"); },
       "unknown function MYUDF()"},
      {"unknown option bit", "t_char", 2, [](std::vector<uint8_t>& b) { b[4608 + 14] |= 0x04; },
       "unknown options 0x64"},
      {"key length not reproduced", "t_char", 2, [](std::vector<uint8_t>& b) { b[4608 + 12] = 9; },
       "key length 9"},
      {"nullable key prefix", "t_wide", 0,
       [](std::vector<uint8_t>& b) {
         SetKeyExpr(b, 1536, "NCHAR");
         b[1536 + 12] = 11;
       },
       "NULL prefix"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir dir;
    Opened o;
    std::string path;
    OpenDamaged(dir, c.table, c.damage, &o, &path);
    ASSERT_TRUE(o.open_status.ok()) << o.open_status.text();
    EXPECT_NE(o.index->tag(c.tag).refusal, "");
    ExpectWritesRefused(o, path, c.says);
    // Reading through a sound tag still works.
    size_t other = c.tag == 0 ? 1 : 0;
    IndexCursor cur;
    ASSERT_TRUE(o.index->First(other, &cur).ok());
    EXPECT_TRUE(cur.valid);
  }
}

TEST(IndexRefusalTest, DamagedPagesAreCorruptionNamingTagAndPage) {
  // t_big's ID tag: header at 1536, a multi-level tree.
  auto root_of = [](const std::vector<uint8_t>& b, uint32_t header) { return Le32(&b[header]); };
  auto first_leaf = [&](const std::vector<uint8_t>& b, uint32_t header) {
    uint32_t page = root_of(b, header);
    while (!(b[page] & cdx::kAttrLeaf)) page = Be32(&b[page + 12 + 8 + 4]);
    return page;
  };
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* says;
    bool write_meets_it = true;
    bool walk_meets_it = true;
  } cases[] = {
      {"child outside the file",
       [&](std::vector<uint8_t>& b) { PutBe32(&b[root_of(b, 1536) + 12 + 8 + 4], 0x7FFFFE00); },
       "outside the file"},
      {"attribute 5", [&](std::vector<uint8_t>& b) { b[first_leaf(b, 1536)] = 5; },
       "unknown page attribute 5"},
      {"count beyond capacity",
       [&](std::vector<uint8_t>& b) { PutLe16(&b[first_leaf(b, 1536) + 2], 400); },
       "exceed the page capacity"},
      {"sibling loop",
       [&](std::vector<uint8_t>& b) {
         uint32_t leaf = first_leaf(b, 1536);
         PutLe32(&b[leaf + 8], leaf);
       },
       "does not point back", false},
      {"interior key out of step with its child",
       [&](std::vector<uint8_t>& b) { b[root_of(b, 1536) + 12 + 7] ^= 1; },
       "differs from the last key of its child", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir dir;
    Opened o;
    std::string path;
    OpenDamaged(dir, "t_big", c.damage, &o, &path);
    ASSERT_TRUE(o.open_status.ok()) << o.open_status.text();
    // A full walk of the tag meets the damage.
    IndexCursor cur;
    Status s = o.index->First(0, &cur);
    while (s.ok() && cur.valid) s = o.index->Next(&cur);
    if (c.walk_meets_it) {
      EXPECT_FALSE(s.ok());
      EXPECT_EQ(s.code(), Status::kCorruption);
      EXPECT_NE(s.text().find(c.says), std::string::npos) << s.text();
    }
    if (!c.write_meets_it) continue;
    // So does maintenance somewhere in the key range; the refused write
    // leaves the file as it was (earlier writes elsewhere went through).
    std::vector<uint8_t> before;
    s = Status::Ok();
    // Record 7904 holds the first key of the tag; then a spread of others.
    for (uint32_t r = 7904; s.ok() && r <= o.dbf.count; r += 4999) {
      before = testing::ReadAll(path);
      auto rec = o.dbf.Record(r);
      std::vector<uint8_t> changed(rec.begin(), rec.end());
      std::fill(changed.begin() + 1, changed.begin() + 9, '9');
      s = o.index->Update(r, rec, changed);
    }
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.code(), Status::kCorruption);
    EXPECT_NE(s.text().find(c.says), std::string::npos) << s.text();
    EXPECT_NE(s.text().find("t_big.cdx, tag ID"), std::string::npos) << s.text();
    EXPECT_EQ(testing::ReadAll(path), before);
  }
}

TEST(IndexRefusalTest, ReadOnlyBagRefusesWrites) {
  testing::DbfImage dbf = testing::LoadDbf(testing::FixtureDir() + "/t_num.dbf");
  auto file = testing::OpenForTest(testing::FixtureDir() + "/t_num.cdx", false);
  IndexOptions options;
  options.read_only = true;
  std::unique_ptr<CdxIndex> index;
  ASSERT_TRUE(CdxIndex::Open(file.get(), "t_num.cdx", dbf.fields, options, &index).ok());
  EXPECT_FALSE(index->Append(99, dbf.Record(1)).ok());
}

}  // namespace
}  // namespace tables
