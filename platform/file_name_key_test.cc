// Two spellings of one file give one key where the file system says they are
// one file: on Windows whatever the case and slashes, elsewhere only as given.
#include "platform/file_name_key.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(FileNameKeyTest, SpellingsOfOneFile) {
  struct Case {
    const char* a;
    const char* b;
    bool same_on_windows;
  };
  constexpr Case kCases[] = {
      {"C:\\Data\\Tarif.dbf", "c:/DATA/tarif.DBF", true},
      {"C:\\Data\\Tarif.dbf", "C:\\Data\\Tarif.dbf", true},
      {"C:\\Data\\Tarif.dbf", "C:\\Data\\Tarif2.dbf", false},
      // Only ASCII letters fold: é and É stay two names, as the key has always kept them.
      {"C:\\Donn\xe9\x65s", "C:\\DONN\xc9\x45S", false},
  };
#ifdef _WIN32
  constexpr bool kWindows = true;
#else
  constexpr bool kWindows = false;
#endif
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.a << " | " << c.b);
    bool identical = std::string(c.a) == c.b;
    EXPECT_EQ(kWindows ? c.same_on_windows : identical, FileNameKey(c.a) == FileNameKey(c.b));
  }
}

}  // namespace
}  // namespace platform
