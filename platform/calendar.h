// The proleptic Gregorian calendar as Julian day numbers (1 January 2000 is
// day 2451545), for the dates of values, DBF fields and index keys. Pure
// functions, the same on every build; every int32_t day number converts
// without overflow.
#pragma once

#include <cstdint>

namespace platform {

constexpr int kFirstYear = 1;
constexpr int kLastYear = 9999;

bool IsLeapYear(int year);
// Days of a month (1-12) of a year.
int DaysInMonth(int year, int month);

// The day number of a date of the years 1 to 9999; 0 when there is no such
// date.
int32_t JulianDay(int year, int month, int day);
// The date of a day number; all three 0 for a number below 1. Numbers beyond
// 31 December 9999 give the years after it.
void CivilDate(int32_t julian, int* year, int* month, int* day);

}  // namespace platform
