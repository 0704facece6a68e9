#include "runtime/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/file_faults.h"
#include "platform/os_error.h"
#include "testing/scratch_dir.h"

namespace rt {
namespace {

namespace fs = std::filesystem;

// A fresh directory per test; file names are handed to the runtime as the
// OS spells them, which both back-ends accept as Windows paths.
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeScratchDir("rt_files");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }
  std::string Contents(const std::string& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }

  fs::path dir_;
};

TEST_F(FilesTest, CreateWriteLinesAndClose) {
  int32_t h = FCreate2(PathOf("log.txt"), 0x20);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(FError(), 0u);
  EXPECT_EQ(FPutS(h, "abc"), 5u);         // the text and CR LF
  EXPECT_EQ(FPutS3(h, "abcdef", 2), 4u);  // only the first two bytes
  EXPECT_EQ(FPutS3(h, "xyz", 0), 5u);     // 0 means the whole text
  EXPECT_EQ(FPutS3(h, "", 0), 2u);        // an empty line
  EXPECT_EQ(FPutS3(h, "ab", 9), 4u);      // a length past the end takes what there is
  EXPECT_EQ(FWrite(h, std::string("\xe9\0!", 3)), 3u);
  EXPECT_TRUE(FClose(h));
  EXPECT_EQ(Contents("log.txt"), std::string("abc\r\nab\r\nxyz\r\n\r\nab\r\n\xe9\0!", 23));
}

TEST_F(FilesTest, CreateCutsAnExistingFile) {
  Write("old.txt", "previous content");
  int32_t h = FCreate2(PathOf("old.txt"), 0x80);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_TRUE(FClose(h));
  EXPECT_EQ(Contents("old.txt"), "");
}

TEST_F(FilesTest, OpenFailuresGiveWindowsCodes) {
  EXPECT_EQ(FOpen2(PathOf("missing.txt"), 1), kInvalidHandle);
  EXPECT_EQ(FError(), platform::kErrorFileNotFound);
  EXPECT_EQ(FOpen2(PathOf("no-such-dir/x.txt"), 1), kInvalidHandle);
  EXPECT_EQ(FError(), platform::kErrorPathNotFound);
  EXPECT_EQ(FCreate2(PathOf("no-such-dir/x.txt"), 0x20), kInvalidHandle);
  EXPECT_EQ(FError(), platform::kErrorPathNotFound);
  Write("f.txt", "x");
  EXPECT_EQ(FOpen2(PathOf("f.txt"), 3), kInvalidHandle);  // no such access mode
  EXPECT_EQ(FError(), platform::kErrorInvalidParameter);
  EXPECT_EQ(FOpen2(PathOf("f.txt"), 0x52), kInvalidHandle);  // no such sharing mode
  EXPECT_EQ(FError(), platform::kErrorInvalidParameter);
}

TEST_F(FilesTest, AppendAtTheEndOfAnExistingFile) {
  Write("a.log", "first\r\n");
  int32_t h = FOpen2(PathOf("a.log"), 1);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(FSeek3(h, 0, 2), 7);
  FPutS3(h, "", 0);
  FPutS(h, "second");
  EXPECT_TRUE(FClose(h));
  EXPECT_EQ(Contents("a.log"), "first\r\n\r\nsecond\r\n");
}

TEST_F(FilesTest, SeekFromEachOrigin) {
  Write("s.bin", "0123456789");
  int32_t h = FOpen2(PathOf("s.bin"), 2);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(FSeek3(h, 4, 0), 4);
  EXPECT_EQ(FRead(h, 2), "45");
  EXPECT_EQ(FSeek3(h, 1, 1), 7);
  EXPECT_EQ(FRead(h, 10), "789");  // short at the end
  EXPECT_EQ(FRead(h, 10), "");
  EXPECT_EQ(FSeek3(h, 0, 0), 0);
  EXPECT_EQ(FRead(h, 0xFFFFFFFFu), "0123456789");  // "all of it" without a 4 GB buffer
  EXPECT_EQ(FSeek3(h, 20, 0), 20);
  EXPECT_EQ(FRead(h, 5), "");  // past the end
  EXPECT_EQ(FError(), 0u);
  EXPECT_EQ(FSeek3(h, -3, 2), 7);
  EXPECT_EQ(FSeek3(h, 0, 1), 7);
  EXPECT_EQ(FSeek3(h, -8, 1), kInvalidHandle);  // before the start: refused, position kept
  EXPECT_EQ(FError(), platform::kErrorNegativeSeek);
  EXPECT_EQ(FRead(h, 1), "7");
  EXPECT_EQ(FError(), 0u);
  EXPECT_EQ(FSeek3(h, 2, 7), kInvalidHandle);
  EXPECT_EQ(FError(), platform::kErrorInvalidParameter);
  // Past the end is allowed; writing there extends the file.
  EXPECT_EQ(FSeek3(h, 12, 0), 12);
  EXPECT_EQ(FWrite(h, "!"), 1u);
  EXPECT_TRUE(FClose(h));
  EXPECT_EQ(Contents("s.bin").size(), 13u);
  EXPECT_EQ(Contents("s.bin").substr(12), "!");
}

