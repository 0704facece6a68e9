// Round trips: values written through DBServer into new tables are read back
// identically after reopening, in the exact encodings other engines use; memo
// space is reused or extended coherently; header bytes we do not own survive.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/settings.h"
#include "tables/dbf/dbf_create.h"
#include "tables/dbf/dbf_field.h"
#include "tables/dbf/fpt_file.h"
#include "tables/dbserver.h"
#include "tables/testing/table_fixture.h"

namespace tables {
namespace {

using dbftest::ErrorCatcher;
using dbftest::FixtureRoot;
using dbftest::ReadFileBytes;
using dbftest::ScratchDir;
using dbftest::WriteFileBytes;

std::string Raw(DBServer& s, const char* field) {
  int fi = s.table().FieldIndex(field);
  const FieldDesc& f = s.table().fields()[static_cast<size_t>(fi)];
  return std::string(s.record().begin() + f.offset, s.record().begin() + f.offset + f.length);
}

TEST(DbfWriteTest, EveryWritableTypeRoundTrips) {
  ErrorCatcher errors;
  ScratchDir dir;
  std::string path = dir.path() + "/all.dbf";
  std::vector<FieldSpec> specs = {{"C", 'C', 6, 0},        {"N", 'N', 9, 3},      {"F", 'F', 8, 1},
                                  {"D", 'D', 8, 0},        {"L", 'L', 1, 0},      {"M", 'M', 4, 0},
                                  {"I", 'I', 4, 0},        {"B", 'B', 8, 2},      {"Y", 'Y', 8, 4},
                                  {"T", 'T', 8, 0},        {"V", 'V', 6, 0},      {"Q", 'Q', 4, 0},
                                  {"NC", 'C', 3, 0, true}, {"LONGC", 'C', 300, 0}};
  ASSERT_TRUE(CreateTable(path, 0x30, specs).ok());
  std::string binary;
  for (int i = 0; i < 256; ++i) binary.push_back(static_cast<char>(i));
  std::string long_text(300, 'x');
  long_text[299] = 'y';
  {
    auto s = DBServer::Open(path, false);
    ASSERT_NE(nullptr, s);
    for (int row = 0; row < 2; ++row) {
      ASSERT_TRUE(s->Append());
      ASSERT_TRUE(s->FieldPut("C", rt::Value::String(row ? "abcdef  " : "\xe9t\xe9")));
      ASSERT_TRUE(s->FieldPut("N", rt::Value::Float(row ? -12.3456 : 0.5, 4)));
      ASSERT_TRUE(s->FieldPut("F", rt::Value::Float(1500, 0)));
      ASSERT_TRUE(s->FieldPut("D", rt::Value::FromDate(rt::Date::FromYmd(2024, 2, 29))));
      ASSERT_TRUE(s->FieldPut("L", rt::Value::Logic(row == 0)));
      ASSERT_TRUE(s->FieldPut("M", rt::Value::String(row ? binary : "memo text\r\n\x1a")));
      ASSERT_TRUE(s->FieldPut("I", rt::Value::Long(row ? -2147483647 - 1 : 42)));
      ASSERT_TRUE(s->FieldPut("B", rt::Value::Float(-0.25, 2)));
      ASSERT_TRUE(s->FieldPut("Y", rt::Value::Float(-0.0001, 4)));
      ASSERT_TRUE(s->FieldPut("T", rt::Value::String("2024-02-29 13:14:15.000")));
      ASSERT_TRUE(s->FieldPut("V", rt::Value::String(row ? "sixsix" : "ab")));
      ASSERT_TRUE(s->FieldPut("Q", rt::Value::String(std::string("\0\1", 2))));
      ASSERT_TRUE(s->FieldPut("NC", row ? rt::Value() : rt::Value::String("nn")));
      ASSERT_TRUE(s->FieldPut("LONGC", rt::Value::String(long_text)));
    }
  }
  auto s = DBServer::Open(path, true, true);
  ASSERT_NE(nullptr, s);
  ASSERT_EQ(2u, s->LastRec());
  s->GoTo(1);
  EXPECT_EQ("\xe9t\xe9   ", s->FieldGet("C").GetString());
  EXPECT_EQ("    0.500", Raw(*s, "N"));
  EXPECT_EQ("  1500.0", Raw(*s, "F"));
  EXPECT_EQ("20240229", Raw(*s, "D"));
  EXPECT_EQ("T", Raw(*s, "L"));
  EXPECT_EQ("memo text\r\n\x1a", s->FieldGet("M").GetString());
  EXPECT_EQ(42, s->FieldGet("I").GetLong());
  EXPECT_EQ(-0.25, s->FieldGet("B").GetFloat());
  EXPECT_EQ(-0.0001, s->FieldGet("Y").GetFloat());
  EXPECT_EQ(std::string("\xff\xff\xff\xff\xff\xff\xff\xff", 8), Raw(*s, "Y"));
  EXPECT_EQ("2024-02-29 13:14:15.000", s->FieldGet("T").GetString());
  // 2024-02-29 13:14:15 is Julian day 2460370 and 47 655 000 ms.
  std::string t = Raw(*s, "T");
  EXPECT_EQ(2460370, ReadLeInt(reinterpret_cast<const uint8_t*>(t.data()), 4));
  EXPECT_EQ(47655000, ReadLeInt(reinterpret_cast<const uint8_t*>(t.data()) + 4, 4));
  EXPECT_EQ("ab", s->FieldGet("V").GetString());
  EXPECT_EQ(std::string("ab\0\0\0\2", 6), Raw(*s, "V"));  // length in the last byte
  EXPECT_EQ(std::string("\0\1", 2), s->FieldGet("Q").GetString());
  EXPECT_EQ("nn ", s->FieldGet("NC").GetString());
  EXPECT_EQ(long_text, s->FieldGet("LONGC").GetString());
  s->GoTo(2);
  EXPECT_EQ("abcdef", s->FieldGet("C").GetString());
  EXPECT_EQ("  -12.346", Raw(*s, "N"));
  EXPECT_EQ("F", Raw(*s, "L"));
  EXPECT_EQ(binary, s->FieldGet("M").GetString());
  EXPECT_EQ(-2147483647 - 1, s->FieldGet("I").GetLong());
  EXPECT_EQ("sixsix", s->FieldGet("V").GetString());
  EXPECT_TRUE(s->FieldGet("NC").IsNil());
  EXPECT_TRUE(errors.errors().empty());
  // The descriptors read back as other engines write them.
  EXPECT_EQ(0x30, s->table().header().version);
  const FieldDesc& longc = s->table().fields()[static_cast<size_t>(s->table().FieldIndex("LONGC"))];
  EXPECT_EQ(44, longc.len_byte);
  EXPECT_EQ(1, longc.dec_byte);
  EXPECT_EQ(0x02, s->table().header().flags & 0x02);  // memo flag of 0x3x tables
}

TEST(DbfWriteTest, MemoSpaceIsReusedWhenItFitsAndExtendedOtherwise) {
  ErrorCatcher errors;
  ScratchDir dir;
  std::string path = dir.path() + "/memo.dbf";
  ASSERT_TRUE(CreateTable(path, 0xF5, {{"NOTE", 'M', 10, 0}}, 64).ok());
  auto s = DBServer::Open(path);
  ASSERT_TRUE(s->Append());
  ASSERT_TRUE(s->FieldPut("NOTE", rt::Value::String(std::string(100, 'a'))));  // 2 blocks
  std::string first = Raw(*s, "NOTE");
  EXPECT_EQ("         8", first);
  ASSERT_TRUE(s->FieldPut("NOTE", rt::Value::String(std::string(50, 'b'))));  // fits in place
  EXPECT_EQ(first, Raw(*s, "NOTE"));
  ASSERT_TRUE(s->FieldPut("NOTE", rt::Value::String(std::string(500, 'c'))));  // moves to the end
  EXPECT_EQ("        10", Raw(*s, "NOTE"));
  // Another writer's allocation moved the free pointer: we allocate after it.
  ASSERT_TRUE(s->Commit());  // the append's transaction ends, its lock stays
  auto other = DBServer::Open(path);
  other->GoTo(1);
  EXPECT_FALSE(other->RLock());  // s still holds the record it appended
  ASSERT_TRUE(other->Append());
  ASSERT_TRUE(other->FieldPut("NOTE", rt::Value::String("x")));
  EXPECT_EQ("        18", Raw(*other, "NOTE"));
  ASSERT_TRUE(other->Commit());  // its append's transaction ends (and the header lock)
  s->Unlock();
  s->GoTo(1);
  ASSERT_TRUE(s->RLock());
  ASSERT_TRUE(s->FieldPut("NOTE", rt::Value::String(std::string(1000, 'd'))));
  EXPECT_EQ("        19", Raw(*s, "NOTE"));
  EXPECT_EQ(std::string(1000, 'd'), s->FieldGet("NOTE").GetString());
  other->GoTo(2);
  EXPECT_EQ("x", other->FieldGet("NOTE").GetString());
  auto fpt = ReadFileBytes(dir.path() + "/memo.fpt");
  EXPECT_EQ(19u + 16u, Be32(fpt.data()));  // 8 + 1000 bytes = 16 blocks of 64
  EXPECT_EQ(0u, fpt.size() % 64);
}

TEST(DbfWriteTest, AppendPreservesHeaderBytesWeDoNotOwn) {
  ErrorCatcher errors;
  ScratchDir dir;
  std::string copy = dir.Copy(FixtureRoot() + "/types/t_num.dbf", "t_num.dbf");
  dir.Copy(FixtureRoot() + "/types/t_num.cdx", "t_num.cdx");
  auto bytes = ReadFileBytes(copy);
  for (int i = 12; i < 28; ++i) bytes[i] = static_cast<uint8_t>(0xA0 + i);
  bytes[29] = 0x03;
  bytes[30] = 0x55;
  bytes[31] = 0x66;
  WriteFileBytes(copy, bytes);
  uint32_t before_count = Le32(bytes.data() + 4);
  {
    auto s = DBServer::Open(copy);
    ASSERT_NE(nullptr, s);
    ASSERT_TRUE(s->Append());
    ASSERT_TRUE(s->FieldPut(1u, rt::Value::Float(3.25, 2)));
  }
  auto after = ReadFileBytes(copy);
  for (int i = 8; i < static_cast<int>(Le16(bytes.data() + 8)); ++i) {
    ASSERT_EQ(bytes[i], after[i]) << "header byte " << i;
  }
  EXPECT_EQ(before_count + 1, Le32(after.data() + 4));
  // Shared append: the old end mark is overwritten and no new one written.
  uint32_t h = Le16(after.data() + 8), r = Le16(after.data() + 10);
  EXPECT_EQ(h + static_cast<size_t>(before_count + 1) * r, after.size());
  for (size_t i = h; i < h + static_cast<size_t>(before_count) * r; ++i) {
    ASSERT_EQ(bytes[i], after[i]) << "record byte " << i;
  }
  EXPECT_TRUE(errors.errors().empty());
}

TEST(DbfWriteTest, ExclusiveCloseWritesTheEndMark) {
  ErrorCatcher errors;
  ScratchDir dir;
  std::string path = dir.path() + "/x.dbf";
  ASSERT_TRUE(CreateTable(path, 0x03, {{"A", 'C', 2, 0}}).ok());
  {
    auto s = DBServer::Open(path, false);
    ASSERT_TRUE(s->Append());
    ASSERT_TRUE(s->FieldPut("A", rt::Value::String("zz")));
  }
  auto bytes = ReadFileBytes(path);
  EXPECT_EQ(0x1A, bytes.back());
  EXPECT_EQ(1u, Le32(bytes.data() + 4));
  EXPECT_EQ(Le16(bytes.data() + 8) + 3u + 1u, bytes.size());
}

}  // namespace
}  // namespace tables
