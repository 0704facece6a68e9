// The wall-clock time of the machine's time zone, for header dates and the
// date and time functions of the runtime. Thread-safe.
#pragma once

namespace platform {

struct LocalTime {
  int year = 0;    // e.g. 2017
  int month = 0;   // 1-12
  int day = 0;     // 1-31
  int hour = 0;    // 0-23
  int minute = 0;  // 0-59
  int second = 0;  // 0-60 (a leap second)
};

LocalTime LocalNow();

}  // namespace platform
