#include "runtime/convert.h"

#include <gtest/gtest.h>

#include <vector>

#include "runtime/error.h"
#include "runtime/object.h"
#include "runtime/settings.h"
#include "runtime/testing/error_class.h"
#include "runtime/value.h"

namespace rt {
namespace {

class ConvertTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSettings(); }
  void TearDown() override { ResetSettings(); }
};

// Answers every runtime error with `answer` and keeps the Error objects.
class ErrorCatcher {
 public:
  explicit ErrorCatcher(Value answer) : answer_(std::move(answer)) {
    testing::DeclarePlainErrorClass();
    old_ = ErrorBlock(Value::FromBlock(MakeBlock(
        [this](Args a) {
          errors_.push_back(a[0]);
          return answer_;
        },
        1)));
  }
  ~ErrorCatcher() { ErrorBlock(old_); }
  size_t count() const { return errors_.size(); }
  Value Field(size_t i, const char* name) const {
    return IVarGet(errors_.at(i), String2Symbol(name));
  }

 private:
  Value answer_, old_;
  std::vector<Value> errors_;
};

Value F(double v, int dec = -1) { return Value::Float(v, dec); }
Value L(int32_t v) { return Value::Long(v); }

TEST_F(ConvertTest, NullAndEmptyStringsAndNil) {
  EXPECT_EQ(AsString(Value::NullString()), "");
  EXPECT_EQ(AsString(Value::String("")), "");
  EXPECT_EQ(AsString(Value()), "NIL");
  EXPECT_EQ(AsPsz(Value::NullString()), "");
  EXPECT_EQ(Val(Value::NullString().GetString()), L(0));
  EXPECT_EQ(Val(""), L(0));
  EXPECT_EQ(RTrim(Value::NullString().GetString()), "");
  EXPECT_EQ(Upper(""), "");
}

TEST_F(ConvertTest, AsStringOfEachType) {
  EXPECT_EQ(AsString(Value::String("a b ")), "a b ");
  EXPECT_EQ(AsString(L(42)), "42");
  EXPECT_EQ(AsString(L(-7)), "-7");
  EXPECT_EQ(AsString(L(INT32_MIN)), "-2147483648");  // wider than ten places, still whole
  EXPECT_EQ(AsString(Value::Dword(4294967295u)), "4294967295");
  EXPECT_EQ(AsString(Value::Logic(true)), ".T.");
  EXPECT_EQ(AsString(Value::Logic(false)), ".F.");
  EXPECT_EQ(AsString(Value::Sym(String2Symbol("windows"))), "WINDOWS");
  EXPECT_EQ(AsString(Value::Sym(Symbol())), "");
  EXPECT_EQ(AsString(Value::FromArray(ArrayInit({L(1), L(2), L(3)}))), "{[3]}");
  EXPECT_EQ(AsString(Value::Ptr(nullptr)), "0x00000000");
  EXPECT_EQ(AsString(Value::Psz("zero-terminated")), "zero-terminated");
  SetDateFrmt("DD/MM/YYYY");
  SetCentury(true);
  EXPECT_EQ(AsString(Value::FromDate(Date::FromYmd(2017, 1, 9))), "09/01/2017");
  EXPECT_EQ(AsString(Value::FromDate(Date{})), "  /  /    ");
}

TEST_F(ConvertTest, AsStringOfAnObjectNamesItsClass) {
  ClassBuilder("ConvertProbe").IVar("X").Register();
  Value o = CreateInstance(String2Symbol("ConvertProbe"));
  EXPECT_EQ(AsString(o), "{CONVERTPROBE}");
}

TEST_F(ConvertTest, AsStringOfFloatsUsesTheirDecimalsOrTheSetting) {
  EXPECT_EQ(AsString(F(3.14159)), "3.14");
  EXPECT_EQ(AsString(F(3.14159, 4)), "3.1416");
  EXPECT_EQ(AsString(F(2.5, 0)), "3");
  SetDecimal(0);
  EXPECT_EQ(AsString(F(3.14159)), "3");
  SetDecimal(5);
  EXPECT_EQ(AsString(F(1.0 / 3)), "0.33333");
  EXPECT_EQ(AsString(F(1.5, 1)), "1.5");
}

TEST_F(ConvertTest, AsPszEndsAtTheFirstZeroByte) {
  Value s = Value::String(std::string("ab\0cd", 5));
  EXPECT_EQ(AsString(s).size(), 5u);
  EXPECT_EQ(AsPsz(s), "ab");
}

