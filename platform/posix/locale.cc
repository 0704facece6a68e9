#include "platform/locale.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/posix/locale_glibc.h"

namespace platform {
namespace {

struct KnownLocale {
  uint32_t lcid;
  const char* name;  // language_COUNTRY as glibc names it
};

// Windows locale numbers of the languages a practice is likely to run in; the
// first entry of a language is its default country.
constexpr KnownLocale kKnown[] = {
    {0x0409, "en_US"}, {0x0809, "en_GB"}, {0x0C09, "en_AU"}, {0x1009, "en_CA"}, {0x1809, "en_IE"},
    {0x1409, "en_NZ"}, {0x040C, "fr_FR"}, {0x080C, "fr_BE"}, {0x0C0C, "fr_CA"}, {0x100C, "fr_CH"},
    {0x140C, "fr_LU"}, {0x180C, "fr_MC"}, {0x0407, "de_DE"}, {0x0807, "de_CH"}, {0x0C07, "de_AT"},
    {0x1007, "de_LU"}, {0x0410, "it_IT"}, {0x0810, "it_CH"}, {0x0C0A, "es_ES"}, {0x080A, "es_MX"},
    {0x0816, "pt_PT"}, {0x0416, "pt_BR"}, {0x0413, "nl_NL"}, {0x0813, "nl_BE"}, {0x041D, "sv_SE"},
    {0x0406, "da_DK"}, {0x0414, "nb_NO"}, {0x040B, "fi_FI"}, {0x0415, "pl_PL"}, {0x0405, "cs_CZ"},
    {0x040E, "hu_HU"}, {0x0408, "el_GR"}, {0x041F, "tr_TR"}, {0x0419, "ru_RU"}, {0x0411, "ja_JP"},
    {0x0412, "ko_KR"}, {0x0804, "zh_CN"}, {0x0404, "zh_TW"}, {0x0C04, "zh_HK"}, {0x0403, "ca_ES"},
};

// The values Windows gives for the three languages the product ships in,
// as measured, in the order of the LCTYPEs below.
constexpr uint32_t kTypes[] = {kLocaleSDecimal,   kLocaleSThousand, kLocaleSTime, kLocaleITime,
                               kLocaleS1159,      kLocaleS2359,     kLocaleIDate, kLocaleSDate,
                               kLocaleSShortDate, kLocaleIDigits};
struct FixedLocale {
  const char* name;
  const char* values[10];
};
constexpr FixedLocale kFixed[] = {
    {"en_US", {".", ",", ":", "0", "AM", "PM", "0", "/", "M/d/yyyy", "2"}},
    {"fr_FR", {",", "\xA0", ":", "1", "AM", "PM", "1", "/", "dd/MM/yyyy", "2"}},
    {"de_DE", {",", ".", ":", "1", "AM", "PM", "1", ".", "d.M.yyyy", "2"}},
};

std::string Env(const char* var) {
  const char* v = std::getenv(var);
  return v ? v : "";
}

// language_COUNTRY of a POSIX locale name; "" for C and POSIX; a bare
// language gets its default country when we know one.
std::string BaseName(std::string_view name) {
  std::string base(name.substr(0, name.find_first_of(".@")));
  if (base.empty() || base == "C" || base == "POSIX") return "";
  if (base.find('_') == std::string::npos) {
    for (const KnownLocale& k : kKnown) {
      if (std::string_view(k.name).substr(0, base.size() + 1) == base + "_") return k.name;
    }
  }
  return base;
}

bool IsTimeValue(uint32_t lctype) {
  return lctype != kLocaleSDecimal && lctype != kLocaleSThousand && lctype != kLocaleIDigits;
}

// The POSIX locale the user chose for a value's category.
std::string UserLocaleFor(uint32_t lctype) {
  std::string name = Env("LC_ALL");
  if (name.empty()) name = Env(IsTimeValue(lctype) ? "LC_TIME" : "LC_NUMERIC");
  if (name.empty()) name = Env("LANG");
  return BaseName(name);
}

// The user's locale as a whole: what decides the locale number.
std::string UserLocale() {
  for (const char* var : {"LC_ALL", "LANG", "LC_TIME", "LC_NUMERIC"}) {
    std::string name = Env(var);
    if (!name.empty()) return BaseName(name);
  }
  return "";
}

uint32_t LcidOf(const std::string& base) {
  if (base.empty()) return kLcidEnUs;
  for (const KnownLocale& k : kKnown) {
    if (base == k.name) return k.lcid;
  }
  return kLocaleCustomDefault;
}

// The value for a locale given by its base name ("" = C, which is en-US).
bool ValueFor(const std::string& base, uint32_t lctype, std::string* value) {
  std::string name = base.empty() ? "en_US" : base;
  for (const FixedLocale& f : kFixed) {
    if (name != f.name) continue;
    for (size_t i = 0; i < std::size(kTypes); ++i) {
      if (kTypes[i] == lctype) {
        *value = f.values[i];
        return true;
      }
    }
    return false;
  }
  PosixLocaleData data;
  if (!LoadGlibcLocale(name, &data)) return ValueFor("", lctype, value);
  return WindowsLocaleValue(data, lctype, value);
}

}  // namespace

uint32_t GetUserDefaultLCID() { return LcidOf(UserLocale()); }

int GetLocaleInfoA(uint32_t lcid, uint32_t lctype, char* buffer, int size) {
  const bool no_override = (lctype & kLocaleNoUserOverride) != 0;
  lctype &= ~kLocaleNoUserOverride;
  if (size < 0 || (size > 0 && !buffer)) return 0;
  std::string value;
  bool user = lcid == 0 || lcid == kLocaleUserDefault || lcid == kLocaleSystemDefault ||
              lcid == kLocaleCustomDefault || lcid == GetUserDefaultLCID();
  if (user) {
    // As on Windows, the user's own choices per category override the values
    // of the user's language unless the caller asks for the language's own.
    std::string name = no_override ? UserLocale() : UserLocaleFor(lctype);
    if (!ValueFor(name, lctype, &value)) return 0;
  } else {
    const char* name = nullptr;
    for (const KnownLocale& k : kKnown) {
      if (k.lcid == lcid) name = k.name;
    }
    if (!name || !ValueFor(name, lctype, &value)) return 0;
  }
  int needed = static_cast<int>(value.size()) + 1;
  if (size == 0) return needed;
  if (size < needed) return 0;
  std::memcpy(buffer, value.c_str(), needed);
  return needed;
}

}  // namespace platform
