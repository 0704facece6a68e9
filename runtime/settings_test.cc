#include "runtime/settings.h"

#include <gtest/gtest.h>

namespace rt {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSettings(); }
  void TearDown() override { ResetSettings(); }
};

TEST_F(SettingsTest, Defaults) {
  EXPECT_FALSE(SetDeleted());
  EXPECT_TRUE(SetErrorLog());
  EXPECT_TRUE(SetBeep());
  EXPECT_EQ(GetDefaultDir(), "");
  EXPECT_EQ(GetDefault(), "");
  EXPECT_EQ(SetIntl(), 0u);
  EXPECT_EQ(SetDict(), 0u);
  EXPECT_EQ(GetDecimalSep(), 46u);
  EXPECT_EQ(GetThousandSep(), 44u);
  EXPECT_EQ(GetTimeSep(), 58u);
  EXPECT_FALSE(GetAmPm());
  EXPECT_EQ(GetAMExt(), "");
  EXPECT_EQ(GetPMExt(), "");
  EXPECT_EQ(GetDateFrmt(), "MM/DD/YY");
  EXPECT_EQ(GetDecimal(), 2u);
  EXPECT_FALSE(GetCentury());
  EXPECT_EQ(GetEpoch(), 1900u);
}

TEST_F(SettingsTest, SwitchesReturnTheirPreviousState) {
  EXPECT_FALSE(SetDeleted(true));
  EXPECT_TRUE(SetDeleted(false));
  EXPECT_FALSE(SetDeleted());
  EXPECT_TRUE(SetErrorLog(false));
  EXPECT_FALSE(SetErrorLog());
  EXPECT_FALSE(SetErrorLog(true));
  EXPECT_TRUE(SetBeep(false));
  EXPECT_FALSE(SetBeep());
}

TEST_F(SettingsTest, EverySetterReadsBack) {
  SetDefaultDir("C:\\Velmora\\");
  SetDefault("D:\\data");
  SetIntl(2);
  SetDict(1);
  SetDecimalSep(',');
  SetThousandSep(160);  // a non-breaking space stays one byte
  SetTimeSep('.');
  SetAmPm(true);
  SetAMExt(" AM");
  SetPMExt(" PM");
  SetDateFrmt("DD.MM.YYYY");
  SetDecimal(3);
  SetCentury(true);
  SetEpoch(1910);
  EXPECT_EQ(GetDefaultDir(), "C:\\Velmora\\");
  EXPECT_EQ(GetDefault(), "D:\\data");
  EXPECT_EQ(SetIntl(), 2u);
  EXPECT_EQ(SetDict(), 1u);
  EXPECT_EQ(GetDecimalSep(), 44u);
  EXPECT_EQ(GetThousandSep(), 160u);
  EXPECT_EQ(GetTimeSep(), 46u);
  EXPECT_TRUE(GetAmPm());
  EXPECT_EQ(GetAMExt(), " AM");
  EXPECT_EQ(GetPMExt(), " PM");
  EXPECT_EQ(GetDateFrmt(), "DD.MM.YYYY");
  EXPECT_EQ(GetDecimal(), 3u);
  EXPECT_TRUE(GetCentury());
  EXPECT_EQ(GetEpoch(), 1910u);
  ResetSettings();
  EXPECT_EQ(GetDefaultDir(), "");
  EXPECT_EQ(GetDateFrmt(), "MM/DD/YY");
  EXPECT_EQ(GetEpoch(), 1900u);
  EXPECT_TRUE(SetErrorLog());
}

}  // namespace
}  // namespace rt
