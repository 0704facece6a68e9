// Page codec and key encodings: the worked leaf example other engines wrote,
// round trips across bit widths, and damaged pages rejected with their offset.
#include "tables/cdx/cdx_page.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>

#include "tables/dbf/key_codec.h"

namespace tables::cdx {
namespace {

TEST(CdxPageTest, DecodesTheWorkedNumericLeaf) {
  // Tag on N(10,2): key length 8, R=16, D=T=4, E=3; entries (2, -1.0), (1, 2.0).
  std::array<uint8_t, kPageSize> page{};
  page[0] = 3;
  page[2] = 2;
  PutLe32(&page[4], kNoPage);
  PutLe32(&page[8], kNoPage);
  page[20] = 16;
  page[21] = 4;
  page[22] = 4;
  page[23] = 3;
  const uint8_t entries[] = {0x02, 0x00, 0x00, 0x01, 0x00, 0x70};
  std::copy(std::begin(entries), std::end(entries), page.begin() + 24);
  const uint8_t suffix[] = {0xc0, 0x40, 0x0f, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
  std::copy(std::begin(suffix), std::end(suffix), page.end() - 9);
  Node node;
  Status s = DecodeNode(page, 4096, 8, 0x00, "t.cdx, tag N", &node);
  ASSERT_TRUE(s.ok()) << s.text();
  ASSERT_EQ(node.size(), 2u);
  EXPECT_EQ(node.recnos[0], 2u);
  EXPECT_EQ(DecodeNumberKey(node.key(0)), -1.0);
  EXPECT_EQ(node.recnos[1], 1u);
  EXPECT_EQ(DecodeNumberKey(node.key(1)), 2.0);
  EXPECT_TRUE(node.leaf());
  EXPECT_TRUE(node.root());
}

TEST(CdxPageTest, LeafRoundTripsAcrossKeyLengthsAndRecordNumbers) {
  std::mt19937 rng(1);
  for (uint32_t key_length : {1u, 5u, 8u, 10u, 20u, 60u, 240u}) {
    for (uint32_t max_recno : {200u, 70000u, 20000000u, 0xFFFFFFFFu}) {
      SCOPED_TRACE(::testing::Message() << "L=" << key_length << " max recno " << max_recno);
      Node node;
      node.attributes = kAttrLeaf;
      node.key_length = key_length;
      node.left = 1024;
      node.right = kNoPage;
      std::string key(key_length, ' ');
      while (true) {
        // Keys ascending with shared prefixes and trailing blanks; now and
        // then the same key again with a higher record number.
        uint32_t recno = 1 + rng() % max_recno;
        if (node.size() > 0 && rng() % 4 == 0 && node.recnos.back() < max_recno) {
          recno = node.recnos.back() + 1;
        } else {
          size_t pos = rng() % key_length;
          key[pos] = static_cast<char>(key[pos] == ' ' ? 'A' : key[pos] + 1);
          for (size_t i = pos + 1; i < key_length; ++i) key[i] = ' ';
        }
        Node bigger = node;
        bigger.Insert(bigger.size(), key, recno);
        if (!NodeFits(bigger, ' ')) break;
        node = bigger;
      }
      ASSERT_GT(node.size(), 0u);
      std::array<uint8_t, kPageSize> page;
      EncodeNode(node, ' ', page);
      Node back;
      Status s = DecodeNode(page, 2048, key_length, ' ', "x", &back);
      ASSERT_TRUE(s.ok()) << s.text();
      EXPECT_EQ(back.keys, node.keys);
      EXPECT_EQ(back.recnos, node.recnos);
      EXPECT_EQ(back.left, 1024u);
      EXPECT_EQ(back.right, kNoPage);
      // Free-space field agrees with what is left between entries and suffixes.
      EXPECT_LE(Le16(&page[12]), kPageSize - kLeafHeaderSize);
      // Searching the page as it lies lands where a search of the decoded one
      // does: for an entry, a later record number of its key, prefixes of its
      // key, and a key just past its own.
      for (size_t i = 0; i < node.size(); i += 3) {
        std::string k(node.key(i));
        std::string past = k;
        past.back() = static_cast<char>(past.back() + 1);
        const std::pair<std::string, uint32_t> sought[] = {
            {k, node.recnos[i]},
            {k, node.recnos[i] + 1},
            {k.substr(0, key_length / 2), 0},
            {k.substr(0, key_length - 1), 0xFFFFFFFFu},
            {"", 0},
            {past, 0}};
        for (const auto& [key, recno] : sought) {
          size_t want = 0;
          while (want < node.size() &&
                 !EntryAtOrAfter(node.key(want), node.recnos[want], key, recno)) {
            ++want;
          }
          LeafHit hit;
          s = ScanLeaf(page, 2048, key_length, ' ', "x", key, recno, &hit);
          ASSERT_TRUE(s.ok()) << s.text();
          SCOPED_TRACE("entry " + std::to_string(i) + ", sought \"" + key + "\" " +
                       std::to_string(recno));
          EXPECT_EQ(hit.index, want);
          EXPECT_EQ(hit.size, node.size());
          if (want < node.size()) {
            EXPECT_EQ(hit.key, node.key(want));
            EXPECT_EQ(hit.recno, node.recnos[want]);
          }
        }
      }
      LeafHit past;
      ASSERT_TRUE(
          ScanLeaf(page, 2048, key_length, ' ', "x", std::string(key_length, '\xff'), 0, &past)
              .ok());
      EXPECT_EQ(past.index, node.size());
    }
  }
}

TEST(CdxPageTest, SearchingALeafFindsEntriesOutOfOrder) {
  Node node;
  node.attributes = kAttrLeaf;
  node.key_length = 4;
  node.Insert(0, "ABCD", 1);
  node.Insert(1, "ABDA", 2);
  node.Insert(2, "ABCZ", 3);  // sorts before its predecessor
  std::array<uint8_t, kPageSize> page;
  EncodeNode(node, ' ', page);
  LeafHit hit;
  ASSERT_TRUE(ScanLeaf(page, 4096, 4, ' ', "t.cdx, tag X", "ABD", 0, &hit).ok());
  EXPECT_EQ(hit.index, 1u);  // found before the damage
  Status s = ScanLeaf(page, 4096, 4, ' ', "t.cdx, tag X", "ZZZZ", 0, &hit);
  EXPECT_EQ(s.code(), Status::kCorruption);
  EXPECT_NE(s.text().find("t.cdx, tag X, page at offset 4096"), std::string::npos) << s.text();
  EXPECT_NE(s.text().find("out of order"), std::string::npos) << s.text();
}

TEST(CdxPageTest, InteriorRoundTripAndCapacity) {
  Node node;
  node.attributes = kAttrRoot;
  node.key_length = 12;
  for (uint32_t i = 0; i < InteriorCapacity(12); ++i) {
    node.Insert(i, std::string(12, static_cast<char>('A' + i % 26)), i + 1, 512 * (i + 3));
  }
  EXPECT_TRUE(NodeFits(node, ' '));
  std::array<uint8_t, kPageSize> page;
  EncodeNode(node, ' ', page);
  Node back;
  ASSERT_TRUE(DecodeNode(page, 512 * 9, 12, ' ', "x", &back).ok());
  EXPECT_EQ(back.children, node.children);
  EXPECT_EQ(back.recnos, node.recnos);
  node.Insert(0, std::string(12, '0'), 1, 1536);
  EXPECT_FALSE(NodeFits(node, ' '));
}

TEST(CdxPageTest, DamagedPagesAreCorruptionNamingThePage) {
  Node node;
  node.attributes = kAttrLeaf | kAttrRoot;
  node.key_length = 10;
  node.Insert(0, "ABCDEFGHIJ", 7);
  std::array<uint8_t, kPageSize> good;
  EncodeNode(node, ' ', good);
  struct Case {
    const char* what;
    size_t at;
    uint8_t value;
  } cases[] = {
      {"attribute 5", 0, 5},
      {"count beyond capacity", 3, 0x7f},
      {"entry width zero", 23, 0},
      {"bit widths wider than the entry", 20, 30},
      {"counts beyond the key length", 26, 0xff},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::array<uint8_t, kPageSize> page = good;
    page[c.at] = c.value;
    Node out;
    Status s = DecodeNode(page, 3584, 10, ' ', "t.cdx, tag CODE", &out);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.code(), Status::kCorruption);
    EXPECT_NE(s.text().find("tag CODE, page at offset 3584"), std::string::npos) << s.text();
  }
}

TEST(KeyCodecTest, NumbersSortAsBytes) {
  const double values[] = {
      -std::numeric_limits<double>::max(), -1e15, -2.5, -1, -0.01, 0.0, 0.01, 1, 2.5, 1e15 + 0.01,
      std::numeric_limits<double>::max()};
  for (size_t i = 1; i < std::size(values); ++i) {
    EXPECT_LT(EncodeNumberKey(values[i - 1]), EncodeNumberKey(values[i])) << values[i];
  }
  for (double v : values) EXPECT_EQ(DecodeNumberKey(EncodeNumberKey(v)), v);
  EXPECT_EQ(EncodeNumberKey(-0.0), EncodeNumberKey(0.0));
  EXPECT_EQ(EncodeNumberKey(0.0), std::string("\x80\0\0\0\0\0\0\0", 8));
  EXPECT_EQ(EncodeNumberKey(-1.0), std::string("\x40\x0f\xff\xff\xff\xff\xff\xff", 8));
}

TEST(KeyCodecTest, JulianDays) {
  EXPECT_EQ(DateToJulian(2024, 2, 29), 2460370);
  EXPECT_EQ(DateToJulian(2023, 2, 29), 0);
  EXPECT_EQ(DateToJulian(1753, 1, 1), 2361331);
  EXPECT_EQ(JulianFromDtos("20000229"), DateToJulian(2000, 2, 29));
  EXPECT_EQ(JulianFromDtos("        "), 0);
  EXPECT_EQ(JulianFromDtos("20240230"), 0);
  EXPECT_EQ(DtosFromJulian(DateToJulian(9999, 12, 31)), "99991231");
  EXPECT_EQ(DtosFromJulian(0), "        ");
}

}  // namespace
}  // namespace tables::cdx
