// The values of index-key and FOR expressions: character text (Windows-1252
// bytes), numbers (with the display width and decimals STR() uses), dates as
// Julian days, timestamps as Julian days with a day fraction, and logicals.
// Plain data, independent of the runtime's Value so that index code does not
// depend on the runtime being linked.
#pragma once

#include <cstdint>
#include <string>

namespace tables {

struct ExprValue {
  enum class Kind : uint8_t { kNil, kChar, kNumber, kDate, kLogic, kTime };
  Kind kind = Kind::kNil;
  std::string str;     // kChar
  double num = 0;      // kNumber; kTime: Julian day plus fraction of the day
  int32_t date = 0;    // kDate: Julian day, 0 = empty
  bool logic = false;  // kLogic
  int width = -1;      // kNumber: display width when known (a field's length)
  int decimals = -1;   // kNumber: decimals when known

  static ExprValue Char(std::string s) {
    ExprValue v;
    v.kind = Kind::kChar;
    v.str = std::move(s);
    return v;
  }
  static ExprValue Number(double n, int width = -1, int decimals = -1) {
    ExprValue v;
    v.kind = Kind::kNumber;
    v.num = n;
    v.width = width;
    v.decimals = decimals;
    return v;
  }
  static ExprValue Date(int32_t julian) {
    ExprValue v;
    v.kind = Kind::kDate;
    v.date = julian;
    return v;
  }
  static ExprValue Logic(bool b) {
    ExprValue v;
    v.kind = Kind::kLogic;
    v.logic = b;
    return v;
  }
  static ExprValue Time(double julian_with_fraction) {
    ExprValue v;
    v.kind = Kind::kTime;
    v.num = julian_with_fraction;
    return v;
  }
};

// "C", "N", "D", "L", "T" or "U" for a value's kind.
const char* KindName(ExprValue::Kind kind);

}  // namespace tables
