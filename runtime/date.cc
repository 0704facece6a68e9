// Dates and times: Julian day numbers of the proleptic Gregorian calendar (the
// calendar itself is platform/calendar's), and their texts in the format,
// century and epoch of the international settings.
//
// A date format picture is read as runs of the letters D, M and Y (either
// case) with anything else copied as is. The century flag alone decides how
// many year digits are shown: "YY" prints four digits with the century on and
// "YYYY" prints two with it off, so one picture serves both settings.
#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/calendar.h"
#include "platform/local_time.h"
#include "runtime/convert.h"
#include "runtime/settings.h"
#include "runtime/value.h"

namespace rt {
namespace {

void AppendDigits(std::string* out, int value, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, value);
  std::string_view digits(buf);
  // A year is cut to its last `width` digits (two-digit display).
  out->append(digits.substr(digits.size() - static_cast<size_t>(width)));
}

char Field(char c) {
  char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u == 'D' || u == 'M' || u == 'Y' ? u : 0;
}

}  // namespace

Date Date::FromYmd(int year, int month, int day) {
  return Date{platform::JulianDay(year, month, day)};
}

void Date::ToYmd(int* year, int* month, int* day) const {
  platform::CivilDate(julian, year, month, day);
}

std::string DToS(Date d) {
  if (d.empty()) return std::string(8, ' ');
  int y, m, day;
  d.ToYmd(&y, &m, &day);
  std::string out;
  AppendDigits(&out, y, 4);
  AppendDigits(&out, m, 2);
  AppendDigits(&out, day, 2);
  return out;
}

Date SToD(std::string_view s) {
  if (s.size() != 8) return Date{};
  int parts[3] = {0, 0, 0};
  const size_t kWidths[3] = {4, 2, 2};
  size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    for (size_t k = 0; k < kWidths[i]; ++k, ++pos) {
      if (!std::isdigit(static_cast<unsigned char>(s[pos]))) return Date{};
      parts[i] = parts[i] * 10 + (s[pos] - '0');
    }
  }
  return Date::FromYmd(parts[0], parts[1], parts[2]);
}

std::string DToC(Date d) {
  const std::string picture = GetDateFrmt();
  const int year_digits = GetCentury() ? 4 : 2;
  int y = 0, m = 0, day = 0;
  d.ToYmd(&y, &m, &day);
  std::string out;
  for (size_t i = 0; i < picture.size();) {
    char field = Field(picture[i]);
    if (!field) {
      out.push_back(picture[i++]);
      continue;
    }
    while (i < picture.size() && Field(picture[i]) == field) ++i;
    int width = field == 'Y' ? year_digits : 2;
    if (d.empty()) {
      out.append(static_cast<size_t>(width), ' ');
    } else {
      AppendDigits(&out, field == 'Y' ? y : field == 'M' ? m : day, width);
    }
  }
  return out;
}

Date CToD(std::string_view s) {
  // The text's digit groups are taken in the order the picture names its
  // fields; any non-digit separates them, so "1.2.05" reads as well as "01/02/2005".
  const std::string picture = GetDateFrmt();
  char order[3];
  int fields = 0;
  for (char c : picture) {
    char f = Field(c);
    if (f && fields < 3 && (fields == 0 || order[fields - 1] != f)) order[fields++] = f;
  }
  if (fields != 3 || order[0] == order[1] || order[1] == order[2] || order[0] == order[2]) {
    return Date{};
  }
  long values[3] = {0, 0, 0};
  int groups = 0;
  for (size_t i = 0; i < s.size() && groups < 3;) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) {
      ++i;
      continue;
    }
    long v = 0;
    for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) {
      if (v < 100000) v = v * 10 + (s[i] - '0');
    }
    values[groups++] = v;
  }
  if (groups < 3) return Date{};
  long y = 0, m = 0, d = 0;
  for (int i = 0; i < 3; ++i) {
    (order[i] == 'Y' ? y : order[i] == 'M' ? m : d) = values[i];
  }
  if (y < 100) {
    // Two-digit years fall in the hundred years that start with the epoch.
    long epoch = GetEpoch();
    y += epoch / 100 * 100;
    if (y < epoch) y += 100;
  }
  if (y > platform::kLastYear || m > 12 || d > 31) return Date{};
  return Date::FromYmd(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d));
}

Date Today() {
  platform::LocalTime now = platform::LocalNow();
  return Date::FromYmd(now.year, now.month, now.day);
}

std::string TimeOf(int hour, int minute, int second) {
  const char sep = static_cast<char>(GetTimeSep());
  std::string suffix;
  if (GetAmPm()) {
    suffix = hour < 12 ? GetAMExt() : GetPMExt();
    hour %= 12;
    if (hour == 0) hour = 12;
  }
  std::string out;
  AppendDigits(&out, hour, 2);
  out.push_back(sep);
  AppendDigits(&out, minute, 2);
  out.push_back(sep);
  AppendDigits(&out, second, 2);
  return out + suffix;
}

std::string Time() {
  platform::LocalTime now = platform::LocalNow();
  return TimeOf(now.hour, now.minute, now.second);
}

}  // namespace rt
