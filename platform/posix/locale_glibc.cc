#include "platform/posix/locale_glibc.h"

#include <langinfo.h>
#include <locale.h>

#include <map>
#include <vector>

#include "platform/cp1252.h"
#include "platform/locale.h"
#include "platform/posix/locale_cp1252.h"

namespace platform {
namespace {

// One piece of a strftime picture: a conversion letter, or literal text.
struct Piece {
  char conversion = 0;  // 0 for literal text
  std::string text;
};

// Splits a picture into pieces, expanding the composite conversions and
// dropping the glibc flags ("%-d", "%Ey").
std::vector<Piece> Pieces(std::string_view fmt) {
  std::vector<Piece> out;
  auto literal = [&](std::string_view s) {
    if (out.empty() || out.back().conversion != 0) out.push_back({});
    out.back().text.append(s);
  };
  for (size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] != '%' || i + 1 == fmt.size()) {
      literal(fmt.substr(i, 1));
      continue;
    }
    ++i;
    while (i + 1 < fmt.size() && (fmt[i] == '-' || fmt[i] == '_' || fmt[i] == '0' ||
                                  fmt[i] == 'E' || fmt[i] == 'O' || fmt[i] == '^')) {
      ++i;
    }
    std::string_view expanded;
    switch (fmt[i]) {
      case 'D':
        expanded = "%m/%d/%y";
        break;
      case 'F':
        expanded = "%Y-%m-%d";
        break;
      case 'T':
        expanded = "%H:%M:%S";
        break;
      case 'R':
        expanded = "%H:%M";
        break;
      case 'r':
        expanded = "%I:%M:%S %p";
        break;
      case '%':
        literal("%");
        continue;
      case 'n':
        literal("\n");
        continue;
      case 't':
        literal("\t");
        continue;
      default:
        out.push_back({fmt[i], {}});
        continue;
    }
    for (Piece& p : Pieces(expanded)) {
      if (p.conversion == 0) {
        literal(p.text);
      } else {
        out.push_back(p);
      }
    }
  }
  return out;
}

bool IsDay(char c) { return c == 'd' || c == 'e'; }
bool IsMonth(char c) { return c == 'm'; }
bool IsYear(char c) { return c == 'y' || c == 'Y' || c == 'C'; }
bool IsHour(char c) { return c == 'H' || c == 'k' || c == 'I' || c == 'l'; }

// LOCALE_IDATE: 0 month-day-year, 1 day-month-year, 2 year-month-day.
std::string DateOrder(const std::vector<Piece>& pieces) {
  for (const Piece& p : pieces) {
    if (IsDay(p.conversion)) return "1";
    if (IsYear(p.conversion)) return "2";
    if (IsMonth(p.conversion)) return "0";
  }
  return "0";
}

// The literal text right after the first conversion that matches `first`.
template <class Pred>
std::string SeparatorAfter(const std::vector<Piece>& pieces, Pred first, std::string fallback) {
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (!first(pieces[i].conversion)) continue;
    if (i + 1 < pieces.size() && pieces[i + 1].conversion == 0) return pieces[i + 1].text;
    return fallback;
  }
  return fallback;
}

std::string ShortDatePicture(const std::vector<Piece>& pieces) {
  std::string out;
  for (const Piece& p : pieces) {
    switch (p.conversion) {
      case 0:
        out += p.text;
        break;
      case 'd':
        out += "dd";
        break;
      case 'e':
        out += "d";
        break;
      case 'm':
        out += "MM";
        break;
      case 'y':
        out += "yy";
        break;
      case 'Y':
        out += "yyyy";
        break;
      default:
        break;  // weekday names and the like have no short-date form
    }
  }
  return out;
}

}  // namespace

bool LoadGlibcLocale(std::string_view name, PosixLocaleData* data) {
  // Opened locales are kept: the few names a process asks for never change.
  static auto* cache = new std::map<std::string, locale_t, std::less<>>;
  auto it = cache->find(name);
  locale_t loc = nullptr;
  if (it != cache->end()) {
    loc = it->second;
  } else {
    std::string base(name.substr(0, name.find_first_of(".@")));
    std::string tries[] = {base + ".UTF-8", std::string(name)};
    for (const std::string& n : tries) {
      loc = newlocale(LC_ALL_MASK, n.c_str(), static_cast<locale_t>(0));
      if (loc) break;
    }
    cache->emplace(std::string(name), loc);
  }
  if (!loc) return false;
  auto get = [&](nl_item item) {
    std::string s = nl_langinfo_l(item, loc);
    std::string codeset = nl_langinfo_l(CODESET, loc);
    if (codeset == "UTF-8") return s;
    // A single-byte locale: Latin-1 bytes are the same code points.
    std::string u;
    for (char c : s) AppendUtf8(static_cast<unsigned char>(c), &u);
    return u;
  };
  data->radix = get(RADIXCHAR);
  data->thousands = get(THOUSEP);
  data->d_fmt = get(D_FMT);
  data->t_fmt = get(T_FMT);
  data->am = get(AM_STR);
  data->pm = get(PM_STR);
  return true;
}

bool WindowsLocaleValue(const PosixLocaleData& data, uint32_t lctype, std::string* value) {
  std::string v;
  switch (lctype) {
    case kLocaleSDecimal:
      v = data.radix.empty() ? "." : data.radix;
      break;
    case kLocaleSThousand:
      v = data.thousands;
      break;
    case kLocaleIDigits:
      v = "2";
      break;
    case kLocaleSDate:
      v = SeparatorAfter(
          Pieces(data.d_fmt), [](char c) { return IsDay(c) || IsMonth(c) || IsYear(c); }, "/");
      break;
    case kLocaleSShortDate:
      v = ShortDatePicture(Pieces(data.d_fmt));
      break;
    case kLocaleIDate:
      v = DateOrder(Pieces(data.d_fmt));
      break;
    case kLocaleSTime:
      v = SeparatorAfter(Pieces(data.t_fmt), IsHour, ":");
      break;
    case kLocaleITime: {
      v = "1";
      for (const Piece& p : Pieces(data.t_fmt)) {
        if (p.conversion == 'I' || p.conversion == 'l') v = "0";
      }
      break;
    }
    case kLocaleS1159:
      v = data.am;
      break;
    case kLocaleS2359:
      v = data.pm;
      break;
    default:
      return false;
  }
  *value = LocaleTextToCp1252(v);
  return true;
}

}  // namespace platform
