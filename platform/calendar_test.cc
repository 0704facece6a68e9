// Julian day numbers both ways, at the ends of the range, around leap days,
// and for the largest numbers, whose way back once overflowed 32 bits.
#include "platform/calendar.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace platform {
namespace {

struct Day {
  int year, month, day;
  int32_t julian;  // 0: no such date
};

constexpr Day kDays[] = {
    {1, 1, 1, 1721426},     {9999, 12, 31, 5373484}, {2000, 1, 1, 2451545}, {2000, 2, 29, 2451604},
    {1600, 2, 29, 2305507}, {2017, 3, 1, 2457814},   {1900, 3, 1, 2415080}, {1970, 1, 1, 2440588},
    {1900, 2, 29, 0},       {2017, 2, 29, 0},        {2017, 4, 31, 0},      {0, 12, 31, 0},
    {10000, 1, 1, 0},       {2017, 13, 1, 0},        {2017, 0, 1, 0},       {2017, 1, 0, 0},
};

TEST(CalendarTest, DayNumbersBothWays) {
  for (const Day& d : kDays) {
    SCOPED_TRACE(testing::Message() << d.year << "-" << d.month << "-" << d.day);
    EXPECT_EQ(d.julian, JulianDay(d.year, d.month, d.day));
    if (d.julian == 0) continue;
    int y = -1, m = -1, day = -1;
    CivilDate(d.julian, &y, &m, &day);
    EXPECT_EQ(d.year, y);
    EXPECT_EQ(d.month, m);
    EXPECT_EQ(d.day, day);
    // The day before is the last day of the previous month or year.
    CivilDate(d.julian - 1, &y, &m, &day);
    if (d.day > 1) {
      EXPECT_EQ(d.day - 1, day);
    } else if (d.julian > 1721426) {
      EXPECT_EQ(DaysInMonth(y, m), day);
    }
  }

  struct Back {
    int32_t julian;
    int year, month, day;
  };
  constexpr Back kBack[] = {
      {0, 0, 0, 0},
      {-5, 0, 0, 0},
      {std::numeric_limits<int32_t>::min(), 0, 0, 0},
      // Far beyond the years a date can be entered for: 4 * (n + 32044)
      // does not fit in 32 bits.
      {std::numeric_limits<int32_t>::max() - 1, 5874898, 6, 2},
      {std::numeric_limits<int32_t>::max(), 5874898, 6, 3},
  };
  for (const Back& b : kBack) {
    SCOPED_TRACE(b.julian);
    int y = -1, m = -1, day = -1;
    CivilDate(b.julian, &y, &m, &day);
    EXPECT_EQ(b.year, y);
    EXPECT_EQ(b.month, m);
    EXPECT_EQ(b.day, day);
  }
}

}  // namespace
}  // namespace platform
