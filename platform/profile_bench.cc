// Cost of the profile functions, which read the whole file on every call and
// replace it on every write: one value read and one marker write on a
// practice-sized file, and a read at the end of a large file.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/path.h"
#include "platform/profile.h"

namespace {

std::string MakeDir(const std::string& content) {
  char tmpl[] = "/tmp/profile_bench_XXXXXX";
  std::string dir = mkdtemp(tmpl);
  platform::AddPathMapping("B:", dir);
  std::ofstream(dir + "/bench.ini", std::ios::binary) << content;
  return dir;
}

std::string PracticeFile() {
  return "; practice\r\n[Cabinet]\r\nCode=01\r\nNom=Cabinet\r\n\r\n[Path]\r\nCommun=C:\\DATA\\\r\n"
         "\r\n[2017]\r\ntarif=0\r\nindex=0\r\n\r\n[options]\r\nlaptop=0\r\n";
}

std::string LargeFile(int sections) {
  std::string s;
  for (int i = 0; i < sections; ++i) {
    s += "[section" + std::to_string(i) + "]\r\n";
    for (int k = 0; k < 10; ++k)
      s += "key" + std::to_string(k) + "=value " + std::to_string(k) + "\r\n";
  }
  return s;
}

void BM_ReadValue(benchmark::State& state) {
  std::string dir = MakeDir(state.range(0) == 0 ? PracticeFile() : LargeFile(state.range(0)));
  std::string section =
      state.range(0) == 0 ? "2017" : "section" + std::to_string(state.range(0) - 1);
  std::string key = state.range(0) == 0 ? "tarif" : "key9";
  char buffer[1024];
  for (auto _ : state) {
    benchmark::DoNotOptimize(platform::GetPrivateProfileStringA(
        section.c_str(), key.c_str(), " ", buffer, sizeof buffer, "B:\\bench.ini"));
  }
  platform::ClearPathMappings();
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ReadValue)->Arg(0)->Arg(1000);

void BM_WriteMarker(benchmark::State& state) {
  std::string dir = MakeDir(PracticeFile());
  int i = 0;
  for (auto _ : state) {
    // Alternate values so that every call really replaces the file.
    platform::WritePrivateProfileStringA("2017", "tarif", (i++ & 1) ? "1" : "0", "B:\\bench.ini");
  }
  platform::ClearPathMappings();
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_WriteMarker);

}  // namespace

BENCHMARK_MAIN();
