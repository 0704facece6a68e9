// Every table of the fixtures (written by an independent engine) is read
// exactly as its dump says: header facts, descriptors, every field value of
// every record, deletion flags, memo lengths and checksums.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/file.h"
#include "runtime/convert.h"
#include "tables/dbf/fpt_file.h"
#include "tables/dbf/table.h"
#include "tables/dbf_value.h"
#include "tables/testing/table_fixture.h"

namespace tables {
namespace {

using dbftest::FixtureRoot;
using nlohmann::json;

json LoadDump(const std::string& dbf_path) {
  std::string dump = dbf_path.substr(0, dbf_path.size() - 4) + ".dump.json";
  std::ifstream in(dump);
  return json::parse(in);
}

std::vector<std::string> AllFixtureTables() {
  std::vector<std::string> out;
  for (auto& e : std::filesystem::recursive_directory_iterator(FixtureRoot())) {
    if (e.path().extension() == ".dbf") out.push_back(e.path().string());
  }
  std::string big = std::string(PROJECT_TESTDATA_DIR) + "/cdx/t_big.dbf";
  if (std::filesystem::exists(big)) out.push_back(big);
  std::sort(out.begin(), out.end());
  return out;
}

void CheckValue(Table& t, size_t fi, const uint8_t* rec, const json& want,
                const std::string& where) {
  const FieldDesc& f = t.fields()[fi];
  rt::Value v;
  Status st = FieldGetValue(t, fi, rec, &v);
  ASSERT_TRUE(st.ok()) << where << ": " << st.text();
  if (want.contains("null") && want["null"].get<bool>()) {
    EXPECT_TRUE(v.IsNil()) << where;
    return;
  }
  switch (f.type) {
    case 'C':
      ASSERT_TRUE(v.IsString()) << where;
      EXPECT_EQ(want["hex"].get<std::string>(), Hex(v.GetString())) << where;
      break;
    case 'N':
    case 'F':
    case 'I':
    case 'B':
    case 'Y':
      ASSERT_TRUE(v.IsNumeric()) << where;
      EXPECT_EQ(want["value"].get<double>(), v.GetFloat()) << where;
      break;
    case 'D':
      ASSERT_TRUE(v.IsDate()) << where;
      EXPECT_EQ(want["value"].get<std::string>(),
                v.GetDate().empty() ? std::string() : rt::DToS(v.GetDate()))
          << where;
      break;
    case 'L':
      ASSERT_TRUE(v.IsLogic()) << where;
      EXPECT_EQ(want["value"].is_boolean() && want["value"].get<bool>(), v.GetLogic()) << where;
      break;
    case 'M':
    case 'G':
    case 'P':
    case 'W':
      EXPECT_EQ(want["length"].get<size_t>(), v.GetString().size()) << where;
      EXPECT_EQ(want["sha256"].get<std::string>(), Sha256Hex(v.GetString())) << where;
      break;
    case 'T':
      EXPECT_EQ(want["value"].get<std::string>(), v.GetString()) << where;
      break;
    case 'V':
    case 'Q':
      EXPECT_EQ(want["hex"].get<std::string>(), Hex(v.GetString())) << where;
      break;
    default:
      break;
  }
}

class FixtureReadTest : public ::testing::TestWithParam<std::string> {};

TEST_P(FixtureReadTest, ReadsExactlyAsTheDump) {
  const std::string path = GetParam();
  json dump = LoadDump(path);
  std::unique_ptr<Table> t;
  OpenOptions options;
  options.read_only = true;
  Status st = Table::Open(path, options, &t);
  ASSERT_TRUE(st.ok()) << st.text();

  const json& h = dump["header"];
  EXPECT_EQ(h["version"].get<int>(), t->header().version);
  EXPECT_EQ(h["record_count"].get<uint32_t>(), t->header().stored_count);
  EXPECT_EQ(h["header_length"].get<int>(), t->header().header_length);
  EXPECT_EQ(h["record_length"].get<int>(), t->header().record_length);
  EXPECT_EQ(h["byte28"].get<int>(), t->header().flags);
  EXPECT_EQ(h["byte29"].get<int>(), t->header().codepage);
  EXPECT_EQ(h["records_from_size"].get<uint32_t>(), t->RecordCount());
  EXPECT_EQ(dump["records_total"].get<uint32_t>(), t->RecordCount());
  EXPECT_TRUE(t->write_refusal().empty()) << t->write_refusal();

  const json& fields = dump["fields"];
  ASSERT_EQ(fields.size(), t->fields().size());
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldDesc& f = t->fields()[i];
    SCOPED_TRACE(f.name);
    EXPECT_EQ(fields[i]["name"].get<std::string>(), f.name);
    EXPECT_EQ(fields[i]["type"].get<std::string>(), std::string(1, f.type));
    EXPECT_EQ(fields[i]["len"].get<uint32_t>(), f.length);
    EXPECT_EQ(fields[i]["dec"].get<uint32_t>(), f.decimals);
    EXPECT_EQ(fields[i]["offset"].get<uint32_t>(), f.offset);
    EXPECT_EQ(fields[i]["engine_type"].is_null(), f.type == '0');
  }
  if (!dump["memo_file"].is_null()) {
    ASSERT_NE(nullptr, t->memo());
    EXPECT_EQ(dump["memo_file"]["block_size"].get<uint32_t>(), t->memo()->block_size());
  }

