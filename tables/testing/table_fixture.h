// Test helpers of the table-layer tests: the fixture tree, hex and SHA-256 for
// the dumps, temporary directories holding copies of fixtures.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tables::dbftest {

// PROJECT_TESTDATA_DIR "/tables/fixtures".
std::string FixtureRoot();
std::string Sha256Hex(std::string_view data);
std::string Hex(std::string_view bytes);
std::string FromHex(std::string_view hex);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// A fresh directory under the system temp dir, removed with the object.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  // Copies src (a file, or a directory tree) into the directory under name;
  // returns the copy's path. Copies are writable.
  std::string Copy(const std::string& src, const std::string& name);

 private:
  std::string path_;
};

}  // namespace tables::dbftest
