#include "tables/testing/cdx_fixture.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace tables::testing {

std::string FixtureDir() { return std::string(PROJECT_TESTDATA_DIR) + "/cdx"; }

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string Hex(std::string_view bytes) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string Sha256Hex(const std::string& text) {
  static const uint32_t k[64] = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
      0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
      0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
      0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
      0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
      0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
      0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
      0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
      0xc67178f2};
  uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::string msg = text;
  uint64_t bit_len = static_cast<uint64_t>(text.size()) * 8;
  msg += static_cast<char>(0x80);
  while (msg.size() % 64 != 56) msg += '\0';
  for (int i = 7; i >= 0; --i) msg += static_cast<char>(bit_len >> (8 * i));
  auto rotr = [](uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  for (size_t chunk = 0; chunk < msg.size(); chunk += 64) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      const auto* p = reinterpret_cast<const unsigned char*>(msg.data() + chunk + 4 * i);
      w[i] = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    }
    for (int i = 16; i < 64; ++i) {
      uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; ++i) {
      uint32_t s1 = rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25);
      uint32_t ch = (e & f) ^ (~e & g);
      uint32_t t1 = hh + s1 + ch + k[i] + w[i];
      uint32_t s0 = rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22);
      uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
      uint32_t t2 = s0 + maj;
      hh = g; g = f; f = e; e = d + t1; d = c; c = b; b = a; a = t1 + t2;
    }
    h[0] += a; h[1] += b; h[2] += c; h[3] += d; h[4] += e; h[5] += f; h[6] += g; h[7] += hh;
  }
  std::string raw;
  for (uint32_t v : h) {
    for (int i = 3; i >= 0; --i) raw += static_cast<char>(v >> (8 * i));
  }
  return Hex(raw);
}

TempDir::TempDir() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto dir = std::filesystem::temp_directory_path() /
               ("cdxtest-" + std::to_string(random()) + std::to_string(random()));
    if (std::filesystem::create_directory(dir)) {
      path_ = dir.string();
      return;
    }
  }
  ADD_FAILURE() << "no temporary directory";
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
    f.name.assign(reinterpret_cast<const char*>(p + d), strnlen(reinterpret_cast<const char*>(p + d), 11));
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

IndexStatus FptMemo::ReadMemo(size_t, std::span<const uint8_t> bytes, std::string* out) {
  out->clear();
  uint32_t block = 0;
  if (bytes.size() == 4) {
    block = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (uint32_t{bytes[3]} << 24);
  } else {
    for (uint8_t c : bytes) {
      if (c >= '0' && c <= '9') block = block * 10 + (c - '0');
    }
  }
  if (block == 0 || bytes_.size() < 8) return IndexStatus::Ok();
  uint32_t block_size = (bytes_[6] << 8) | bytes_[7];
  uint64_t at = static_cast<uint64_t>(block) * block_size;
  if (at + 8 > bytes_.size()) return IndexStatus::Corruption("memo pointer beyond the file");
  const uint8_t* b = bytes_.data() + at;
  uint32_t len = (uint32_t{b[4]} << 24) | (b[5] << 16) | (b[6] << 8) | b[7];
  if (at + 8 + len > bytes_.size()) return IndexStatus::Corruption("memo length beyond the file");
  out->assign(reinterpret_cast<const char*>(b + 8), len);
  return IndexStatus::Ok();
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
