// Test helpers of the index tests: fixture files, a minimal DBF layout and
// record reader (independent of the table layer, so the index tests check the
// index alone), an FPT memo reader, SHA-256 for the dumps' checksums, and
// temporary copies for tests that write.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"
#include "tables/cdx/index.h"
#include "tables/expr/expr.h"
#include "tables/tools/digest.h"

namespace tables::testing {

std::string FixtureDir();  // PROJECT_TESTDATA_DIR "/cdx"
std::vector<uint8_t> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes);

// A directory under the system temp dir, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string Copy(const std::string& fixture_file);  // returns the copy's path
 private:
  std::string path_;
};

struct DbfImage {
  std::vector<uint8_t> bytes;
  std::vector<IndexField> fields;
  uint32_t header_length = 0, record_length = 0, count = 0;
  std::span<const uint8_t> Record(uint32_t recno) const {
    return {bytes.data() + header_length + static_cast<size_t>(recno - 1) * record_length,
            record_length};
  }
};
DbfImage LoadDbf(const std::string& path);

// Memo reader over an FPT file image (10-byte ASCII or 4-byte binary pointers).
class FptMemo : public MemoReader {
 public:
  explicit FptMemo(const std::string& path) : bytes_(ReadAll(path)) {}
  Status ReadMemo(size_t field, std::span<const uint8_t> bytes, std::string* out) override;

 private:
  std::vector<uint8_t> bytes_;
};

// Opens a file read-write (or read-only) through the platform layer.
std::unique_ptr<platform::File> OpenForTest(const std::string& path, bool write);

}  // namespace tables::testing