TEST_F(ConvertTest, StrWidthsAndDecimals) {
  struct Case {
    Value n;
    int len, dec;
    const char* want;
  } cases[] = {
      {L(42), -1, -1, "        42"},
      {L(-42), -1, -1, "       -42"},
      {L(42), 5, -1, "   42"},
      {L(5), 6, 2, "  5.00"},
      {L(123456), 3, -1, "***"},
      {L(-12), 2, -1, "**"},
      {L(1234567890), -1, -1, "1234567890"},
      {L(-1234567890), -1, -1, "-1234567890"},  // default width grows instead of overflowing
      {F(3.14159), -1, -1, "         3.14"},    // ten places, the point and the decimals
      {F(3.14159, 4), -1, -1, "         3.1416"},
      {F(3.14159), 8, -1, "       3"},  // a width without decimals shows none
      {F(3.14159), 8, 3, "   3.142"},
      {F(2.675), 10, 2, "      2.68"},  // 2.675 is 2.67499... in binary
      {F(-2.675), 10, 2, "     -2.68"},
      {F(1.005), 6, 2, "  1.01"},
      {F(123.5), 3, -1, "124"},
      {F(-0.5), 2, -1, "-1"},
      {F(0.5), 1, -1, "1"},
      {F(-0.001), 6, 2, "  0.00"},  // no negative zero
      {F(99.999), 5, 2, "*****"},   // rounding makes it one place too wide
      {F(1e15, 0), -1, -1, "1000000000000000"},
      {F(0.0), 4, 2, "0.00"},
      {F(0.1 + 0.2), 19, 17, "0.30000000000000000"},  // fifteen digits are all a double holds
      {F(123456789.125), 14, 2, "  123456789.13"},
      {F(0.004), 4, 2, "0.00"},
      {F(0.005), 4, 2, "0.01"},
      {F(9.995), 5, 2, "10.00"},
      {F(1e300, 0), 3, -1, "***"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(::testing::Message() << "case " << i);
    EXPECT_EQ(Str(cases[i].n, cases[i].len, cases[i].dec), cases[i].want);
  }
}

TEST_F(ConvertTest, StrUsesTheDecimalSeparatorAndValReadsIt) {
  SetDecimalSep(',');
  EXPECT_EQ(Str(F(3.14159), 6, 2), "  3,14");
  EXPECT_EQ(NTrim(F(-0.25, 2)), "-0,25");
  EXPECT_EQ(Val("1,5"), F(1.5, 1));
  EXPECT_EQ(Val("1.5"), L(1));
  SetDecimalSep('.');
  EXPECT_EQ(Val("1,5"), L(1));
}

TEST_F(ConvertTest, NTrimAndStrZero) {
  EXPECT_EQ(NTrim(L(-5)), "-5");
  EXPECT_EQ(NTrim(L(0)), "0");
  EXPECT_EQ(NTrim(F(1.5)), "1.50");
  EXPECT_EQ(NTrim(Value::Dword(7)), "7");
  EXPECT_EQ(StrZero(L(5), 4), "0005");
  EXPECT_EQ(StrZero(L(-5), 4), "-005");
  EXPECT_EQ(StrZero(F(3.14159), 7, 2), "0003.14");
  EXPECT_EQ(StrZero(F(-3.14159), 7, 2), "-003.14");
  EXPECT_EQ(StrZero(L(12345), 3), "***");
  EXPECT_EQ(StrZero(L(123), 3), "123");
}

TEST_F(ConvertTest, StrOfANonNumberIsAnArgumentError) {
  {
    ErrorCatcher errors(Value::Logic(false));
    EXPECT_EQ(Str(Value::String("12")), "");
    EXPECT_EQ(NTrim(Value()), "");
    ASSERT_EQ(errors.count(), 2u);
    EXPECT_EQ(errors.Field(0, "GenCode").GetDword(), static_cast<uint32_t>(kGenArg));
    EXPECT_EQ(errors.Field(0, "Operation").GetString(), "STR");
    EXPECT_EQ(errors.Field(0, "SubSystem").GetString(), "BASE");
    EXPECT_EQ(errors.Field(1, "Operation").GetString(), "NTRIM");
  }
  {
    ErrorCatcher errors(Value::String("n/a"));
    EXPECT_EQ(StrZero(Value::Logic(true), 4), "n/a");
    EXPECT_EQ(errors.count(), 1u);
  }
}

TEST_F(ConvertTest, ValReadsTheLeadingNumber) {
  struct Case {
    const char* text;
    Value want;
  } cases[] = {
      {"42", L(42)},
      {"  42abc", L(42)},
      {"\t7", L(7)},
      {"+7", L(7)},
      {"-3.25", F(-3.25, 2)},
      {"1.", F(1, 0)},
      {".5", F(0.5, 1)},
      {"0.1", F(0.1, 1)},
      {"abc", L(0)},
      {"-", L(0)},
      {" - 5", L(0)},
      {"2147483647", L(2147483647)},
      {"2147483648", F(2147483648.0, 0)},
      {"-2147483648", L(INT32_MIN)},
      {"99999999999", F(99999999999.0, 0)},
      {"12 34", L(12)},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(::testing::Message() << "case " << i << " \"" << cases[i].text << "\"");
    Value v = Val(cases[i].text);
    EXPECT_EQ(v.type(), cases[i].want.type());
    EXPECT_EQ(v.GetFloat(), cases[i].want.GetFloat());
    EXPECT_EQ(v.decimals(), cases[i].want.decimals());
  }
}

TEST_F(ConvertTest, ValOfStrGivesTheNumberBack) {
  for (double x : {0.0, 1.25, -1.25, 123456.78, -0.07, 9999999.99}) {
    Value v = Val(Str(F(x, 2)));
    EXPECT_EQ(AllTrim(Str(v, -1, 2)), AllTrim(Str(F(x, 2)))) << x;
  }
}

TEST_F(ConvertTest, CaseAndTrimsTouchOnlyAsciiLettersAndBlanks) {
  EXPECT_EQ(Upper("caf\xe9 Oui"), "CAF\xe9 OUI");
  EXPECT_EQ(Lower("CAF\xc9 Oui"), "caf\xc9 oui");
  EXPECT_EQ(RTrim("  a b  "), "  a b");
  EXPECT_EQ(LTrim("  a b  "), "a b  ");
  EXPECT_EQ(AllTrim("  a b  "), "a b");
  EXPECT_EQ(AllTrim("    "), "");
  EXPECT_EQ(RTrim("a\t"), "a\t");
  EXPECT_EQ(RTrim(std::string("a\0 ", 3)), std::string("a\0", 2));
}

TEST(Charset, Windows1252ToUtf8) {
  EXPECT_EQ(Ansi2Utf8("d\xe9j\xe0"), "d\xc3\xa9j\xc3\xa0");
  EXPECT_EQ(Ansi2Utf8("\x80"), "\xe2\x82\xac");
  EXPECT_EQ(Ansi2Utf8("\x9c\x8c"), "\xc5\x93\xc5\x92");
  EXPECT_EQ(Ansi2Utf8("\xa0"), "\xc2\xa0");
  EXPECT_EQ(Ansi2Utf8("\x81"), "\xc2\x81");  // unassigned: the C1 control of that number
  EXPECT_EQ(Ansi2Utf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Charset, EveryByteSurvivesTheRoundTrip) {
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  EXPECT_EQ(Utf82Ansi(Ansi2Utf8(all)), all);
}

TEST(Charset, Utf8ToWindows1252) {
  EXPECT_EQ(Utf82Ansi("Fermer d\xc3\xa9j\xc3\xa0"), "Fermer d\xe9j\xe0");
  EXPECT_EQ(Utf82Ansi("\xe2\x82\xac"), "\x80");
  EXPECT_EQ(Utf82Ansi("\xe6\x97\xa5"), "?");         // no such character in the code page
  EXPECT_EQ(Utf82Ansi("\xf0\x9f\x98\x80!"), "?!");   // four-byte sequence
  EXPECT_EQ(Utf82Ansi("\xff"), "?");                 // not a lead byte
  EXPECT_EQ(Utf82Ansi("a\xc3"), "a?");               // cut short at the end
  EXPECT_EQ(Utf82Ansi("\xc3(x"), "?(x");             // bad continuation keeps the next byte
  EXPECT_EQ(Utf82Ansi("\xc0\xaf"), "??");            // overlong form of '/'
  EXPECT_EQ(Utf82Ansi("\xed\xa0\x80"), "???");       // surrogate
  EXPECT_EQ(Utf82Ansi("\xf4\x90\x80\x80"), "????");  // beyond U+10FFFF
}

}  // namespace
}  // namespace rt
