#include "platform/cp1252.h"

namespace platform {
namespace {

// Code points of the bytes 0x80..0x9F; the five unassigned bytes hold the C1
// control of the same number.
constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool Undefined(unsigned char byte) {
  return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
}

}  // namespace

char16_t Cp1252ToUnicode(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
}

char UnicodeToCp1252(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == cp) return static_cast<char>(0x80 + i);
  }
  return '?';
}

uint32_t Cp1252CodePoint(unsigned char byte) { return Undefined(byte) ? 0 : Cp1252ToUnicode(byte); }

int Cp1252Byte(uint32_t cp) {
  char c = UnicodeToCp1252(cp);
  auto byte = static_cast<unsigned char>(c);
  if (Undefined(byte) || (c == '?' && cp != '?')) return -1;
  return byte;
}

void AppendUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool DecodeUtf8(std::string_view s, size_t* i, uint32_t* cp) {
  auto lead = static_cast<unsigned char>(s[*i]);
  int extra = lead < 0x80             ? 0
              : (lead & 0xE0) == 0xC0 ? 1
              : (lead & 0xF0) == 0xE0 ? 2
              : (lead & 0xF8) == 0xF0 ? 3
                                      : -1;
  if (extra < 0 || *i + static_cast<size_t>(extra) >= s.size()) {
    ++*i;
    return false;
  }
  uint32_t v = extra == 0 ? lead : lead & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    auto c = static_cast<unsigned char>(s[*i + static_cast<size_t>(k)]);
    if ((c & 0xC0) != 0x80) {
      ++*i;
      return false;
    }
    v = (v << 6) | (c & 0x3F);
  }
  static constexpr uint32_t kMinOf[4] = {0, 0x80, 0x800, 0x10000};
  if (v < kMinOf[extra] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) {
    ++*i;
    return false;
  }
  *i += static_cast<size_t>(extra) + 1;
  *cp = v;
  return true;
}

std::string Cp1252ToUtf8(std::string_view ansi, UndefinedBytes undefined) {
  std::string out;
  out.reserve(ansi.size());
  for (char ch : ansi) {
    auto byte = static_cast<unsigned char>(ch);
    bool replace = undefined == UndefinedBytes::kAsReplacement && Undefined(byte);
    AppendUtf8(replace ? 0xFFFD : Cp1252ToUnicode(byte), &out);
  }
  return out;
}

std::string Utf8ToCp1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp;
    out.push_back(DecodeUtf8(utf8, &i, &cp) ? UnicodeToCp1252(cp) : '?');
  }
  return out;
}

}  // namespace platform
