// SetInternational(WINDOWS) on Linux, where the user's locale is the POSIX one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "errors/international.h"
#include "errors/testing/error_env.h"
#include "runtime/settings.h"

namespace errors {
namespace {

class InternationalEnvTest : public testing::ErrorEnvTest {
 protected:
  void SetUp() override {
    ErrorEnvTest::SetUp();
    const char* v = std::getenv("LC_ALL");
    saved_ = v ? std::optional<std::string>(v) : std::nullopt;
  }
  void TearDown() override {
    if (saved_) {
      setenv("LC_ALL", saved_->c_str(), 1);
    } else {
      unsetenv("LC_ALL");
    }
    ErrorEnvTest::TearDown();
  }
  std::optional<std::string> saved_;
};

TEST_F(InternationalEnvTest, UsersPosixLocaleDecides) {
  struct Case {
    const char* locale;
    uint32_t decimal, thousand;
    bool am_pm;
    const char* date_format;
  } cases[] = {
      {"fr_FR.UTF-8", ',', 160, false, "DD/MM/YYYY"},
      {"de_DE.UTF-8", ',', '.', false, "DD.MM.YYYY"},
      {"en_US.UTF-8", '.', ',', true, "MM/DD/YYYY"},
      {"C", '.', ',', true, "MM/DD/YYYY"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.locale);
    setenv("LC_ALL", c.locale, 1);
    rt::ResetSettings();
    SetInternational(rt::String2Symbol("WINDOWS"));
    EXPECT_EQ(rt::GetDecimalSep(), c.decimal);
    EXPECT_EQ(rt::GetThousandSep(), c.thousand);
    EXPECT_EQ(rt::GetAmPm(), c.am_pm);
    EXPECT_EQ(rt::GetDateFrmt(), c.date_format);
    EXPECT_EQ(rt::GetAMExt(), " AM");
  }
}

}  // namespace
}  // namespace errors
