#include "tables/testing/cdx_fixture.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "testing/scratch_dir.h"

namespace tables::testing {

std::string FixtureDir() { return std::string(PROJECT_TESTDATA_DIR) + "/cdx"; }

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

TempDir::TempDir() {
  path_ = testsupport::MakeScratchDir("cdxtest");
  if (path_.empty()) ADD_FAILURE() << "no temporary directory";
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Copy(const std::string& fixture_file) {
  std::string to = path_ + "/" + fixture_file;
  std::filesystem::copy_file(FixtureDir() + "/" + fixture_file, to,
                             std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(to, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  return to;
}

DbfImage LoadDbf(const std::string& path) {
  DbfImage img;
  img.bytes = ReadAll(path);
  const uint8_t* p = img.bytes.data();
  img.header_length = p[8] | (p[9] << 8);
  img.record_length = p[10] | (p[11] << 8);
  img.count = static_cast<uint32_t>((img.bytes.size() - img.header_length) / img.record_length);
  uint32_t offset = 1;
  for (size_t d = 32; d + 32 <= img.header_length && p[d] != 0x0D; d += 32) {
    IndexField f;
    f.name.assign(reinterpret_cast<const char*>(p + d),
                  strnlen(reinterpret_cast<const char*>(p + d), 11));
    f.type = static_cast<char>(p[d + 11]);
    f.length = p[d + 16];
    f.decimals = p[d + 17];
    if (f.type == 'C') {
      f.length += 256 * f.decimals;
      f.decimals = 0;
    }
    f.flags = p[d + 18];
    f.offset = offset;
    offset += f.length;
    img.fields.push_back(f);
  }
  return img;
}

Status FptMemo::ReadMemo(size_t, std::span<const uint8_t> bytes, std::string* out) {
  out->clear();
  uint32_t block = 0;
  if (bytes.size() == 4) {
    block = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (uint32_t{bytes[3]} << 24);
  } else {
    for (uint8_t c : bytes) {
      if (c >= '0' && c <= '9') block = block * 10 + (c - '0');
    }
  }
  if (block == 0 || bytes_.size() < 8) return Status::Ok();
  uint32_t block_size = (bytes_[6] << 8) | bytes_[7];
  uint64_t at = static_cast<uint64_t>(block) * block_size;
  if (at + 8 > bytes_.size()) return Status::Corruption("memo pointer beyond the file");
  const uint8_t* b = bytes_.data() + at;
  uint32_t len = (uint32_t{b[4]} << 24) | (b[5] << 16) | (b[6] << 8) | b[7];
  if (at + 8 + len > bytes_.size()) return Status::Corruption("memo length beyond the file");
  out->assign(reinterpret_cast<const char*>(b + 8), len);
  return Status::Ok();
}

std::unique_ptr<platform::File> OpenForTest(const std::string& path, bool write) {
  std::unique_ptr<platform::File> file;
  platform::OsStatus s = platform::OpenFile(
      path, write ? platform::Access::kReadWrite : platform::Access::kRead,
      platform::Share::kDenyNone, platform::Disposition::kOpenAlways, 0x80, &file);
  EXPECT_TRUE(s.ok()) << path << " code " << s.code();
  return file;
}

}  // namespace tables::testing
