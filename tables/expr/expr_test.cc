// Key and FOR expressions evaluated on hand-made records: operators with xBase
// typing, every function index keys use, field decoding by type, and the
// compile errors that make a tag unwritable.
#include "tables/expr/expr.h"

#include <gtest/gtest.h>

#include "tables/dbf/key_codec.h"

namespace tables {
namespace {

const std::vector<IndexField> kFields = {
    {"CODE", 'C', 1, 6, 0, 0},    {"QTE", 'N', 7, 5, 0, 0}, {"PRIX", 'N', 12, 8, 2, 0},
    {"JOUR", 'D', 20, 8, 0, 0},   {"OK", 'L', 28, 1, 0, 0}, {"ID", 'I', 29, 4, 0, 0},
    {"TEXTE", 'C', 33, 10, 0, 0},
};

std::vector<uint8_t> Record(bool deleted = false) {
  std::string r = std::string(deleted ? "*" : " ") +
                  "ab\xe9"
                  "cD"
                  " " +
                  "   42" + "   -1.50" + "20240229" + "T" + std::string("\x07\x00\x00\x00", 4) +
                  "  Lettre  ";
  return std::vector<uint8_t>(r.begin(), r.end());
}

ExprValue Eval(const std::string& text, bool deleted = false) {
  std::unique_ptr<Expr> e;
  Status s = Expr::Compile(text, kFields, &e);
  EXPECT_TRUE(s.ok()) << text << ": " << s.text();
  if (!s.ok()) return ExprValue();
  std::vector<uint8_t> rec = Record(deleted);
  ExprValue v;
  s = e->Eval(ExprRecord{rec, 17, nullptr}, &v);
  EXPECT_TRUE(s.ok()) << text << ": " << s.text();
  return v;
}

TEST(ExprTest, TextResults) {
  struct Case {
    const char* expr;
    std::string want;
  } cases[] = {
      {"CODE",
       "ab\xe9"
       "cD "},
      {"UPPER(CODE)",
       "AB\xe9"
       "CD "},  // only a-z change
      {"LOWER(CODE)",
       "ab\xe9"
       "cd "},
      {"FIELD->CODE+'|'",
       "ab\xe9"
       "cD |"},
      {"code - 'x'",
       "ab\xe9"
       "cDx "},
      {"LEFT(CODE,2)+RIGHT(CODE,3)",
       "ab"
       "cD "},
      {"SUBSTR(CODE,2,3)",
       "b\xe9"
       "c"},
      {"SUBSTR(CODE,-2)", "D "},
      {"TRIM(TEXTE)+'.'", "  Lettre."},
      {"RTRIM(TEXTE)+LTRIM(TEXTE)", "  LettreLettre  "},
      {"ALLTRIM(TEXTE)", "Lettre"},
      {"PADL('ab',4)+PADR('cd',3,'*')", "  abcd*"},
      {"PADR(QTE,4)", "42  "},
      {"SPACE(2)+REPLICATE('ab',2)", "  abab"},
      {"STR(QTE,5)+STR(PRIX,10,2)", "   42     -1.50"},
      {"STR(PRIX)", "   -1.50"},
      {"STR(2.5,4)", "   3"},
      {"STR(123456,4)", "****"},
      {"STRZERO(QTE,5)", "00042"},
      {"DTOS(JOUR)", "20240229"},
      {"DTOC(JOUR)", "02/29/24"},
      {"IIF(OK,'1','0')+CODE",
       "1ab\xe9"
       "cD "},
      {"DESCEND('AB')", "\xbf\xbe"},
      {"STR(LEN(TEXTE),3)", " 10"},
      {"STR(YEAR(JOUR),4)+STR(MONTH(JOUR),2)+STR(DAY(JOUR),2)", "2024 229"},
      {"STR(RECNO(),7)", "     17"},
      {"[br]+\"ac\"", "brac"},
      {"PADC('ab',5,'-')", "-ab--"},
      {"STR(ROUND(PRIX,0),4)+STR(ABS(PRIX),5,2)+STR(INT(-2.7),3)", "  -2 1.50 -2"},
      {"STR(MIN(QTE,7),2)+STR(MAX(QTE,7),3)", " 7 42"},
      {"DTOS(MIN(JOUR,STOD('20170101')))+DTOS(MAX(JOUR,STOD('20170101')))", "2017010120240229"},
  };
  for (const Case& c : cases) {
    ExprValue v = Eval(c.expr);
    EXPECT_EQ(v.kind, ExprValue::Kind::kChar) << c.expr;
    EXPECT_EQ(v.str, c.want) << c.expr;
  }
}

TEST(ExprTest, LogicalResults) {
  struct Case {
    const char* expr;
    bool want;
  } cases[] = {
      {"OK", true},
      {"!OK", false},
      {".NOT. OK .OR. QTE > 40", true},
      {"QTE = 42 .AND. PRIX < 0", true},
      {"QTE # 42", false},
      {"QTE <> 41 .and. QTE != 40", true},
      {"QTE >= 42 .AND. QTE <= 42", true},
      {"CODE = 'ab'", true},    // compares as far as the right operand goes
      {"CODE == 'ab'", false},  // exact
      {"'ab' = CODE", false},
      {"CODE = ''", true},
      {"'Let' $ TEXTE", true},
      {"EMPTY(SPACE(3))", true},
      {"EMPTY(QTE - 42)", true},
      {"EMPTY(JOUR)", false},
      {"ID % 2 == 1", true},
      {"JOUR - 1 < JOUR", true},
      {"JOUR + 1 - JOUR = 1", true},
      {"VAL('12.5') * 2 = 25", true},
      {"(QTE + 8) / 10 = 5", true},
      {"DELETED()", false},
      {".T. .AND. (.F. .OR. .Y.)", true},
  };
  for (const Case& c : cases) {
    ExprValue v = Eval(c.expr);
    EXPECT_EQ(v.kind, ExprValue::Kind::kLogic) << c.expr;
    EXPECT_EQ(v.logic, c.want) << c.expr;
  }
  EXPECT_TRUE(Eval("DELETED()", true).logic);
}

TEST(ExprTest, FieldTypes) {
  EXPECT_EQ(Eval("PRIX").num, -1.5);
  EXPECT_EQ(Eval("PRIX").decimals, 2);
  EXPECT_EQ(Eval("ID").num, 7);
  EXPECT_EQ(Eval("JOUR").date, DateToJulian(2024, 2, 29));
  EXPECT_EQ(Eval("JOUR + 1").date, DateToJulian(2024, 3, 1));
  EXPECT_EQ(Eval("DESCEND(QTE)").num, -42);
}

TEST(ExprTest, CompileErrorsNameTheProblem) {
  struct Case {
    const char* expr;
    const char* says;
  } cases[] = {
      {"MYUDF(CODE)", "unknown function MYUDF()"},
      {"NOFIELD", "unknown field NOFIELD"},
      {"OTHER->CODE", "alias OTHER"},
      {"UPPER(CODE", "')' expected"},
      {"LEFT(CODE)", "wrong number of arguments"},
      {"CODE +", "unexpected end"},
      {"'open", "unterminated string"},
      {"CODE @ 1", "unexpected character"},
      {"", "unexpected end"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<Expr> e;
    Status s = Expr::Compile(c.expr, kFields, &e);
    ASSERT_FALSE(s.ok()) << c.expr;
    EXPECT_EQ(s.code(), Status::kUnsupported);
    EXPECT_NE(s.text().find(c.says), std::string::npos) << s.text();
  }
  std::string deep(200, '(');
  std::unique_ptr<Expr> e;
  EXPECT_FALSE(Expr::Compile(deep + "1" + std::string(200, ')'), kFields, &e).ok());
}

TEST(ExprTest, TypeErrorsAtEvaluation) {
  for (const char* text :
       {"CODE + 1", "QTE = 'a'", "UPPER(QTE)", "OK .AND. 1", "1 / 0", "DTOS(CODE)",
        "JOUR + 1000000000 * 1000000000", "3000000000 + JOUR", "JOUR - 3000000000", "MIN(QTE,JOUR)",
        "MAX(OK,OK)", "PADL('a',CODE)", "ROUND(QTE,CODE)"}) {
    std::unique_ptr<Expr> e;
    ASSERT_TRUE(Expr::Compile(text, kFields, &e).ok()) << text;
    std::vector<uint8_t> rec = Record();
    ExprValue v;
    Status s = e->Eval(ExprRecord{rec, 1, nullptr}, &v);
    EXPECT_EQ(s.code(), Status::kDataType) << text;
  }
}

TEST(ExprTest, FormatStrRoundsAwayFromZero) {
  EXPECT_EQ(FormatStr(0.125, 5, 2), " 0.13");
  EXPECT_EQ(FormatStr(-0.125, 6, 2), " -0.13");
  EXPECT_EQ(FormatStr(-0.001, 5, 2), " 0.00");
  EXPECT_EQ(FormatStr(1234567.89, 10, 2), "1234567.89");
  EXPECT_EQ(FormatStr(12345678.9, 10, 2), "**********");
  // Decimals past what 64-bit units hold are written as zeros.
  EXPECT_EQ(FormatStr(0, 24, 22), "0." + std::string(22, '0'));
  EXPECT_EQ(FormatStr(1.5, 24, 20), "  1.5" + std::string(19, '0'));
}

}  // namespace
}  // namespace tables
