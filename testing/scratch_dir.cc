#include "testing/scratch_dir.h"

#include <cstdint>
#include <filesystem>
#include <random>
#include <system_error>

namespace testsupport {

namespace fs = std::filesystem;

std::string MakeScratchDir(std::string_view prefix) {
  std::error_code ec;
  fs::path temp = fs::temp_directory_path(ec);
  if (ec) return "";
  std::random_device random;
  std::mt19937_64 bits((uint64_t{random()} << 32) ^ random());
  for (int attempt = 0; attempt < 100; ++attempt) {
    static const char kHex[] = "0123456789abcdef";
    std::string name(prefix);
    name.push_back('-');
    uint64_t n = bits();
    for (int i = 0; i < 16; ++i, n >>= 4) name.push_back(kHex[n & 15]);
    fs::path dir = temp / name;
    // create_directory is one mkdir: false when the name exists, so the directory is ours.
    if (fs::create_directory(dir, ec) && !ec) return dir.string();
  }
  return "";
}

ScratchDir::~ScratchDir() {
  if (path_.empty()) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
}

}  // namespace testsupport
