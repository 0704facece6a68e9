// The Linux side of the locale calls: the user's locale from the environment,
// values derived from glibc's data, and the Windows-1252 conversion.
#include "platform/locale.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "platform/posix/locale_cp1252.h"
#include "platform/posix/locale_glibc.h"

namespace platform {
namespace {

class LocaleEnvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : kVars) {
      const char* value = std::getenv(v);
      saved_[v] = value ? std::optional<std::string>(value) : std::nullopt;
      unsetenv(v);
    }
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }
  static std::string Value(uint32_t lctype, uint32_t lcid = kLocaleUserDefault) {
    char buffer[64] = {};
    if (GetLocaleInfoA(lcid, lctype, buffer, sizeof buffer) <= 0) return "<failed>";
    return buffer;
  }

  static constexpr const char* kVars[] = {"LC_ALL", "LC_NUMERIC", "LC_TIME", "LANG"};
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(LocaleEnvTest, LocaleNumberFromTheEnvironment) {
  EXPECT_EQ(GetUserDefaultLCID(), kLcidEnUs);  // nothing set
  setenv("LANG", "C.UTF-8", 1);
  EXPECT_EQ(GetUserDefaultLCID(), kLcidEnUs);
  setenv("LANG", "POSIX", 1);
  EXPECT_EQ(GetUserDefaultLCID(), kLcidEnUs);
  setenv("LANG", "de_DE.UTF-8", 1);
  EXPECT_EQ(GetUserDefaultLCID(), kLcidDeDe);
  setenv("LANG", "fr", 1);
  EXPECT_EQ(GetUserDefaultLCID(), kLcidFrFr);
  setenv("LC_ALL", "fr_FR@euro", 1);
  EXPECT_EQ(GetUserDefaultLCID(), kLcidFrFr);
  setenv("LC_ALL", "it_IT.UTF-8", 1);
  EXPECT_EQ(GetUserDefaultLCID(), 0x0410u);
  setenv("LC_ALL", "xx_YY.UTF-8", 1);
  EXPECT_EQ(GetUserDefaultLCID(), kLocaleCustomDefault);
  EXPECT_EQ(Value(kLocaleSShortDate), "M/d/yyyy");  // unknown to glibc: as en-US
}

TEST_F(LocaleEnvTest, CategoriesChooseTheirOwnLocale) {
  setenv("LANG", "de_DE.UTF-8", 1);
  setenv("LC_NUMERIC", "en_US.UTF-8", 1);
  setenv("LC_TIME", "fr_FR.UTF-8", 1);
  EXPECT_EQ(Value(kLocaleSDecimal), ".");
  EXPECT_EQ(Value(kLocaleSThousand), ",");
  EXPECT_EQ(Value(kLocaleSShortDate), "dd/MM/yyyy");
  EXPECT_EQ(Value(kLocaleSDate), "/");
  // The user's own locale number carries the overrides, unless told not to;
  // another locale number ignores the environment.
  EXPECT_EQ(Value(kLocaleSDecimal, kLcidDeDe), ".");
  EXPECT_EQ(Value(kLocaleSDecimal | kLocaleNoUserOverride, kLcidDeDe), ",");
  EXPECT_EQ(Value(kLocaleSShortDate, kLcidEnUs), "M/d/yyyy");
  setenv("LC_ALL", "en_US.UTF-8", 1);  // overrides every category
  EXPECT_EQ(Value(kLocaleSShortDate), "M/d/yyyy");
}

TEST_F(LocaleEnvTest, OtherLanguagesFromGlibcData) {
  PosixLocaleData probe;
  if (!LoadGlibcLocale("it_IT.UTF-8", &probe) || !LoadGlibcLocale("sv_SE.UTF-8", &probe)) {
    GTEST_SKIP() << "glibc locales it_IT and sv_SE not installed";
  }
  setenv("LANG", "it_IT.UTF-8", 1);
  EXPECT_EQ(Value(kLocaleSDecimal), ",");
  EXPECT_EQ(Value(kLocaleSThousand), ".");
  EXPECT_EQ(Value(kLocaleSShortDate), "dd/MM/yyyy");
  EXPECT_EQ(Value(kLocaleIDate), "1");
  EXPECT_EQ(Value(kLocaleITime), "1");
  EXPECT_EQ(Value(kLocaleIDigits), "2");
  setenv("LANG", "sv_SE.UTF-8", 1);
  EXPECT_EQ(Value(kLocaleSThousand), "\xA0");  // narrow no-break space in glibc
  EXPECT_EQ(Value(kLocaleSShortDate), "yyyy-MM-dd");
  EXPECT_EQ(Value(kLocaleIDate), "2");
  EXPECT_EQ(Value(kLocaleSDate), "-");
  EXPECT_EQ(Value(kLocaleSTime), ":");
}

TEST(WindowsLocaleValueTest, PicturesAndClocks) {
  struct Case {
    const char* d_fmt;
    const char* t_fmt;
    uint32_t lctype;
    const char* want;
  } cases[] = {
      {"%D", "%T", kLocaleSShortDate, "MM/dd/yy"},
      {"%D", "%T", kLocaleIDate, "0"},
      {"%F", "%T", kLocaleSShortDate, "yyyy-MM-dd"},
      {"%F", "%T", kLocaleIDate, "2"},
      {"%e.%-m.%Y", "%T", kLocaleSShortDate, "d.MM.yyyy"},
      {"%d.%m.%Y", "%T", kLocaleSDate, "."},
      {"%Y\xE5\xB9\xB4%m\xE6\x9C\x88%d\xE6\x97\xA5", "%T", kLocaleSShortDate, "yyyy?MM?dd?"},
      {"%d/%m/%y", "%r", kLocaleITime, "0"},
      {"%d/%m/%y", "%l:%M:%S %P", kLocaleITime, "0"},
      {"%d/%m/%y", "%H.%M.%S", kLocaleITime, "1"},
      {"%d/%m/%y", "%H.%M.%S", kLocaleSTime, "."},
      {"%d/%m/%y", "%R", kLocaleSTime, ":"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.d_fmt) + " " + c.t_fmt);
    PosixLocaleData data{",", ".", c.d_fmt, c.t_fmt, "", ""};
    std::string value;
    ASSERT_TRUE(WindowsLocaleValue(data, c.lctype, &value));
    EXPECT_EQ(value, c.want);
  }
  std::string value;
  EXPECT_FALSE(WindowsLocaleValue(PosixLocaleData{}, 0x1234, &value));
}

TEST(LocaleTextTest, ShowsWhatWindowsShows) {
  struct Case {
    const char* utf8;
    const char* ansi;
  };
  constexpr Case kCases[] = {
      {"d\xC3\xA9j\xC3\xA0", "d\xE9j\xE0"},
      {"\xE2\x82\xAC", "\x80"},
      {"\xE2\x80\xAF", "\xA0"},  // narrow no-break space (French thousands)
      {"\xE2\x80\x89", "\xA0"},  // thin space
      {"\xE6\x97\xA5", "?"},
      {"a\xC3", "a?"},
      {"\x80z", "?z"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(c.ansi, LocaleTextToCp1252(c.utf8));
  }
}

}  // namespace
}  // namespace platform
