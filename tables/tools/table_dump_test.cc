// tabletool's dump equals the fixtures' dumps on every key our engine knows;
// its check finds faults planted in copies.
#include "tables/tools/table_dump.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/cp1252.h"
#include "runtime/value.h"
#include "tables/dbf/dbf_create.h"
#include "tables/dbf/dbf_header.h"
#include "tables/dbserver.h"
#include "tables/testing/table_fixture.h"
#include "tables/tools/digest.h"

namespace tables {
namespace {

using nlohmann::json;

void ExpectKeys(const json& want, const json& got, std::initializer_list<const char*> keys,
                const std::string& where) {
  for (const char* k : keys) {
    if (!want.contains(k)) continue;
    if (!got.contains(k)) {
      ADD_FAILURE() << where << ": no key " << k;
      continue;
    }
    EXPECT_EQ(want[k], got[k]) << where << " key " << k;
  }
}

class DumpTest : public ::testing::TestWithParam<std::string> {};

TEST_P(DumpTest, EqualsTheFixtureDumpOnKnownKeys) {
  std::string path = dbftest::FixtureRoot() + "/" + GetParam();
  std::ostringstream text;
  ASSERT_TRUE(DumpTable(path, text).ok());
  json got = json::parse(text.str());
  std::ifstream in(path.substr(0, path.size() - 4) + ".dump.json");
  json want = json::parse(in);
  ExpectKeys(want, got, {"format", "table", "records_total", "records_sha256"}, "top");
  ExpectKeys(want["header"], got["header"],
             {"version", "version_hex", "year_byte", "month_byte", "day_byte", "record_count",
              "header_length", "record_length", "byte28", "byte29", "file_size", "ends_with_1a",
              "records_from_size"},
             "header");
  ASSERT_EQ(want["fields"].size(), got["fields"].size());
  for (size_t i = 0; i < want["fields"].size(); ++i) {
    ExpectKeys(want["fields"][i], got["fields"][i],
               {"name", "type", "len", "dec", "len_byte", "dec_byte", "flags", "offset"}, "field");
  }
  ASSERT_EQ(want["memo_file"].is_null(), got["memo_file"].is_null());
  if (!want["memo_file"].is_null()) {
    ExpectKeys(want["memo_file"], got["memo_file"],
               {"name", "file_size", "block_size", "next_free_block"}, "memo");
  }
  ASSERT_EQ(want["index_file"].is_null(), got["index_file"].is_null());
  if (!want["index_file"].is_null()) {
    ExpectKeys(want["index_file"], got["index_file"], {"name", "file_size", "tag_count"}, "index");
  }
  ASSERT_EQ(want["records"].size(), got["records"].size());
  for (size_t r = 0; r < want["records"].size(); ++r) {
    const json& w = want["records"][r];
    const json& g = got["records"][r];
    std::string where = "record " + std::to_string(r + 1);
    ExpectKeys(w, g, {"recno", "deleted", "flag"}, where);
    for (auto& [name, wf] : w["fields"].items()) {
      ExpectKeys(wf, g["fields"][name],
                 {"raw", "null", "hex", "text", "value", "length", "block", "sha256", "truncated"},
                 where + " " + name);
    }
  }
  ASSERT_EQ(want["tags"].size(), got["tags"].size());
  for (size_t t = 0; t < want["tags"].size(); ++t) {
    const json& w = want["tags"][t];
    const json& g = got["tags"][t];
    ExpectKeys(w, g,
               {"order", "name", "key", "for", "unique", "descending", "raw_key_length", "options",
                "header_offset", "key_count", "entry_count", "entries_sha256"},
               "tag " + w["name"].get<std::string>());
    ASSERT_EQ(w["entries"].size(), g["entries"].size());
    for (size_t e = 0; e < w["entries"].size(); ++e) {
      EXPECT_EQ(w["entries"][e][0], g["entries"][e][0]);
      EXPECT_EQ(w["entries"][e][1], g["entries"][e][1]);
    }
  }
  EXPECT_EQ(want["autorder1"], got["autorder1"]);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DumpTest,
                         ::testing::Values("types/t_char.dbf", "types/t_date.dbf",
                                           "types/t_logic.dbf", "types/t_longchar.dbf",
                                           "types/t_memo.dbf", "types/t_num.dbf",
                                           "types/t_wide.dbf", "demo-tree/prog/tarif2017.dbf",
                                           "demo-tree/prog/ind_1002017.dbf",
                                           "demo-tree/root/data/comm/doc.dbf",
                                           "demo-tree/root/data/doc02 /ind_100.dbf"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string out;
                           for (char c : info.param)
                             out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return out;
                         });

// The memo and index facts are read from the files as they are now, not as
// they were at open: a memo that outgrew its blocks moves the free pointer and
// the file end, and the dump follows both.
TEST(DumpFilesTest, FollowsTheMemoFileAsItGrowsAndNamesNoFilesItLacks) {
  dbftest::ScratchDir dir;
  std::string t = dir.Copy(dbftest::FixtureRoot() + "/types", "types");
  auto dump = [](const std::string& path) {
    std::ostringstream text;
    EXPECT_TRUE(DumpTable(path, text).ok());
    return json::parse(text.str());
  };
  json before = dump(t + "/t_memo.dbf");
  const uint32_t block_size = before["memo_file"]["block_size"];
  const uint32_t next_free = before["memo_file"]["next_free_block"];
  {
    auto s = DBServer::Open(t + "/t_memo.dbf", false);
    ASSERT_NE(nullptr, s);
    ASSERT_TRUE(s->GoTo(1));
    // 8 bytes of block header + 1000 of text: 16 blocks of 64 at the end.
    ASSERT_TRUE(s->FieldPut("NOTE", rt::Value::String(std::string(1000, 'x'))));
  }
  json after = dump(t + "/t_memo.dbf");
  EXPECT_EQ(next_free + (8 + 1000 + block_size - 1) / block_size,
            after["memo_file"]["next_free_block"].get<uint32_t>());
  EXPECT_EQ(after["memo_file"]["next_free_block"].get<uint64_t>() * block_size,
            after["memo_file"]["file_size"].get<uint64_t>());
  EXPECT_EQ(before["index_file"]["name"], after["index_file"]["name"]);
  EXPECT_EQ(6, after["index_file"]["tag_count"]);

  // A table we create without memo fields or tags has neither file.
  std::string bare = dir.path() + "/bare.dbf";
  ASSERT_TRUE(CreateTable(bare, 0x03, {{"CODE", 'C', 4, 0}}).ok());
  json plain = dump(bare);
  EXPECT_TRUE(plain["memo_file"].is_null());
  EXPECT_TRUE(plain["index_file"].is_null());
}

// Every byte of a character field comes out as valid JSON text that reads
// back to the same byte: controls escaped, the undefined bytes as C1 controls.
TEST(DumpFilesTest, EveryByteOfATextReadsBack) {
  dbftest::ScratchDir dir;
  std::string path = dir.path() + "/bytes.dbf";
  ASSERT_TRUE(CreateTable(path, 0x03, {{"TEXT", 'C', 128, 0}}).ok());
  std::string halves[2];
  for (int b = 0; b < 256; ++b) halves[b / 128].push_back(static_cast<char>(b));
  {
    auto s = DBServer::Open(path, false);
    ASSERT_NE(nullptr, s);
    for (const std::string& half : halves) {
      ASSERT_TRUE(s->Append());
      ASSERT_TRUE(s->FieldPut("TEXT", rt::Value::String(half)));
    }
  }
  std::ostringstream text;
  ASSERT_TRUE(DumpTable(path, text).ok());
  json got = json::parse(text.str());
  ASSERT_EQ(2u, got["records"].size());
  for (size_t r = 0; r < 2; ++r) {
    const json& field = got["records"][r]["fields"]["TEXT"];
    EXPECT_EQ(halves[r], platform::Utf8ToCp1252(field["text"].get<std::string>())) << r;
    EXPECT_EQ(Hex(halves[r]), field["hex"]) << r;
  }
}

TEST(CheckTest, FindsSharedMemoBlocksAndBadFlags) {
  dbftest::ScratchDir dir;
  std::string t = dir.Copy(dbftest::FixtureRoot() + "/types", "types");
  std::vector<std::string> faults;
  ASSERT_TRUE(CheckTable(t + "/t_memo.dbf", &faults).ok());
  EXPECT_TRUE(faults.empty()) << faults.front();
  // Record 3's memo pointer copied into record 2; record 1's flag broken.
  auto bytes = dbftest::ReadFileBytes(t + "/t_memo.dbf");
  uint16_t h = Le16(bytes.data() + 8), r = Le16(bytes.data() + 10);
  DbfHeader header;
  ASSERT_TRUE(ParseHeader(bytes, "t_memo", &header).ok());
  for (const FieldDesc& f : header.fields) {
    if (f.type != 'M') continue;
    std::copy_n(bytes.begin() + h + 2 * r + f.offset, f.length, bytes.begin() + h + r + f.offset);
  }
  bytes[h] = 'X';
  dbftest::WriteFileBytes(t + "/t_memo.dbf", bytes);
  faults.clear();
  ASSERT_TRUE(CheckTable(t + "/t_memo.dbf", &faults).ok());
  bool overlap = false, flag = false;
  for (const std::string& f : faults) {
    overlap = overlap || f.find("overlaps") != std::string::npos;
    flag = flag || f.find("deletion flag") != std::string::npos;
  }
  EXPECT_TRUE(overlap);
  EXPECT_TRUE(flag);
}

}  // namespace
}  // namespace tables
