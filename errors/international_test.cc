#include "errors/international.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>

#include "errors/def_error.h"
#include "errors/testing/error_env.h"
#include "platform/locale.h"
#include "runtime/error.h"
#include "runtime/settings.h"

namespace errors {
namespace {

using testing::ErrorEnvTest;

rt::Symbol Sym(const char* s) { return rt::String2Symbol(s); }

// The real locale calls, for a chosen locale number instead of the user's.
class FixedLcid : public LocaleSource {
 public:
  explicit FixedLcid(uint32_t lcid) : lcid_(lcid) {}
  uint32_t UserDefaultLcid() override { return lcid_; }
  int LocaleInfo(uint32_t lcid, uint32_t lctype, char* buffer, int size) override {
    return platform::GetLocaleInfoA(lcid, lctype, buffer, size);
  }

 private:
  uint32_t lcid_;
};

// A locale made up value by value; a missing value fails like the real call.
class FakeLocale : public LocaleSource {
 public:
  std::map<uint32_t, std::string> values;
  std::optional<uint32_t> raise_at;  // raises a runtime error when asked for this value
  std::vector<uint32_t> asked;
  uint32_t lcid_seen = 0;

  uint32_t UserDefaultLcid() override { return 0x1234; }
  int LocaleInfo(uint32_t lcid, uint32_t lctype, char* buffer, int size) override {
    lcid_seen = lcid;
    asked.push_back(lctype);
    if (raise_at && *raise_at == lctype) {
      rt::ErrorInfo e;
      e.gen_code = rt::kGenArg;
      e.description = "locale trouble";
      e.can_default = true;
      rt::RaiseError(e);
    }
    auto it = values.find(lctype);
    if (it == values.end() || static_cast<int>(it->second.size()) + 1 > size) return 0;
    std::memcpy(buffer, it->second.c_str(), it->second.size() + 1);
    return static_cast<int>(it->second.size()) + 1;
  }
};

std::shared_ptr<FakeLocale> MakeFake(std::string idate, std::string sdate, std::string picture) {
  auto fake = std::make_shared<FakeLocale>();
  fake->values = {{platform::kLocaleSDecimal, ","},       {platform::kLocaleSThousand, "\xA0"},
                  {platform::kLocaleSTime, "."},          {platform::kLocaleITime, "1"},
                  {platform::kLocaleS1159, "vorm."},      {platform::kLocaleS2359, "nachm."},
                  {platform::kLocaleIDate, idate},        {platform::kLocaleSDate, sdate},
                  {platform::kLocaleSShortDate, picture}, {platform::kLocaleIDigits, "3"}};
  return fake;
}

class InternationalTest : public ErrorEnvTest {};

TEST_F(InternationalTest, WithoutArgumentReturnsTheModeAndChangesNothing) {
  EXPECT_EQ(SetInternational(rt::Args()), rt::Value::Sym(Sym("LEGACY")));
  rt::SetIntl(1);
  rt::SetDateFrmt("DD.MM.YYYY");
  rt::Value nil[] = {rt::Value()};
  EXPECT_EQ(SetInternational(rt::Args(nil)), rt::Value::Sym(Sym("WINDOWS")));
  EXPECT_EQ(rt::GetDateFrmt(), "DD.MM.YYYY");
  rt::SetIntl(2);
  EXPECT_EQ(SetInternational(rt::Args()), rt::Value::Sym(Sym("BINARY")));
}

struct LocaleCase {
  uint32_t lcid;
  uint32_t decimal, thousand;
  bool am_pm;
  const char* date_format;
};

TEST_F(InternationalTest, WindowsModeFromFrenchEnglishAndGermanLocales) {
  const LocaleCase cases[] = {
      {platform::kLcidFrFr, ',', 160, false, "DD/MM/YYYY"},
      {platform::kLcidEnUs, '.', ',', true, "MM/DD/YYYY"},
      {platform::kLcidDeDe, ',', '.', false, "DD.MM.YYYY"},
  };
  for (const LocaleCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "lcid " << std::hex << c.lcid);
    rt::ResetSettings();
    SetLocaleSource(std::make_shared<FixedLcid>(c.lcid));
    EXPECT_EQ(SetInternational(Sym("WINDOWS")), rt::Value::Sym(Sym("LEGACY")));
    EXPECT_EQ(rt::SetIntl(), 1u);
    EXPECT_EQ(rt::SetDict(), 1u);
    EXPECT_EQ(rt::GetDecimalSep(), c.decimal);
    EXPECT_EQ(rt::GetThousandSep(), c.thousand);
    EXPECT_EQ(rt::GetTimeSep(), static_cast<uint32_t>(':'));
    EXPECT_EQ(rt::GetAmPm(), c.am_pm);
    EXPECT_EQ(rt::GetAMExt(), " AM");
    EXPECT_EQ(rt::GetPMExt(), " PM");
    EXPECT_EQ(rt::GetDateFrmt(), c.date_format);
    EXPECT_EQ(rt::GetDecimal(), 2u);
    EXPECT_TRUE(rt::GetCentury());
    EXPECT_EQ(rt::GetEpoch(), 1910u);
  }
}

TEST_F(InternationalTest, DateFormatFollowsOrderSeparatorAndYearDigits) {
  struct Case {
    const char *idate, *sdate, *picture, *want;
  } cases[] = {
      {"1", ".", "dd.MM.yyyy", "DD.MM.YYYY"},
      {"1", ".", "dd.MM.yy", "DD.MM.YY"},
      {"2", "-", "yyyy-MM-dd", "YYYY-MM-DD"},
      {"0", "/", "M/d/yy", "MM/DD/YY"},
      {"7", "/", "M/d/yyyy", "MM/DD/YYYY"},
      {"65537", "/", "d/M/yyyy", "DD/MM/YYYY"},  // taken as a 16-bit number: 1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.picture);
    auto fake = MakeFake(c.idate, c.sdate, c.picture);
    SetLocaleSource(fake);
    SetInternational(Sym("WINDOWS"));
    EXPECT_EQ(rt::GetDateFrmt(), c.want);
    EXPECT_EQ(fake->lcid_seen, 0x1234u);
  }
}

TEST_F(InternationalTest, LocaleValuesReachTheSettingsAsTheyAre) {
  auto fake = MakeFake("1", ".", "dd.MM.yyyy");
  fake->values[platform::kLocaleS1159] = "";  // an empty designator: the call returns 1
  SetLocaleSource(fake);
  SetInternational(Sym("WINDOWS"));
  EXPECT_EQ(rt::GetDecimalSep(), static_cast<uint32_t>(','));
  EXPECT_EQ(rt::GetThousandSep(), 160u);
  EXPECT_EQ(rt::GetTimeSep(), static_cast<uint32_t>('.'));
  EXPECT_FALSE(rt::GetAmPm());  // 24-hour clock, yet the suffixes come from the locale
  EXPECT_EQ(rt::GetAMExt(), " ");
  EXPECT_EQ(rt::GetPMExt(), " nachm.");
  EXPECT_EQ(rt::GetDecimal(), 3u);
}

TEST_F(InternationalTest, EveryUnreadableValueFallsBack) {
  SetLocaleSource(std::make_shared<FakeLocale>());
  rt::SetDateFrmt("YYYY.MM.DD");
  SetInternational(Sym("WINDOWS"));
  EXPECT_EQ(rt::GetDecimalSep(), 46u);
  EXPECT_EQ(rt::GetThousandSep(), 44u);
  EXPECT_EQ(rt::GetTimeSep(), 58u);
  EXPECT_TRUE(rt::GetAmPm());  // ITIME unreadable counts as 0: 12-hour clock
  EXPECT_EQ(rt::GetAMExt(), " am");
  EXPECT_EQ(rt::GetPMExt(), " pm");
  EXPECT_EQ(rt::GetDateFrmt(), "MM/DD/YY");
  EXPECT_EQ(rt::GetDecimal(), 2u);
  EXPECT_TRUE(rt::GetCentury());
}

TEST_F(InternationalTest, LegacyAfterWindowsKeepsTheEpoch) {
  SetLocaleSource(std::make_shared<FixedLcid>(platform::kLcidFrFr));
  SetInternational(Sym("WINDOWS"));
  EXPECT_EQ(SetInternational(Sym("LEGACY")), rt::Value::Sym(Sym("WINDOWS")));
  EXPECT_EQ(rt::SetIntl(), 0u);
  EXPECT_EQ(rt::SetDict(), 0u);
  EXPECT_EQ(rt::GetDecimalSep(), 46u);
  EXPECT_EQ(rt::GetThousandSep(), 44u);
  EXPECT_EQ(rt::GetTimeSep(), 58u);
  EXPECT_FALSE(rt::GetAmPm());
  EXPECT_EQ(rt::GetAMExt(), "");
  EXPECT_EQ(rt::GetPMExt(), "");
  EXPECT_EQ(rt::GetDateFrmt(), "MM/DD/YY");
  EXPECT_EQ(rt::GetDecimal(), 2u);
  EXPECT_FALSE(rt::GetCentury());
  EXPECT_EQ(rt::GetEpoch(), 1910u);
}

TEST_F(InternationalTest, BinaryReadsBackAsBinaryWithLegacySettings) {
  rt::SetDecimalSep(',');
  rt::Value text_arg[] = {rt::Value::String("binary")};  // a text names the mode too
  EXPECT_EQ(SetInternational(rt::Args(text_arg)), rt::Value::Sym(Sym("LEGACY")));
  EXPECT_EQ(SetInternational(rt::Args()), rt::Value::Sym(Sym("BINARY")));
  EXPECT_EQ(rt::SetIntl(), 2u);
  EXPECT_EQ(rt::SetDict(), 2u);
  EXPECT_EQ(rt::GetDecimalSep(), 46u);
  EXPECT_EQ(rt::GetDateFrmt(), "MM/DD/YY");
}

TEST_F(InternationalTest, UnknownModeShowsOneBoxAndChangesNothing) {
  rt::ErrorBlock(DefaultErrorBlock());
  rt::SetIntl(1);
  rt::SetDateFrmt("DD.MM.YYYY");
  EXPECT_EQ(SetInternational(Sym("KLINGON")), rt::Value::Sym(Sym("WINDOWS")));
  ASSERT_EQ(box_->shown().size(), 1u);
  const std::string& text = box_->shown()[0].text;
  EXPECT_EQ(text.rfind("Error Code:  30 [ OPERATION NOT SUPPORTED ]\r\n"
                       "Subsystem: International\r\n"
                       "Argument: KLINGON\r\n",
                       0),
            0u)
      << text;
  EXPECT_EQ(box_->shown()[0].def, 1u);
  EXPECT_EQ(rt::SetIntl(), 1u);
  EXPECT_EQ(rt::GetDateFrmt(), "DD.MM.YYYY");
}

TEST_F(InternationalTest, ErrorInsideTheWorkStopsSilentlyAndRestoresTheBlock) {
  rt::Value block = DefaultErrorBlock();
  rt::ErrorBlock(block);
  auto fake = MakeFake("1", ".", "dd.MM.yyyy");
  fake->raise_at = platform::kLocaleIDate;
  SetLocaleSource(fake);
  EXPECT_EQ(SetInternational(Sym("WINDOWS")), rt::Value::Sym(Sym("LEGACY")));
  EXPECT_TRUE(box_->shown().empty());
  EXPECT_EQ(rt::ErrorBlock(), block);
  EXPECT_EQ(rt::SetIntl(), 1u);                                // set before the error
  EXPECT_EQ(rt::GetDecimalSep(), static_cast<uint32_t>(','));  // likewise
  EXPECT_EQ(rt::GetPMExt(), " nachm.");
  EXPECT_EQ(rt::GetDateFrmt(), "MM/DD/YY");  // never reached
  EXPECT_FALSE(rt::GetCentury());
  EXPECT_EQ(fake->asked.back(), platform::kLocaleIDate);
}

}  // namespace
}  // namespace errors
