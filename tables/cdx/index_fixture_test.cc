// Every tag of every fixture bag walks exactly as the independent engine's dump
// lists it (key bytes, record numbers, count, checksum), our own evaluation of
// each record's key agrees, and Seek finds the first entry of every key.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tables/cdx/cdx_tree.h"
#include "tables/cdx/index.h"
#include "tables/testing/cdx_fixture.h"

namespace tables {
namespace {

using testing::FixtureDir;

struct Walked {
  uint32_t recno;
  std::string key;
};

std::vector<Walked> WalkTag(CdxIndex& index, size_t tag) {
  std::vector<Walked> out;
  IndexCursor c;
  Status s = index.First(tag, &c);
  EXPECT_TRUE(s.ok()) << s.text();
  while (s.ok() && c.valid) {
    out.push_back({c.recno, c.key});
    s = index.Next(&c);
    EXPECT_TRUE(s.ok()) << s.text();
  }
  return out;
}

class FixtureTest : public ::testing::TestWithParam<std::string> {};

TEST_P(FixtureTest, EveryTagMatchesTheDump) {
  const std::string name = GetParam();
  std::ifstream in(FixtureDir() + "/" + name + ".dump.json");
  nlohmann::json dump = nlohmann::json::parse(in);
  testing::DbfImage dbf = testing::LoadDbf(FixtureDir() + "/" + name + ".dbf");
  std::unique_ptr<testing::FptMemo> memo;
  if (std::ifstream(FixtureDir() + "/" + name + ".fpt").good()) {
    memo = std::make_unique<testing::FptMemo>(FixtureDir() + "/" + name + ".fpt");
  }
  auto file = testing::OpenForTest(FixtureDir() + "/" + name + ".cdx", false);
  IndexOptions options;
  options.shared = false;
  options.read_only = true;
  options.memo = memo.get();
  std::unique_ptr<CdxIndex> index;
  Status s = CdxIndex::Open(file.get(), name + ".cdx", dbf.fields, options, &index);
  ASSERT_TRUE(s.ok()) << s.text();

  const auto& tags = dump["tags"];
  ASSERT_EQ(index->tag_count(), tags.size());
  EXPECT_EQ(index->tag(0).name, dump["autorder1"]["tag"].get<std::string>());
  for (size_t t = 0; t < tags.size(); ++t) {
    const auto& want = tags[t];
    const TagInfo& info = index->tag(t);
    SCOPED_TRACE(name + " tag " + info.name);
    EXPECT_EQ(info.name, want["name"].get<std::string>());
    EXPECT_EQ(info.key_expr, want["key"].get<std::string>());
    EXPECT_EQ(info.for_expr, want["for"].get<std::string>());
    EXPECT_EQ(info.unique, want["unique"].get<bool>());
    EXPECT_EQ(info.descending, want["descending"].get<bool>());
    EXPECT_EQ(info.key_length, want["raw_key_length"].get<uint32_t>());
    EXPECT_EQ(info.options, want["options"].get<int>());
    EXPECT_EQ(info.header_offset, want["header_offset"].get<uint32_t>());
    EXPECT_EQ(std::string(1, static_cast<char>(info.key_type)),
              want["key_type"].get<std::string>());
    EXPECT_EQ(info.refusal, "") << info.refusal;

    std::vector<Walked> walk = WalkTag(*index, t);
    ASSERT_EQ(walk.size(), want["entry_count"].get<size_t>());
    std::string sha_text;
    for (const Walked& w : walk) sha_text += std::to_string(w.recno) + " " + Hex(w.key) + "\n";
    EXPECT_EQ(Sha256Hex(sha_text), want["entries_sha256"].get<std::string>());
    const auto& entries = want["entries"];
    size_t head = entries.size(), tail = 0;
    if (want["entries_truncated"].get<bool>()) {
      head = want["entries_head"].get<size_t>();
      tail = want["entries_tail"].get<size_t>();
    }
    for (size_t i = 0; i < head; ++i) {
      ASSERT_EQ(walk[i].recno, entries[i][0].get<uint32_t>()) << "entry " << i;
      ASSERT_EQ(Hex(walk[i].key), entries[i][1].get<std::string>()) << "entry " << i;
    }
    for (size_t i = 0; i < tail; ++i) {
      size_t w = walk.size() - tail + i;
      ASSERT_EQ(walk[w].recno, entries[head + i][0].get<uint32_t>()) << "entry " << w;
      ASSERT_EQ(Hex(walk[w].key), entries[head + i][1].get<std::string>()) << "entry " << w;
    }

    // Our evaluation of every record gives the entries the other engine made.
    std::vector<Walked> expected;
    for (uint32_t r = 1; r <= dbf.count; ++r) {
      std::string key;
      bool included;
      s = index->KeyOf(t, dbf.Record(r), r, &key, &included);
      ASSERT_TRUE(s.ok()) << s.text();
      if (included) expected.push_back({r, key});
    }
    auto less = [](const Walked& a, const Walked& b) {
      return a.key != b.key ? a.key < b.key : a.recno < b.recno;
    };
    std::sort(expected.begin(), expected.end(), less);
    if (info.unique) {
      expected.erase(std::unique(expected.begin(), expected.end(),
                                 [](const Walked& a, const Walked& b) { return a.key == b.key; }),
                     expected.end());
    }
    if (info.descending) std::reverse(expected.begin(), expected.end());
    ASSERT_EQ(expected.size(), walk.size());
    for (size_t i = 0; i < walk.size(); ++i) {
      ASSERT_EQ(walk[i].recno, expected[i].recno) << "entry " << i;
      ASSERT_EQ(Hex(walk[i].key), Hex(expected[i].key)) << "entry " << i;
    }

    // Seek lands on the first entry (in the tag's order) of each key.
    size_t step = walk.size() > 3000 ? 97 : 1;
    for (size_t i = 0; i < walk.size(); i += step) {
      size_t first = i;
      while (first > 0 && walk[first - 1].key == walk[i].key) --first;
      IndexCursor c;
      bool found;
      s = index->Seek(t, walk[i].key, &c, &found);
      ASSERT_TRUE(s.ok()) << s.text();
      ASSERT_TRUE(found) << "entry " << i;
      ASSERT_EQ(c.recno, walk[first].recno) << "entry " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureTest,
                         ::testing::Values("t_char", "t_num", "t_date", "t_logic", "t_longchar",
                                           "t_memo", "t_wide", "t_big", "ind_1002017", "tarif2017",
                                           "doc02_ind_100", "doc02_tarif"));

}  // namespace
}  // namespace tables
