// Replays the inputs kept from fuzzing (testdata/cdx/fuzz/): each one must run
// through the fuzz targets' bodies to a status, without crash or hang. New
// crash files go into those folders and are replayed here from then on.
#define CDX_FUZZ_NO_MAIN
#include <gtest/gtest.h>

#include <filesystem>

#include "tables/testing/cdx_fixture.h"
#include "tables/tools/cdx_fuzz.cc"
#include "tables/tools/expr_fuzz.cc"

namespace tables {
namespace {

void ReplayFolder(const std::string& folder, int (*body)(const uint8_t*, size_t)) {
  size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    SCOPED_TRACE(entry.path().string());
    std::vector<uint8_t> bytes = testing::ReadAll(entry.path().string());
    EXPECT_EQ(body(bytes.data(), bytes.size()), 0);
    ++n;
  }
  EXPECT_GT(n, 0u);
}

TEST(IndexFuzzReplayTest, BagInputs) {
  ReplayFolder(testing::FixtureDir() + "/fuzz/cdx", &FuzzCdx);
}

TEST(IndexFuzzReplayTest, ExpressionInputs) {
  ReplayFolder(testing::FixtureDir() + "/fuzz/expr", &FuzzExpr);
}

}  // namespace
}  // namespace tables