  // Every record, in bulk, for the checksum; the listed ones field by field.
  std::map<uint32_t, const json*> listed;
  for (const json& r : dump["records"]) listed[r["recno"].get<uint32_t>()] = &r;
  std::string checksum_text;
  std::vector<uint8_t> rec(t->record_length());
  for (uint32_t n = 1; n <= t->RecordCount(); ++n) {
    ASSERT_TRUE(t->ReadRecord(n, rec.data()).ok());
    checksum_text += std::to_string(n) + " " +
                     Hex(std::string_view(reinterpret_cast<char*>(rec.data()), rec.size())) + "\n";
    auto it = listed.find(n);
    if (it == listed.end()) continue;
    const json& r = *it->second;
    std::string where = path + " record " + std::to_string(n);
    EXPECT_EQ(r["deleted"].get<bool>(), rec[0] == '*') << where;
    EXPECT_EQ(r["flag"].get<std::string>(), Hex(std::string(1, static_cast<char>(rec[0]))));
    for (size_t fi = 0; fi < t->fields().size(); ++fi) {
      const FieldDesc& f = t->fields()[fi];
      const json& want = r["fields"][f.name];
      std::string raw(reinterpret_cast<char*>(rec.data()) + f.offset, f.length);
      EXPECT_EQ(want["raw"].get<std::string>(), Hex(raw)) << where << " " << f.name;
      if (f.type != '0') CheckValue(*t, fi, rec.data(), want, where + " " + f.name);
    }
  }
  EXPECT_EQ(dump["records_sha256"].get<std::string>(), Sha256Hex(checksum_text));
}

INSTANTIATE_TEST_SUITE_P(AllFixtures, FixtureReadTest, ::testing::ValuesIn(AllFixtureTables()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name =
                               info.param.substr(std::string(PROJECT_TESTDATA_DIR).size());
                           std::string out;
                           for (char c : name)
                             out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return out + "_" + std::to_string(info.index);
                         });

// Another program allocating a memo holds byte 0 of the FPT exclusively. On
// Windows that lock is mandatory: our reads of that byte fail with a lock
// violation until it goes (Linux and Wine do not enforce it, so this file
// refuses such reads as Windows would).
class ByteZeroLockedElsewhere final : public platform::FileView {
 public:
  using FileView::FileView;
  platform::OsStatus ReadAt(uint64_t offset, void* buffer, size_t n, size_t* got) override {
    *got = 0;
    if (offset == 0 && n > 0) return platform::OsStatus(platform::kErrorLockViolation);
    return FileView::ReadAt(offset, buffer, n, got);
  }
};

TEST(MemoOpenTest, OpensAndReadsWhileAnotherProgramHoldsTheMemoLock) {
  std::unique_ptr<platform::File> file;
  ASSERT_TRUE(platform::OpenFile(FixtureRoot() + "/types/t_memo.fpt", platform::Access::kRead,
                                 platform::Share::kDenyNone, platform::Disposition::kOpenExisting,
                                 0, &file)
                  .ok());
  std::unique_ptr<MemoFile> memo;
  Status st = MemoFile::Open(std::make_unique<ByteZeroLockedElsewhere>(std::move(file)),
                             "t_memo.fpt", 'F', true, {}, &memo);
  ASSERT_TRUE(st.ok()) << st.text();
  EXPECT_EQ(64u, memo->block_size());
  std::string text;
  ASSERT_TRUE(memo->Read(16, &text).ok());  // record 2's note
  EXPECT_EQ("Tr\xe8s court", text);
}

}  // namespace
}  // namespace tables
