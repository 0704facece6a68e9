// Text conversions and the runtime's string functions, as the system uses them.
// Texts are Windows-1252 bytes. Dates follow the international settings
// (SetDateFrmt, SetCentury, SetEpoch); numbers the decimal settings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/value.h"

namespace rt {

// AsString: the value as text: strings as they are, numbers as Str() without
// leading blanks, dates as DToC, logicals ".T."/".F.", symbols by name, NIL
// "NIL", arrays "{[n]}", objects "{<ClassName>}"-style, pointers as hex.
std::string AsString(const Value& v);
// AsPsz: as AsString, for the places that want a zero-terminated text.
std::string AsPsz(const Value& v);
// Str(n[, len[, dec]]): right-aligned in len (default 10; floats with
// decimals), "*" * len on overflow.
std::string Str(const Value& n, int len = -1, int dec = -1);
// NTrim: Str without surrounding blanks.
std::string NTrim(const Value& n);
// StrZero: Str padded on the left with zeros (after the sign).
std::string StrZero(const Value& n, int len, int dec = 0);
// Val: the number at the start of a text (leading blanks skipped); a float
// when the text has a decimal point, else a long.
Value Val(std::string_view s);
// DToS: "YYYYMMDD", or eight blanks for the empty date.
std::string DToS(Date d);
Date SToD(std::string_view s);
// DToC: the date in the current date format; the year in four digits when the
// century is on, in two otherwise; blanks in place of digits for the empty date.
std::string DToC(Date d);
// CToD: text in the current date format; two-digit years placed by the epoch.
Date CToD(std::string_view s);
Date Today();
// Time: "HH:MM:SS" with the time separator; a 12-hour clock adds the AM/PM text.
std::string Time();
// Time's text for a given time of day (0-23 hours), in the current settings.
std::string TimeOf(int hour, int minute, int second);

std::string Upper(std::string_view s);  // ASCII letters only
std::string Lower(std::string_view s);
std::string RTrim(std::string_view s);  // removes trailing blanks
std::string LTrim(std::string_view s);
std::string AllTrim(std::string_view s);

// Windows-1252 to UTF-8, for console output on Linux.
std::string Ansi2Utf8(std::string_view s);
std::string Utf82Ansi(std::string_view s);

}  // namespace rt
