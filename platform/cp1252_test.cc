// The code-page home: every byte survives both conversions, the five bytes
// without a character take the form each caller asked for, and the UTF-8
// codec keeps to the standard at every length boundary and on bad input.
#include "platform/cp1252.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

bool IsUndefined(int b) { return b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D; }

TEST(Cp1252Test, EveryByteRoundTripsAndTheUndefinedOnesFollowTheirMode) {
  std::string all;
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(testing::Message() << "byte 0x" << std::hex << b);
    auto byte = static_cast<unsigned char>(b);
    all.push_back(static_cast<char>(b));
    char16_t unit = Cp1252ToUnicode(byte);
    EXPECT_EQ(static_cast<char>(b), UnicodeToCp1252(unit));
    EXPECT_EQ(static_cast<char>(b), Utf8ToCp1252(Cp1252ToUtf8(std::string(1, byte))).at(0));
    // Outside 0x80-0x9F the byte is its own code point.
    if (b < 0x80 || b >= 0xA0) {
      EXPECT_EQ(b, unit);
    }
    if (IsUndefined(b)) {
      EXPECT_EQ(b, unit);  // the C1 control of the same number
      EXPECT_EQ(0u, Cp1252CodePoint(byte));
      EXPECT_EQ(-1, Cp1252Byte(unit));
      EXPECT_EQ("\xEF\xBF\xBD", Cp1252ToUtf8(std::string(1, byte), UndefinedBytes::kAsReplacement));
    } else {
      EXPECT_EQ(unit, Cp1252CodePoint(byte));
      EXPECT_EQ(b, Cp1252Byte(unit));
      EXPECT_EQ(Cp1252ToUtf8(std::string(1, byte)),
                Cp1252ToUtf8(std::string(1, byte), UndefinedBytes::kAsReplacement));
    }
  }
  EXPECT_EQ(all, Utf8ToCp1252(Cp1252ToUtf8(all)));
  // A few well-known places of the high half.
  EXPECT_EQ(0x20AC, Cp1252ToUnicode(0x80));  // euro sign
  EXPECT_EQ(0x0152, Cp1252ToUnicode(0x8C));  // OE ligature
  EXPECT_EQ(0x2019, Cp1252ToUnicode(0x92));  // right single quotation mark
  EXPECT_EQ(0x0178, Cp1252ToUnicode(0x9F));  // Y with diaeresis
  EXPECT_EQ('?', UnicodeToCp1252(0x65E5));   // no such character
  EXPECT_EQ(-1, Cp1252Byte(0x65E5));
  EXPECT_EQ('?', Cp1252Byte('?'));
}

TEST(Cp1252Test, Utf8CodecAtEveryLengthAndOnMalformedInput) {
  struct Encoded {
    uint32_t cp;
    const char* utf8;
  };
  constexpr Encoded kEncoded[] = {
      {0x00, ""},
      {0x7F, "\x7F"},
      {0x80, "\xC2\x80"},
      {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"},
      {0xFFFF, "\xEF\xBF\xBF"},
      {0x10000, "\xF0\x90\x80\x80"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"},
  };
  for (const Encoded& e : kEncoded) {
    SCOPED_TRACE(testing::Message() << "U+" << std::hex << e.cp);
    std::string want = e.cp == 0 ? std::string(1, '\0') : std::string(e.utf8);
    std::string got;
    AppendUtf8(e.cp, &got);
    EXPECT_EQ(want, got);
    size_t i = 0;
    uint32_t cp = 0xDEADBEEF;
    EXPECT_TRUE(DecodeUtf8(want, &i, &cp));
    EXPECT_EQ(e.cp, cp);
    EXPECT_EQ(want.size(), i);
  }

  struct Bad {
    const char* utf8;
    const char* ansi;
  };
  constexpr Bad kBad[] = {
      {"\xFF", "?"},                 // not a lead byte
      {"\x80z", "?z"},               // stray continuation byte
      {"a\xC3", "a?"},               // cut short at the end
      {"\xC3(x", "?(x"},             // bad continuation keeps the next byte
      {"\xC0\xAF", "??"},            // overlong form of '/'
      {"\xED\xA0\x80", "???"},       // surrogate
      {"\xF4\x90\x80\x80", "????"},  // beyond U+10FFFF
      {"\xF0\x9F\x98\x80!", "?!"},   // well formed, but not in the code page
      {"d\xC3\xA9j\xC3\xA0", "d\xE9j\xE0"},
  };
  for (const Bad& b : kBad) {
    SCOPED_TRACE(b.utf8);
    EXPECT_EQ(b.ansi, Utf8ToCp1252(b.utf8));
  }
}

}  // namespace
}  // namespace platform
