// What another program's hold on a file does to an open: a file held
// deny-write is refused with the sharing violation raised as a DBFCDX open
// error; an append source cut short is refused before anything is written.
// A whole-file lock taken by another process: tables/posix/whole_file_lock_test.cc.
#include <gtest/gtest.h>

#include <string>

#include "platform/file.h"
#include "platform/profile.h"
#include "tables/dbserver.h"
#include "tables/testing/table_fixture.h"

namespace tables {
namespace {

class OpenRefusalTest : public dbftest::PracticeCopyTest {};

TEST_F(OpenRefusalTest, FileHeldDenyWriteIsAnOpenError) {
  for (const char* name : {"tarif.dbf", "tarif.cdx", "tarif.fpt"}) {
    SCOPED_TRACE(name);
    errors_.clear();
    std::unique_ptr<platform::File> held;
    ASSERT_TRUE(platform::OpenFile(dir_ + "/" + name, platform::Access::kRead,
                                   platform::Share::kDenyWrite,
                                   platform::Disposition::kOpenExisting, 0, &held)
                    .ok());
    EXPECT_EQ(nullptr, DBServer::Open(dir_ + "/tarif.dbf"));
    ASSERT_EQ(1u, errors_.errors().size());
    const auto& e = errors_.errors()[0];
    EXPECT_EQ("DBFCDX", e.subsystem);
    EXPECT_EQ(21u, e.gen_code);
    EXPECT_EQ(platform::kErrorSharingViolation, e.os_code);
    EXPECT_NE(std::string::npos, e.file_name.find(name));
    held.reset();
    auto s = DBServer::Open(dir_ + "/tarif.dbf");
    ASSERT_NE(nullptr, s);
  }
}

TEST_F(OpenRefusalTest, TruncatedAppendSourceIsRefusedBeforeAnyWrite) {
  const std::string source = dbftest::DemoTree() + "/prog/tarif2017";
  for (uint64_t cut : {1u, 7u}) {  // a whole record less than counted; a part record
    SCOPED_TRACE(cut);
    errors_.clear();
    std::string copy = scratch_.Copy(source + ".dbf", "src" + std::to_string(cut) + ".dbf");
    scratch_.Copy(source + ".fpt", "src" + std::to_string(cut) + ".fpt");
    scratch_.Copy(source + ".cdx", "src" + std::to_string(cut) + ".cdx");
    std::vector<uint8_t> bytes = dbftest::ReadFileBytes(copy);
    const uint32_t record = bytes[10] | (bytes[11] << 8);
    bytes.resize(bytes.size() - (bytes.back() == 0x1A ? 1 : 0) - (cut == 1 ? record : cut));
    dbftest::WriteFileBytes(copy, bytes);
    const std::vector<uint8_t> before = dbftest::ReadFileBytes(dir_ + "/tarif.dbf");
    auto s = DBServer::Open(dir_ + "/tarif.dbf");
    ASSERT_NE(nullptr, s);
    EXPECT_FALSE(s->AppendDB(copy));
    s->Close();
    ASSERT_EQ(1u, errors_.errors().size());
    EXPECT_EQ(32u, errors_.errors()[0].gen_code);
    EXPECT_EQ(copy, errors_.errors()[0].file_name);
    EXPECT_EQ(before, dbftest::ReadFileBytes(dir_ + "/tarif.dbf"));
  }
}

}  // namespace
}  // namespace tables
