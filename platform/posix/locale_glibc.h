// Windows locale values derived from glibc's locale data, for the languages
// whose values the platform does not carry itself. The derivation is pure
// (WindowsLocaleValue) so that it can be tested without installed locales.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// What glibc says of a locale, in UTF-8, as nl_langinfo gives it.
struct PosixLocaleData {
  std::string radix;      // RADIXCHAR
  std::string thousands;  // THOUSEP
  std::string d_fmt;      // D_FMT, e.g. "%d/%m/%Y"
  std::string t_fmt;      // T_FMT, e.g. "%T" or "%r"
  std::string am, pm;     // AM_STR, PM_STR
};

// Loads the data of a POSIX locale name ("it_IT.UTF-8", "sv_SE"); the UTF-8
// variant of the name is preferred. False when glibc has no such locale.
bool LoadGlibcLocale(std::string_view name, PosixLocaleData* data);

// The Windows-1252 value Windows would give for an LCTYPE of the locale, by
// Windows' rules: the date order, separators and short-date picture from
// D_FMT, the clock and time separator from T_FMT, two decimals. False for an
// LCTYPE that is not derived.
bool WindowsLocaleValue(const PosixLocaleData& data, uint32_t lctype, std::string* value);

}  // namespace platform
