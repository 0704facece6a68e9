// The two Windows locale calls the international settings read at start-up:
// GetUserDefaultLCID and GetLocaleInfoA, with Windows' contract on both builds.
// On Windows they pass through to KERNEL32. On Linux the user's locale is the
// POSIX one (LC_ALL, else LC_NUMERIC or LC_TIME by the value's category, else
// LANG; C, POSIX and unset behave as en-US) and every value is the one Windows
// gives for that language, in Windows-1252. One thread only.
#pragma once

#include <cstdint>

namespace platform {

// Pseudo locale identifiers that stand for the user's own locale.
constexpr uint32_t kLocaleUserDefault = 0x0400;
constexpr uint32_t kLocaleSystemDefault = 0x0800;
constexpr uint32_t kLocaleCustomDefault = 0x0C00;  // a user locale without a number of its own

constexpr uint32_t kLcidEnUs = 0x0409;
constexpr uint32_t kLcidFrFr = 0x040C;
constexpr uint32_t kLcidDeDe = 0x0407;

// The values the international settings ask for (LCTYPE).
constexpr uint32_t kLocaleSDecimal = 14;
constexpr uint32_t kLocaleSThousand = 15;
constexpr uint32_t kLocaleIDigits = 17;
constexpr uint32_t kLocaleSDate = 29;
constexpr uint32_t kLocaleSTime = 30;
constexpr uint32_t kLocaleSShortDate = 31;
constexpr uint32_t kLocaleIDate = 33;
constexpr uint32_t kLocaleITime = 35;
constexpr uint32_t kLocaleS1159 = 40;
constexpr uint32_t kLocaleS2359 = 41;
// Flag bit that may be or-ed into an LCTYPE; it changes nothing on Linux.
constexpr uint32_t kLocaleNoUserOverride = 0x80000000;

uint32_t GetUserDefaultLCID();

// Copies the value with its terminating zero into buffer and returns the count
// of characters written including the zero. With size 0 nothing is written and
// the count needed is returned. 0 on failure: an unknown locale or value, or a
// buffer too small (Windows sets last error 87, 1004 or 122 for these).
int GetLocaleInfoA(uint32_t lcid, uint32_t lctype, char* buffer, int size);

}  // namespace platform
