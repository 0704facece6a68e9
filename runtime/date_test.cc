#include <gtest/gtest.h>

#include <regex>

#include "runtime/convert.h"
#include "runtime/settings.h"
#include "runtime/value.h"

namespace rt {
namespace {

class DateTextTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSettings(); }
  void TearDown() override { ResetSettings(); }
};

Date Ymd(int y, int m, int d) { return Date::FromYmd(y, m, d); }

TEST(Date, JulianDayNumbersOfKnownDates) {
  EXPECT_EQ(Ymd(2000, 1, 1).julian, 2451545);
  EXPECT_EQ(Ymd(1970, 1, 1).julian, 2440588);
  EXPECT_EQ(Ymd(1582, 10, 15).julian, 2299161);  // first day of the Gregorian calendar
  EXPECT_EQ(Ymd(1582, 10, 4).julian, 2299150);   // proleptic: no ten-day gap
  EXPECT_EQ(Ymd(1, 1, 1).julian, 1721426);
  EXPECT_EQ(Ymd(9999, 12, 31).julian, 5373484);
}

TEST(Date, InvalidDatesAreEmpty) {
  EXPECT_TRUE(Ymd(1900, 2, 29).empty());   // century years are not leap years...
  EXPECT_FALSE(Ymd(2000, 2, 29).empty());  // ...unless divisible by 400
  EXPECT_FALSE(Ymd(2024, 2, 29).empty());
  EXPECT_TRUE(Ymd(2023, 2, 29).empty());
  EXPECT_TRUE(Ymd(2023, 4, 31).empty());
  EXPECT_TRUE(Ymd(2023, 13, 1).empty());
  EXPECT_TRUE(Ymd(2023, 0, 1).empty());
  EXPECT_TRUE(Ymd(2023, 1, 0).empty());
  EXPECT_TRUE(Ymd(0, 1, 1).empty());
  EXPECT_TRUE(Ymd(10000, 1, 1).empty());
}

// Every day of three centuries around today, and a stride over all years.
TEST(Date, DaysRoundTripAndFollowEachOther) {
  auto check_step = [](Date previous, Date d) {
    int y, m, day, py, pm, pd;
    d.ToYmd(&y, &m, &day);
    previous.ToYmd(&py, &pm, &pd);
    EXPECT_EQ(Date::FromYmd(y, m, day).julian, d.julian) << y << "-" << m << "-" << day;
    return (y == py && m == pm && day == pd + 1) || (y == py && m == pm + 1 && day == 1) ||
           (y == py + 1 && m == 1 && day == 1);
  };
  for (int32_t j = Ymd(1850, 1, 1).julian; j <= Ymd(2150, 12, 31).julian; ++j) {
    ASSERT_TRUE(check_step(Date{j - 1}, Date{j})) << j;
  }
  for (int32_t j = Ymd(1, 1, 2).julian; j <= Ymd(9999, 12, 31).julian; j += 997) {
    ASSERT_TRUE(check_step(Date{j - 1}, Date{j})) << j;
  }
}

TEST(Date, EmptyDateHasNoParts) {
  int y = 1, m = 1, d = 1;
  Date{}.ToYmd(&y, &m, &d);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(m, 0);
  EXPECT_EQ(d, 0);
}

TEST_F(DateTextTest, DToSAndSToD) {
  EXPECT_EQ(DToS(Ymd(2017, 1, 9)), "20170109");
  EXPECT_EQ(DToS(Ymd(987, 12, 31)), "09871231");
  EXPECT_EQ(DToS(Date{}), "        ");
  EXPECT_EQ(SToD("20170109"), Ymd(2017, 1, 9));
  EXPECT_TRUE(SToD("        ").empty());
  EXPECT_TRUE(SToD("").empty());
  EXPECT_TRUE(SToD("20170230").empty());
  EXPECT_TRUE(SToD("2017010").empty());
  EXPECT_TRUE(SToD("201701091").empty());
  EXPECT_TRUE(SToD("2017-1-9").empty());
}

