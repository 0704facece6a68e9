// Fuzz target for the INI reader and editor of the POSIX profile functions:
// any bytes must parse, answer every query and take every edit without a
// crash or hang, and a value just written must read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/profile_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  // The first bytes choose the names, so that they often hit the file's own.
  static const char* const kNames[] = {"s", "S", "", "a]b", "k", "2017", " x ", "[s]"};
  std::string section = kNames[data[0] % 8];
  std::string key = kNames[data[1] % 8];
  std::string value = std::string(1, static_cast<char>('a' + data[2] % 26)) + "v";
  std::string bytes(reinterpret_cast<const char*>(data) + 3, size - 3);

  platform::ProfileText text(bytes);
  for (auto name : text.SectionNames()) text.Keys(name);
  text.SectionLines(section);
  text.Find(section, key);
  text.DeleteKey(section, key);
  text.DeleteSection(section);

  std::optional<std::string> written = text.Set(section, key, value);
  // Names with blanks or brackets are cleaned up by the callers before they
  // get here; only the plain ones must round-trip.
  bool plain = section.find_first_of(" []") == std::string::npos && !section.empty() &&
               key.find_first_of(" []") == std::string::npos && !key.empty();
  if (plain) {
    platform::ProfileText after(written ? *written : bytes);
    std::optional<std::string_view> got = after.Find(section, key);
    if (!got || *got != value) abort();
  }
  return 0;
}
