// libFuzzer target: DBF header validation, record reading and field decoding.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "tables/tools/dbf_probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = [] {
    std::string d =
        (std::filesystem::temp_directory_path() / ("dbf_fuzz_" + std::to_string(getpid())))
            .string();
    std::filesystem::create_directories(d);
    return d;
  }();
  tables::ProbeDbfBytes(data, size, dir);
  return 0;
}