// The century flag alone decides the year digits: "YY" shows four with the
// century on and "YYYY" two with it off.
TEST_F(DateTextTest, DToCFollowsFormatAndCentury) {
  struct Case {
    const char* format;
    bool century;
    const char* want;
  } cases[] = {
      {"MM/DD/YY", false, "03/07/05"},    {"MM/DD/YY", true, "03/07/2005"},
      {"DD/MM/YYYY", true, "07/03/2005"}, {"DD/MM/YYYY", false, "07/03/05"},
      {"YYYY-MM-DD", true, "2005-03-07"}, {"YY-MM-DD", false, "05-03-07"},
      {"dd.mm.yyyy", true, "07.03.2005"}, {"DD MM YY", true, "07 03 2005"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(testing::Message() << "case " << i);
    SetDateFrmt(cases[i].format);
    SetCentury(cases[i].century);
    EXPECT_EQ(DToC(Ymd(2005, 3, 7)), cases[i].want);
    // The empty date keeps the separators and blanks every digit.
    std::string want_empty = cases[i].want;
    for (char& c : want_empty) {
      if (c >= '0' && c <= '9') c = ' ';
    }
    EXPECT_EQ(DToC(Date{}), want_empty);
  }
}

TEST_F(DateTextTest, DToCOfEarlyYearsKeepsLeadingZeros) {
  SetDateFrmt("DD/MM/YYYY");
  SetCentury(true);
  EXPECT_EQ(DToC(Ymd(987, 1, 2)), "02/01/0987");
  SetCentury(false);
  EXPECT_EQ(DToC(Ymd(1900, 1, 2)), "02/01/00");
}

TEST_F(DateTextTest, CToDPlacesTwoDigitYearsByTheEpoch) {
  SetDateFrmt("MM/DD/YY");
  SetEpoch(1910);
  EXPECT_EQ(CToD("01/02/05"), Ymd(2005, 1, 2));
  EXPECT_EQ(CToD("01/02/15"), Ymd(1915, 1, 2));
  EXPECT_EQ(CToD("01/02/10"), Ymd(1910, 1, 2));
  EXPECT_EQ(CToD("01/02/09"), Ymd(2009, 1, 2));
  SetEpoch(1900);
  EXPECT_EQ(CToD("01/02/05"), Ymd(1905, 1, 2));
  EXPECT_EQ(CToD("01/02/99"), Ymd(1999, 1, 2));
  SetEpoch(1950);
  EXPECT_EQ(CToD("12/31/49"), Ymd(2049, 12, 31));
  EXPECT_EQ(CToD("12/31/50"), Ymd(1950, 12, 31));
  // A year written with more digits is taken as it stands.
  EXPECT_EQ(CToD("01/02/1805"), Ymd(1805, 1, 2));
}

TEST_F(DateTextTest, CToDReadsFieldsInTheOrderOfTheFormat) {
  SetDateFrmt("DD/MM/YYYY");
  EXPECT_EQ(CToD("31/12/1999"), Ymd(1999, 12, 31));
  EXPECT_TRUE(CToD("12/31/1999").empty());
  SetDateFrmt("YYYY-MM-DD");
  EXPECT_EQ(CToD("2017-01-09"), Ymd(2017, 1, 9));
  SetDateFrmt("DD.MM.YY");
  SetEpoch(1910);
  EXPECT_EQ(CToD("1.2.05"), Ymd(2005, 2, 1));
  EXPECT_EQ(CToD(" 9.10.2017"), Ymd(2017, 10, 9));
}

TEST_F(DateTextTest, CToDOfBlankOrInvalidTextIsEmpty) {
  SetDateFrmt("DD/MM/YYYY");
  EXPECT_TRUE(CToD("").empty());
  EXPECT_TRUE(CToD("  /  /    ").empty());
  EXPECT_TRUE(CToD("30/02/2017").empty());
  EXPECT_TRUE(CToD("01/13/2017").empty());
  EXPECT_TRUE(CToD("01/02").empty());
  EXPECT_TRUE(CToD("99999999999/1/2017").empty());
  SetDateFrmt("DD/MM");  // a format without a year cannot be read
  EXPECT_TRUE(CToD("01/02/2017").empty());
}

TEST_F(DateTextTest, DToCAndCToDRoundTrip) {
  SetEpoch(1910);
  for (const char* format : {"MM/DD/YY", "DD/MM/YYYY", "YYYY.MM.DD"}) {
    SetDateFrmt(format);
    for (int32_t j = Ymd(1910, 1, 1).julian; j < Ymd(2010, 1, 1).julian; j += 37) {
      SetCentury(false);
      ASSERT_EQ(CToD(DToC(Date{j})).julian, j) << format << " " << DToC(Date{j});
      SetCentury(true);
      ASSERT_EQ(CToD(DToC(Date{j})).julian, j) << format << " " << DToC(Date{j});
    }
    EXPECT_TRUE(CToD(DToC(Date{})).empty());
  }
}

TEST_F(DateTextTest, TimeOfUsesSeparatorAndClock) {
  EXPECT_EQ(TimeOf(0, 5, 9), "00:05:09");
  EXPECT_EQ(TimeOf(23, 59, 59), "23:59:59");
  SetTimeSep('.');
  EXPECT_EQ(TimeOf(14, 30, 0), "14.30.00");
  SetTimeSep(':');
  SetAMExt(" am");
  SetPMExt(" pm");
  EXPECT_EQ(TimeOf(13, 0, 0), "13:00:00");  // suffixes alone do not make a 12-hour clock
  SetAmPm(true);
  EXPECT_EQ(TimeOf(0, 5, 9), "12:05:09 am");
  EXPECT_EQ(TimeOf(11, 59, 59), "11:59:59 am");
  EXPECT_EQ(TimeOf(12, 0, 0), "12:00:00 pm");
  EXPECT_EQ(TimeOf(13, 1, 2), "01:01:02 pm");
  EXPECT_EQ(TimeOf(23, 59, 59), "11:59:59 pm");
  SetAMExt(" ");
  EXPECT_EQ(TimeOf(9, 0, 0), "09:00:00 ");
}

TEST_F(DateTextTest, TodayAndTimeReadTheClock) {
  int y, m, d;
  Today().ToYmd(&y, &m, &d);
  EXPECT_GE(y, 2024);
  EXPECT_TRUE(std::regex_match(Time(), std::regex(R"(\d\d:\d\d:\d\d)"))) << Time();
  SetAmPm(true);
  SetPMExt(" PM");
  SetAMExt(" AM");
  EXPECT_TRUE(std::regex_match(Time(), std::regex(R"((0[1-9]|1[0-2]):\d\d:\d\d [AP]M)"))) << Time();
}

}  // namespace
}  // namespace rt
