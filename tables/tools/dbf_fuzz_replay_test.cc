// Replays the fuzz findings and corpus seeds kept in testdata/tables/fuzz
// through the same entry points the fuzz targets use: each must come back with
// a status (no crash, no hang), and corrupt bytes must be named as such.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tables/testing/table_fixture.h"
#include "tables/tools/dbf_probe.h"

namespace tables {
namespace {

namespace fs = std::filesystem;

void Replay(const std::string& kind, Status (*probe)(const uint8_t*, size_t, const std::string&)) {
  dbftest::ScratchDir scratch;
  size_t files = 0;
  for (auto& e :
       fs::directory_iterator(std::string(PROJECT_TESTDATA_DIR) + "/tables/fuzz/" + kind)) {
    auto bytes = dbftest::ReadFileBytes(e.path().string());
    SCOPED_TRACE(e.path().string());
    Status st = probe(bytes.data(), bytes.size(), scratch.path());
    if (!st.ok()) {
      EXPECT_FALSE(st.text().empty());
    }
    ++files;
  }
  EXPECT_GT(files, 0u);
}

TEST(FuzzReplayTest, DbfInputs) { Replay("dbf", ProbeDbfBytes); }
TEST(FuzzReplayTest, FptInputs) { Replay("fpt", ProbeFptBytes); }

TEST(FuzzReplayTest, TruncatedHeadersAreCorruption) {
  dbftest::ScratchDir scratch;
  auto bytes = dbftest::ReadFileBytes(dbftest::FixtureRoot() + "/types/t_wide.dbf");
  for (size_t cut : {0u, 1u, 31u, 32u, 100u, 679u}) {
    Status st = ProbeDbfBytes(bytes.data(), cut, scratch.path());
    EXPECT_EQ(Status::kCorruption, st.code()) << cut << ": " << st.text();
  }
}

}  // namespace
}  // namespace tables