TEST_F(FilesTest, SharingModesAreHonoured) {
  Write("shared.dbf", "data");
  int32_t exclusive = FOpen2(PathOf("shared.dbf"), 0x12);
  ASSERT_NE(exclusive, kInvalidHandle);
  EXPECT_EQ(FOpen2(PathOf("shared.dbf"), 0x40), kInvalidHandle);
  EXPECT_EQ(FError(), platform::kErrorSharingViolation);
  EXPECT_TRUE(FClose(exclusive));
  int32_t a = FOpen2(PathOf("shared.dbf"), 0x42);
  int32_t b = FOpen2(PathOf("shared.dbf"), 0x40);
  EXPECT_NE(a, kInvalidHandle);
  EXPECT_NE(b, kInvalidHandle);
  EXPECT_NE(a, b);
  EXPECT_EQ(FOpen2(PathOf("shared.dbf"), 0x10), kInvalidHandle);  // others have it open
  EXPECT_EQ(FError(), platform::kErrorSharingViolation);
  FClose(a);
  FClose(b);
}

TEST_F(FilesTest, ReadOnlyHandleRefusesWrites) {
  Write("ro.txt", "keep");
  int32_t h = FOpen2(PathOf("ro.txt"), 0);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(FPutS(h, "x"), 0u);
  EXPECT_EQ(FError(), platform::kErrorAccessDenied);
  EXPECT_EQ(FRead(h, 10), "keep");
  FClose(h);
  EXPECT_EQ(Contents("ro.txt"), "keep");
}

TEST_F(FilesTest, WriteFailureIsReportedNotCounted) {
  int32_t h = FCreate2(PathOf("full.txt"), 0x20);
  ASSERT_NE(h, kInvalidHandle);
  platform::FaultPlan plan;
  plan.fail_write_at = 1;
  plan.write_code = platform::kErrorDiskFull;
  {
    platform::FaultScope scope(&plan);
    EXPECT_EQ(FPutS(h, "lost"), 0u);
    EXPECT_EQ(FError(), platform::kErrorDiskFull);
    EXPECT_EQ(FPutS(h, "kept"), 6u);
  }
  // The failed line did not move the position: the next one starts at 0.
  FClose(h);
  EXPECT_EQ(Contents("full.txt"), "kept\r\n");
}

TEST_F(FilesTest, InvalidHandles) {
  for (int32_t h : {kInvalidHandle, 0, 999}) {
    SCOPED_TRACE(h);
    EXPECT_FALSE(FClose(h));
    EXPECT_EQ(FError(), platform::kErrorInvalidHandle);
    EXPECT_EQ(FPutS(h, "x"), 0u);
    EXPECT_EQ(FError(), platform::kErrorInvalidHandle);
    EXPECT_EQ(FSeek3(h, 0, 2), -1);
    EXPECT_EQ(FRead(h, 5), "");
  }
  int32_t h = FCreate2(PathOf("twice.txt"), 0x20);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_TRUE(FClose(h));
  EXPECT_FALSE(FClose(h));  // a closed handle is no longer valid
  EXPECT_EQ(FError(), platform::kErrorInvalidHandle);
}

TEST_F(FilesTest, HandlesAreSmallAndReused) {
  int32_t a = FCreate2(PathOf("a"), 0x20);
  int32_t b = FCreate2(PathOf("b"), 0x20);
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  EXPECT_LT(a, 64);
  FClose(a);
  int32_t c = FCreate2(PathOf("c"), 0x20);
  EXPECT_EQ(c, a);
  // The reused handle writes to its own file, with its own position.
  FPutS(c, "c");
  FPutS(b, "b");
  FClose(b);
  FClose(c);
  EXPECT_EQ(Contents("a"), "");
  EXPECT_EQ(Contents("b"), "b\r\n");
  EXPECT_EQ(Contents("c"), "c\r\n");
}

}  // namespace
}  // namespace rt
