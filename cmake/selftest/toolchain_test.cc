// Checks that each of the four builds produces programs that behave alike where the system
// depends on it: threads, exceptions unwinding through frames, number formatting, byte-exact
// file access to the test data, and temporary files. Runs under Wine for the Windows builds.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// The -win32 variant of mingw GCC has no std::mutex; the -posix one must be in use.
TEST(ToolchainTest, ThreadsAndMutexesWork) {
  std::mutex mutex;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        std::lock_guard<std::mutex> lock(mutex);
        ++counter;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, 40000);
}

struct Unwound {
  explicit Unwound(int* count) : count_(count) {}
  ~Unwound() { ++*count_; }
  int* count_;
};

[[noreturn]] void ThrowFromDepth(int depth, int* destroyed) {
  Unwound guard(destroyed);
  if (depth == 0) throw std::runtime_error("bottom");
  ThrowFromDepth(depth - 1, destroyed);
}

// Recovery points unwind by exception through many frames; with a static libgcc on i686 the
// unwinder must still run every destructor on the way.
TEST(ToolchainTest, ExceptionsUnwindNestedFramesAndCrossThreads) {
  int destroyed = 0;
  try {
    ThrowFromDepth(20, &destroyed);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "bottom");
  }
  EXPECT_EQ(destroyed, 21);

  std::exception_ptr caught;
  std::thread worker([&] {
    try {
      throw std::logic_error("worker");
    } catch (...) {
      caught = std::current_exception();
    }
  });
  worker.join();
  ASSERT_TRUE(caught);
  EXPECT_THROW(std::rethrow_exception(caught), std::logic_error);
}

// The conversions build their texts with snprintf; the C runtime of every target must give the
// same bytes (msvcrt's own printf writes three exponent digits and ignores %lld and %zu).
TEST(ToolchainTest, PrintfFormatsAlikeOnEveryTarget) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "%lld|%zu|%.2f|%e|%05d|%-4s|", -1234567890123LL,
                static_cast<std::size_t>(42), 1.005, 12345.678, -42, "ab");
  EXPECT_STREQ(buffer, "-1234567890123|42|1.00|1.234568e+04|-0042|ab  |");
}

// Test data is found through PROJECT_TESTDATA_DIR and read byte for byte: Windows-1252 bytes
// and CR LF line ends reach the program unchanged on every target.
TEST(ToolchainTest, TestDataIsReadableByteForByte) {
  const std::string path = std::string(PROJECT_TESTDATA_DIR) + "/toolchain/probe.txt";
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << "cannot open " << path;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, "d\xe9j\xe0 vu\r\nligne 2\n");
  EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xE9u);
}

TEST(ToolchainTest, TemporaryDirectoryIsWritable) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / "toolchain_test_tmp";
  fs::remove_all(dir);
  ASSERT_TRUE(fs::create_directories(dir));
  const fs::path file = dir / "x.bin";
  {
    std::ofstream out(file, std::ios::binary);
    out << std::string("a\r\nb\x1a", 5);
  }
  EXPECT_EQ(fs::file_size(file), 5u);
  fs::remove_all(dir);
  EXPECT_FALSE(fs::exists(dir));
}

TEST(ToolchainTest, GmockIsAvailable) {
  using ::testing::ElementsAre;
  using ::testing::HasSubstr;
  EXPECT_THAT(std::vector<int>({1, 2, 3}), ElementsAre(1, 2, 3));
  EXPECT_THAT(std::string("Fermer"), HasSubstr("erm"));
}

}  // namespace
