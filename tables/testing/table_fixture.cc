#include "tables/testing/table_fixture.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace tables::dbftest {
namespace {

constexpr uint32_t kK[64] = {
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

uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

}  // namespace

std::string Sha256Hex(std::string_view data) {
  uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::vector<uint8_t> msg(data.begin(), data.end());
  uint64_t bits = static_cast<uint64_t>(msg.size()) * 8;
  msg.push_back(0x80);
  while (msg.size() % 64 != 56) msg.push_back(0);
  for (int i = 7; i >= 0; --i) msg.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  for (size_t off = 0; off < msg.size(); off += 64) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      w[i] = (uint32_t(msg[off + 4 * i]) << 24) | (uint32_t(msg[off + 4 * i + 1]) << 16) |
             (uint32_t(msg[off + 4 * i + 2]) << 8) | uint32_t(msg[off + 4 * i + 3]);
    }
    for (int i = 16; i < 64; ++i) {
      uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; ++i) {
      uint32_t t1 = hh + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kK[i] +
                    w[i];
      uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      hh = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    h[0] += a; h[1] += b; h[2] += c; h[3] += d; h[4] += e; h[5] += f; h[6] += g; h[7] += hh;
  }
  std::string out;
  char buf[9];
  for (uint32_t v : h) {
    std::snprintf(buf, sizeof buf, "%08x", v);
    out += buf;
  }
  return out;
}

}  // namespace tables::dbftest

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/path.h"
#include "runtime/error.h"
#include "runtime/object.h"

namespace tables::dbftest {

std::string FixtureRoot() { return std::string(PROJECT_TESTDATA_DIR) + "/tables/fixtures"; }

std::string DemoTree() {
#ifdef _WIN32
  return FixtureRoot() + "/demo-tree-trim";
#else
  return FixtureRoot() + "/demo-tree";
#endif
}

std::string Hex(std::string_view bytes) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

std::string FromHex(std::string_view hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

// The paths given here are the system's own (the tests build ".../doc01 /..."
// as the product does), so they reach the C++ library only through MapPath:
// Windows does not strip the blank from a directory name in the middle of a
// path, and the copy of the demo tree there has "doc01", not "doc01 ".
std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(platform::MapPath(path), std::ios::binary);
  if (!in) {
    // An empty result would compare equal to another failed read.
    ADD_FAILURE() << "cannot read " << path;
    return {};
  }
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(platform::MapPath(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

ScratchDir::ScratchDir() {
  static std::atomic<int> counter{0};
  path_ = (std::filesystem::temp_directory_path() /
           ("tables_test_" + std::to_string(getpid()) + "_" + std::to_string(++counter)))
              .string();
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ScratchDir::Copy(const std::string& src, const std::string& name) {
  namespace fs = std::filesystem;
  std::string dst = path_ + "/" + name;
  // The source's own name is mapped too: a directory is listed as "name\\*",
  // where Windows no longer strips a trailing blank.
  std::string from = platform::MapPath(src + "/");
  from.pop_back();
  fs::copy(from, dst,
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  if (fs::is_directory(dst)) {
    for (auto& e : fs::recursive_directory_iterator(dst)) {
      fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
    }
  }
  fs::permissions(dst, fs::perms::owner_write, fs::perm_options::add);
  return dst;
}

}  // namespace tables::dbftest

namespace tables::dbftest {

ErrorCatcher::ErrorCatcher()
    : errors_(std::make_shared<std::vector<Seen>>()), retries_(std::make_shared<int>(0)) {
  if (!rt::IsClass(rt::String2Symbol("ERROR"))) {
    rt::ClassBuilder b("Error");
    for (const char* f :
         {"SubSystem", "SubCode", "GenCode", "OsCode", "Severity", "CanDefault", "CanRetry",
          "CanSubstitute", "Operation", "Description", "FileName", "Args", "Tries", "FuncSym",
          "FileHandle", "ArgNum", "FuncPtr", "SubCodeText", "Arg", "ArgType", "ArgTypeReq",
          "MaxSize", "SubstituteType", "Choice", "CallFuncSym", "Cargo", "MethodSelf", "Stack"}) {
      b.IVar(f);
    }
    b.Register();
  }
  auto errors = errors_;
  auto retries = retries_;
  rt::ErrorBlock(rt::Value::FromBlock(rt::MakeBlock(
      [errors, retries](rt::Args args) {
        const rt::Value& e = args[0];
        auto get = [&](const char* name) { return rt::IVarGet(e, rt::String2Symbol(name)); };
        Seen s;
        s.subsystem = get("SubSystem").GetString();
        s.operation = get("Operation").GetString();
        s.description = get("Description").GetString();
        s.file_name = get("FileName").GetString();
        s.gen_code = get("GenCode").GetDword();
        s.os_code = get("OsCode").GetDword();
        s.can_retry = get("CanRetry").GetLogic();
        s.can_default = get("CanDefault").GetLogic();
        errors->push_back(s);
        if (*retries > 0 && s.can_retry) {
          --*retries;
          return rt::Value::Logic(true);
        }
        return rt::Value::Logic(false);
      },
      1)));
}

ErrorCatcher::~ErrorCatcher() { rt::ErrorBlock(rt::Value()); }

}  // namespace tables::dbftest
