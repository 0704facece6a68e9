// Tables other programs may leave behind: each bad-input case gives a clear
// error or warning, reads what can safely be read, and writes nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tables/dbf/dbf_create.h"
#include "tables/dbf/dbf_field.h"
#include "tables/dbf/fpt_file.h"
#include "tables/dbf/table.h"
#include "tables/dbf_value.h"
#include "tables/dbserver.h"
#include "tables/testing/table_fixture.h"

namespace tables {
namespace {

using dbftest::ErrorCatcher;
using dbftest::ReadFileBytes;
using dbftest::ScratchDir;
using dbftest::WriteFileBytes;

class BadInputTest : public ::testing::Test {
 protected:
  // A table with fields C(4) and N(8,2) holding `records` records.
  std::string MakeTable(const std::string& name, int records, uint8_t version = 0x03) {
    std::string path = dir_.path() + "/" + name + ".dbf";
    EXPECT_TRUE(CreateTable(path, version, {{"CODE", 'C', 4, 0}, {"VAL", 'N', 8, 2}}).ok());
    auto bytes = ReadFileBytes(path);
    bytes.pop_back();  // the 0x1A
    for (int i = 0; i < records; ++i) {
      std::string val = std::to_string(i) + ".00";
      std::string rec2 =
          " R" + std::to_string(i % 10) + "  " + std::string(8 - val.size(), ' ') + val;
      bytes.insert(bytes.end(), rec2.begin(), rec2.end());
    }
    PutLe32(bytes.data() + 4, static_cast<uint32_t>(records));
    bytes.push_back(0x1A);
    WriteFileBytes(path, bytes);
    return path;
  }
  Status OpenRead(const std::string& path, std::unique_ptr<Table>* t) {
    OpenOptions o;
    o.read_only = true;
    return Table::Open(path, o, t);
  }
  ScratchDir dir_;
  ErrorCatcher errors_;
};

TEST_F(BadInputTest, VersionsWeRefuse) {
  for (uint8_t v : {0x42, 0x02, 0xFB}) {
    std::string path = MakeTable("v" + std::to_string(v), 2);
    auto bytes = ReadFileBytes(path);
    bytes[0] = v;
    WriteFileBytes(path, bytes);
    std::unique_ptr<Table> t;
    Status st = OpenRead(path, &t);
    EXPECT_EQ(Status::kCorruption, st.code());
    EXPECT_NE(std::string::npos, st.text().find("unsupported table version")) << st.text();
  }
  std::string path = MakeTable("dbase4", 1);
  auto bytes = ReadFileBytes(path);
  bytes[0] = 0x8B;
  WriteFileBytes(path, bytes);
  std::unique_ptr<Table> t;
  EXPECT_EQ(Status::kUnsupported, OpenRead(path, &t).code());
}

TEST_F(BadInputTest, BrokenDescriptorsAreRefused) {
  std::string path = MakeTable("reclen", 2);
  auto bytes = ReadFileBytes(path);
  auto original = bytes;
  PutLe16(bytes.data() + 10, 14);  // one more than the fields make
  WriteFileBytes(path, bytes);
  std::unique_ptr<Table> t;
  Status st = OpenRead(path, &t);
  EXPECT_EQ(Status::kCorruption, st.code());
  EXPECT_NE(std::string::npos, st.text().find("sum of the field lengths")) << st.text();

  bytes = original;
  bytes[32 + 64] = ' ';  // the 0x0D terminator gone
  WriteFileBytes(path, bytes);
  st = OpenRead(path, &t);
  EXPECT_EQ(Status::kCorruption, st.code()) << st.text();

  bytes = original;
  PutLe16(bytes.data() + 8, 80);  // header cut inside the second descriptor
  WriteFileBytes(path, bytes);
  st = OpenRead(path, &t);
  EXPECT_EQ(Status::kCorruption, st.code());
  EXPECT_NE(std::string::npos, st.text().find("overrun")) << st.text();
}

TEST_F(BadInputTest, HeaderPaddingVariantsReadTheSame) {
  // 0x0D then nothing, one 0x00 (ours), 263 zeros: data starts at the stored length.
  for (size_t pad : {0u, 1u, 263u}) {
    std::string path = MakeTable("pad" + std::to_string(pad), 3);
    auto bytes = ReadFileBytes(path);
    uint16_t h = Le16(bytes.data() + 8);
    std::vector<uint8_t> out(bytes.begin(), bytes.begin() + 32 + 64 + 1);
    out.insert(out.end(), pad, 0);
    out.insert(out.end(), bytes.begin() + h, bytes.end());
    PutLe16(out.data() + 8, static_cast<uint32_t>(32 + 64 + 1 + pad));
    WriteFileBytes(path, out);
    std::unique_ptr<Table> t;
    ASSERT_TRUE(OpenRead(path, &t).ok()) << pad;
    ASSERT_EQ(3u, t->RecordCount());
    std::vector<uint8_t> rec(t->record_length());
    ASSERT_TRUE(t->ReadRecord(3, rec.data()).ok());
    EXPECT_EQ(" R2      2.00", std::string(rec.begin(), rec.end()));
  }
}

TEST_F(BadInputTest, CountsAndTailsDisagreeingWithTheFile) {
  // Header says more than the file holds: whole records only, warned, never written.
  std::string path = MakeTable("short", 5);
  auto bytes = ReadFileBytes(path);
  PutLe32(bytes.data() + 4, 9);
  WriteFileBytes(path, bytes);
  auto s = DBServer::Open(path);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(5u, s->LastRec());
  EXPECT_FALSE(s->table().warnings().empty());
  EXPECT_FALSE(s->Append());
  ASSERT_TRUE(s->GoTo(2));
  ASSERT_TRUE(s->RLock());
  EXPECT_FALSE(s->FieldPut("VAL", rt::Value::Long(1)));
  ASSERT_EQ(2u, errors_.errors().size());
  EXPECT_EQ(32u, errors_.errors()[0].gen_code);
  EXPECT_EQ(32u, errors_.errors()[1].gen_code);
  s->Close();
  EXPECT_EQ(bytes, ReadFileBytes(path));

  // Header says fewer: the file's records are all there.
  path = MakeTable("long", 5);
  bytes = ReadFileBytes(path);
  PutLe32(bytes.data() + 4, 3);
  WriteFileBytes(path, bytes);
  std::unique_ptr<Table> t;
  ASSERT_TRUE(OpenRead(path, &t).ok());
  EXPECT_EQ(5u, t->RecordCount());
  EXPECT_TRUE(t->write_refusal().empty());

  // A partial record at the end: whole records only, writes refused.
  path = MakeTable("partial", 4);
  bytes = ReadFileBytes(path);
  bytes.pop_back();
  bytes.resize(bytes.size() - 6);
  WriteFileBytes(path, bytes);
  ASSERT_TRUE(OpenRead(path, &t).ok());
  EXPECT_EQ(3u, t->RecordCount());
  EXPECT_FALSE(t->write_refusal().empty());

  // No end mark, or a stray byte: read, the stray byte warned about.
  path = MakeTable("noeof", 2);
  bytes = ReadFileBytes(path);
  bytes.pop_back();
  WriteFileBytes(path, bytes);
  ASSERT_TRUE(OpenRead(path, &t).ok());
  EXPECT_EQ(2u, t->RecordCount());
  EXPECT_TRUE(t->warnings().empty());
  bytes.push_back('x');
  WriteFileBytes(path, bytes);
  ASSERT_TRUE(OpenRead(path, &t).ok());
  EXPECT_EQ(2u, t->RecordCount());
  EXPECT_FALSE(t->warnings().empty());
}

TEST_F(BadInputTest, FieldEncodings) {
  struct NumCase {
    const char* raw;
    bool ok;
    double value;
  } nums[] = {{"   -1.50", true, -1.5}, {"********", false, 0},
              {"        ", true, 0},    {" 1.5E+03", true, 1500},
              {"  12.3.4", false, 0},   {"- 1", false, 0},
              {"+.5", true, 0.5},       {"-", false, 0},
              {"1e", false, 0},         {"1234567890123456", true, 1234567890123456.0}};
  for (const NumCase& c : nums) {
    double v = -7;
    bool blank = false;
    EXPECT_EQ(c.ok, ParseNumeric(c.raw, &v, &blank)) << c.raw;
    if (c.ok) {
      EXPECT_EQ(c.value, v) << c.raw;
    }
  }
  char out[10];
  EXPECT_TRUE(FormatNumeric(-1.5, 8, 2, out));
  EXPECT_EQ("   -1.50", std::string(out, 8));
  EXPECT_TRUE(FormatNumeric(0.125, 6, 2, out));  // half away from zero
  EXPECT_EQ("  0.13", std::string(out, 6));
  EXPECT_TRUE(FormatNumeric(-0.001, 6, 2, out));  // no "-0.00"
  EXPECT_EQ("  0.00", std::string(out, 6));
  EXPECT_FALSE(FormatNumeric(123456.0, 5, 0, out));
  EXPECT_EQ("*****", std::string(out, 5));

  int32_t j = 1;
  EXPECT_TRUE(ParseDate("        ", &j));
  EXPECT_EQ(0, j);
  EXPECT_FALSE(ParseDate("00000000", &j));
  EXPECT_FALSE(ParseDate("20240230", &j));
  EXPECT_TRUE(ParseDate("20000229", &j));
  char d[8];
  FormatDate(j, d);
  EXPECT_EQ("20000229", std::string(d, 8));

  const char* trues = "TtYy";
  const char* falses = "FfNn";
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(1, ParseLogical(static_cast<uint8_t>(trues[i])));
    EXPECT_EQ(0, ParseLogical(static_cast<uint8_t>(falses[i])));
  }
  EXPECT_EQ(-1, ParseLogical('?'));
  EXPECT_EQ(-1, ParseLogical(' '));
  EXPECT_EQ(-2, ParseLogical(0));

