// International settings: SetInternational applies one of three modes to the
// runtime's date, time and number settings — WINDOWS (the user's Windows
// locale, with fixed fallbacks), LEGACY and BINARY (fixed US-style settings) —
// and returns the mode that was in force. An unknown mode is reported through
// the current error block (RaiseInternationalError) and changes nothing.
// The locale is read through a LocaleSource, the platform's by default; tests
// install their own. One thread only; called at start-up.
#pragma once

#include <cstdint>
#include <memory>

#include "runtime/value.h"

namespace errors {

class LocaleSource {
 public:
  virtual ~LocaleSource() = default;
  virtual uint32_t UserDefaultLcid() = 0;
  // GetLocaleInfoA's contract: characters written including the zero, 0 on failure.
  virtual int LocaleInfo(uint32_t lcid, uint32_t lctype, char* buffer, int size) = 0;
};

// Installs a source (nullptr: the platform's); returns the previous one.
std::shared_ptr<LocaleSource> SetLocaleSource(std::shared_ptr<LocaleSource> source);

// SetInternational([mode]): mode a symbol (a text is taken as a symbol name);
// no argument or NIL only reads. Returns the previous mode as a symbol.
rt::Value SetInternational(rt::Args args);
rt::Value SetInternational(rt::Symbol mode);
// The mode in force: WINDOWS, BINARY or LEGACY.
rt::Symbol CurrentInternationalMode();

void RaiseInternationalError(const rt::Value& mode);

}  // namespace errors
