// The locale calls as Windows answers them: the same cases run against the
// Linux implementation and, in the Windows builds, against KERNEL32.
#include "platform/locale.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace platform {
namespace {

struct Case {
  uint32_t lcid;
  uint32_t lctype;
  const char* want;
  const char* windows_alternative;  // also accepted on Windows itself (not Wine's value)
};

constexpr Case kCases[] = {
    {kLcidFrFr, kLocaleSDecimal, ",", nullptr},
    {kLcidFrFr, kLocaleSThousand, "\xA0", nullptr},
    {kLcidFrFr, kLocaleSTime, ":", nullptr},
    {kLcidFrFr, kLocaleITime, "1", nullptr},
    {kLcidFrFr, kLocaleS1159, "AM", ""},
    {kLcidFrFr, kLocaleS2359, "PM", ""},
    {kLcidFrFr, kLocaleIDate, "1", nullptr},
    {kLcidFrFr, kLocaleSDate, "/", nullptr},
    {kLcidFrFr, kLocaleSShortDate, "dd/MM/yyyy", nullptr},
    {kLcidFrFr, kLocaleIDigits, "2", nullptr},
    {kLcidEnUs, kLocaleSDecimal, ".", nullptr},
    {kLcidEnUs, kLocaleSThousand, ",", nullptr},
    {kLcidEnUs, kLocaleSTime, ":", nullptr},
    {kLcidEnUs, kLocaleITime, "0", nullptr},
    {kLcidEnUs, kLocaleS1159, "AM", nullptr},
    {kLcidEnUs, kLocaleS2359, "PM", nullptr},
    {kLcidEnUs, kLocaleIDate, "0", nullptr},
    {kLcidEnUs, kLocaleSDate, "/", nullptr},
    {kLcidEnUs, kLocaleSShortDate, "M/d/yyyy", nullptr},
    {kLcidEnUs, kLocaleIDigits, "2", nullptr},
    {kLcidDeDe, kLocaleSDecimal, ",", nullptr},
    {kLcidDeDe, kLocaleSThousand, ".", nullptr},
    {kLcidDeDe, kLocaleSTime, ":", nullptr},
    {kLcidDeDe, kLocaleITime, "1", nullptr},
    {kLcidDeDe, kLocaleS1159, "AM", ""},
    {kLcidDeDe, kLocaleS2359, "PM", ""},
    {kLcidDeDe, kLocaleIDate, "1", nullptr},
    {kLcidDeDe, kLocaleSDate, ".", nullptr},
    {kLcidDeDe, kLocaleSShortDate, "d.M.yyyy", "dd.MM.yyyy"},
    {kLcidDeDe, kLocaleIDigits, "2", nullptr},
};

TEST(LocaleInfoTest, ValuesOfTheThreeShippedLanguages) {
  for (size_t i = 0; i < std::size(kCases); ++i) {
    const Case& c = kCases[i];
    SCOPED_TRACE(::testing::Message() << "case " << i << " lcid " << std::hex << c.lcid << " type "
                                      << std::dec << c.lctype);
    char buffer[64];
    std::memset(buffer, 0x0c, sizeof buffer);
    int n = GetLocaleInfoA(c.lcid, c.lctype, buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    EXPECT_EQ(n, static_cast<int>(std::strlen(buffer)) + 1);
    std::string got(buffer);
#ifdef _WIN32
    if (c.windows_alternative && got == c.windows_alternative) continue;
#endif
    EXPECT_EQ(got, c.want);
  }
}

TEST(LocaleInfoTest, BufferSizesAroundTheNeededOne) {
  // "dd/MM/yyyy" needs 11 characters with its zero.
  EXPECT_EQ(GetLocaleInfoA(kLcidFrFr, kLocaleSShortDate, nullptr, 0), 11);
  char buffer[16];
  std::memset(buffer, 'k', sizeof buffer);
  EXPECT_EQ(GetLocaleInfoA(kLcidFrFr, kLocaleSShortDate, buffer, 12), 11);
  EXPECT_STREQ(buffer, "dd/MM/yyyy");
  EXPECT_EQ(buffer[12], 'k');
  EXPECT_EQ(GetLocaleInfoA(kLcidFrFr, kLocaleSShortDate, buffer, 11), 11);
  EXPECT_EQ(GetLocaleInfoA(kLcidFrFr, kLocaleSShortDate, buffer, 10), 0);
  EXPECT_EQ(GetLocaleInfoA(kLcidFrFr, kLocaleSDecimal | kLocaleNoUserOverride, buffer, 16), 2);
  EXPECT_STREQ(buffer, ",");
}

TEST(LocaleInfoTest, UserDefaultPseudoLocaleIsTheUsersLocale) {
  uint32_t user = GetUserDefaultLCID();
  EXPECT_NE(user, 0u);
  for (uint32_t type : {kLocaleSDecimal, kLocaleSShortDate, kLocaleS1159}) {
    char a[64] = {}, b[64] = {};
    EXPECT_EQ(GetLocaleInfoA(user, type, a, sizeof a),
              GetLocaleInfoA(kLocaleUserDefault, type, b, sizeof b));
    EXPECT_STREQ(a, b);
  }
}

}  // namespace
}  // namespace platform