  FieldDesc memo;
  memo.type = 'M';
  memo.length = 10;
  uint32_t block = 9;
  EXPECT_TRUE(MemoBlock(memo, reinterpret_cast<const uint8_t*>("        17"), &block));
  EXPECT_EQ(17u, block);
  EXPECT_TRUE(MemoBlock(memo, reinterpret_cast<const uint8_t*>("          "), &block));
  EXPECT_EQ(0u, block);
  const uint8_t nuls[10] = {};
  EXPECT_TRUE(MemoBlock(memo, nuls, &block));
  EXPECT_EQ(0u, block);
  EXPECT_FALSE(MemoBlock(memo, reinterpret_cast<const uint8_t*>("   1 2    "), &block));
}

TEST_F(BadInputTest, BadDatesAndNumbersAreReportedPerField) {
  std::string path = dir_.path() + "/d.dbf";
  ASSERT_TRUE(CreateTable(path, 0x03, {{"D", 'D', 8, 0}, {"N", 'N', 5, 1}, {"C", 'C', 2, 0}}).ok());
  auto bytes = ReadFileBytes(path);
  bytes.pop_back();
  std::string rec = " 20240230*****ok";
  bytes.insert(bytes.end(), rec.begin(), rec.end());
  WriteFileBytes(path, bytes);
  std::unique_ptr<Table> t;
  ASSERT_TRUE(OpenRead(path, &t).ok());
  std::vector<uint8_t> r(t->record_length());
  ASSERT_TRUE(t->ReadRecord(1, r.data()).ok());
  rt::Value v;
  EXPECT_EQ(Status::kCorruption, FieldGetValue(*t, 0, r.data(), &v).code());
  EXPECT_EQ(Status::kCorruption, FieldGetValue(*t, 1, r.data(), &v).code());
  ASSERT_TRUE(FieldGetValue(*t, 2, r.data(), &v).ok());
  EXPECT_EQ("ok", v.GetString());
}

TEST_F(BadInputTest, MemoPointersThatLeadNowhere) {
  std::string path = dir_.path() + "/m.dbf";
  ASSERT_TRUE(CreateTable(path, 0xF5, {{"ID", 'C', 2, 0}, {"NOTE", 'M', 10, 0}}).ok());
  std::string fpt = dir_.path() + "/m.fpt";
  auto memo = ReadFileBytes(fpt);  // 512-byte header, block size 64, next free 8
  // Block 8: text "hello"; block 9: type 5.
  std::vector<uint8_t> b8(64, 0), b9(64, 0);
  PutBe32(b8.data(), 1);
  PutBe32(b8.data() + 4, 5);
  std::memcpy(b8.data() + 8, "hello", 5);
  PutBe32(b9.data(), 5);
  PutBe32(b9.data() + 4, 3);
  memo.insert(memo.end(), b8.begin(), b8.end());
  memo.insert(memo.end(), b9.begin(), b9.end());
  PutBe32(memo.data(), 10);
  WriteFileBytes(fpt, memo);
  auto bytes = ReadFileBytes(path);
  bytes.pop_back();
  for (const char* rec : {" a         8", " b         9", " c      9999", " d         3"}) {
    bytes.insert(bytes.end(), rec, rec + 13);
  }
  WriteFileBytes(path, bytes);
  std::unique_ptr<Table> t;
  ASSERT_TRUE(OpenRead(path, &t).ok());
  std::vector<uint8_t> r(t->record_length());
  std::string text;
  const char* expect[] = {"", "unknown type", "past the end", "inside the header"};
  for (uint32_t n = 1; n <= 4; ++n) {
    ASSERT_TRUE(t->ReadRecord(n, r.data()).ok());
    Status st = t->ReadMemo(1, r.data(), &text);
    if (n == 1) {
      ASSERT_TRUE(st.ok());
      EXPECT_EQ("hello", text);
    } else {
      EXPECT_EQ(Status::kCorruption, st.code()) << n;
      EXPECT_NE(std::string::npos, st.text().find(expect[n - 1])) << st.text();
      EXPECT_NE(std::string::npos, st.text().find("NOTE")) << st.text();
    }
    rt::Value id;
    ASSERT_TRUE(FieldGetValue(*t, 0, r.data(), &id).ok());  // the rest stays readable
  }
  // A length running past the end of the file.
  PutBe32(memo.data() + 512 + 4, 1000);
  WriteFileBytes(fpt, memo);
  ASSERT_TRUE(OpenRead(path, &t).ok());
  ASSERT_TRUE(t->ReadRecord(1, r.data()).ok());
  EXPECT_EQ(Status::kCorruption, t->ReadMemo(1, r.data(), &text).code());
}

TEST_F(BadInputTest, DbaseThreeMemos) {
  std::string path = dir_.path() + "/t3.dbf";
  std::vector<uint8_t> header;
  ASSERT_TRUE(CreateHeader(0x83, {{"NOTE", 'M', 10, 0}}, 0, 2026, 1, 1, &header).ok());
  for (const char* rec : {"          1", "          2"}) header.insert(header.end(), rec, rec + 11);
  PutLe32(header.data() + 4, 2);
  WriteFileBytes(path, header);
  std::vector<uint8_t> dbt(512 * 3, 0);
  PutLe32(dbt.data(), 3);
  std::memcpy(dbt.data() + 512, "one\x1a", 4);
  std::memcpy(dbt.data() + 1024, "two\x1a\x1a", 5);
  WriteFileBytes(dir_.path() + "/t3.dbt", dbt);
  std::unique_ptr<Table> t;
  ASSERT_TRUE(OpenRead(path, &t).ok());
  std::vector<uint8_t> r(t->record_length());
  std::string text;
  ASSERT_TRUE(t->ReadRecord(1, r.data()).ok());
  ASSERT_TRUE(t->ReadMemo(0, r.data(), &text).ok());
  EXPECT_EQ("one", text);
  ASSERT_TRUE(t->ReadRecord(2, r.data()).ok());
  ASSERT_TRUE(t->ReadMemo(0, r.data(), &text).ok());
  EXPECT_EQ("two", text);
}

TEST_F(BadInputTest, MissingMemoFileFailsTheOpen) {
  std::string path = dir_.path() + "/nomemo.dbf";
  ASSERT_TRUE(CreateTable(path, 0xF5, {{"NOTE", 'M', 10, 0}}).ok());
  std::remove((dir_.path() + "/nomemo.fpt").c_str());
  std::unique_ptr<Table> t;
  Status st = OpenRead(path, &t);
  EXPECT_EQ(Status::kOpen, st.code());
  EXPECT_EQ(2u, st.os_code());
}

}  // namespace
}  // namespace tables
