#include "apps/make_demo/big_tables.h"

#include <cstdio>

#include "tables/dbf/dbf_field.h"

namespace demo {

const char* const kKeyLetters[9] = {"C", "CS", "K", "KC", "V", "VS", "G", "VG", "APC"};
const std::vector<FieldSpec> kLetterFields = {
    {"INDEX_TYP", 'C', 4}, {"INDEX_DAT", 'D', 8}, {"INDEX_100", 'N', 10, 2}};
const std::vector<TagDef> kLetterTags = {{"TYPDAT", "INDEX_TYP+DTOS(INDEX_DAT)"},
                                         {"DAT", "INDEX_DAT"}};
const std::vector<FieldSpec> kTarifFields = {{"CODE", 'C', 5},     {"LIBELLE", 'C', 40},
                                             {"COEF", 'N', 10, 2}, {"DATE_EFF", 'D', 8},
                                             {"ACTIF", 'L', 1},    {"NOTE", 'M', 10}};
const std::vector<FieldSpec> kPracticeTarifFields = {
    {"CODE", 'C', 5},     {"LIBELLE", 'C', 40}, {"COEF", 'N', 10, 2}, {"PRIX_CAB", 'N', 10, 2},
    {"DATE_EFF", 'D', 8}, {"ACTIF", 'L', 1},    {"NOTE", 'M', 10}};
const std::vector<TagDef> kTarifTags = {{"CODE", "CODE"}, {"CODEDATE", "CODE+DTOS(DATE_EFF)"}};

LetterRow PracticeLetter(uint32_t i) {
  LetterRow row;
  uint32_t c = i % 200;
  row.code = c < 9 ? kKeyLetters[c] : "X" + std::to_string(c);
  row.julian = tables::JulianFromYmd(1990, 1, 1) + static_cast<int32_t>(i / 200);
  row.value = 1 + (i % 1000) / 10.0;
  return row;
}

LetterRow ReferenceLetter(uint32_t j, uint32_t practice_rows) {
  if (j < kSharedLetters) {
    LetterRow row = PracticeLetter(
        static_cast<uint32_t>(static_cast<uint64_t>(j) * practice_rows / kSharedLetters));
    if (ReferenceLetterChanged(j)) row.value += 1000;
    return row;
  }
  uint32_t k = j - kSharedLetters;
  LetterRow row;
  row.code = "Z" + std::to_string(k % 100);
  row.julian = tables::JulianFromYmd(2017, 1, 1) + static_cast<int32_t>(k / 100);
  row.value = 50 + (k % 100) / 10.0;
  return row;
}

namespace {

void PutLetter(const LetterRow& row, RecordBuilder& r) {
  r.Char(0, row.code);
  r.Date(1, row.julian);
  r.Number(2, row.value);
}

}  // namespace

bool WriteLetterPractice(const std::string& path, uint32_t rows, std::string* error) {
  return CreateFilledTable(
      path, kLetterFields, kLetterTags, rows,
      [](uint32_t i, RecordBuilder& r) { PutLetter(PracticeLetter(i), r); }, error);
}

bool WriteLetterReference(const std::string& path, uint32_t practice_rows, std::string* error) {
  if (practice_rows < kSharedLetters) {
    *error = "the key-letter practice table needs at least " + std::to_string(kSharedLetters) +
             " records";
    return false;
  }
  return CreateFilledTable(
      path, kLetterFields, kLetterTags, kReferenceLetters,
      [&](uint32_t j, RecordBuilder& r) { PutLetter(ReferenceLetter(j, practice_rows), r); },
      error);
}

bool WriteTarifPractice(const std::string& path, uint32_t rows, std::string* error) {
  return CreateFilledTable(
      path, kPracticeTarifFields, kTarifTags, rows,
      [](uint32_t i, RecordBuilder& r) {
        r.Char(0, "T" + std::to_string(i % 5000));
        r.Char(1, "Acte " + std::to_string(i));
        r.Number(2, 1 + i % 97);
        r.Date(4, tables::JulianFromYmd(1990 + static_cast<int>(i / 5000 % 27), 1, 1));
        r.Logical(5, true);
      },
      error);
}

bool WriteTarifReference(const std::string& path, std::string* error) {
  const int32_t may_2017 = tables::JulianFromYmd(2017, 5, 1);
  return CreateFilledTable(
      path, kTarifFields, kTarifTags, kReferenceTarifs,
      [&](uint32_t k, RecordBuilder& r) {
        char code[8];
        std::snprintf(code, sizeof code, "R%02u", k);
        r.Char(0, code);
        r.Char(1, "Acte 2017 " + std::to_string(k));
        r.Number(2, 1 + k / 4.0);
        r.Date(3, may_2017);
        r.Logical(4, true);
      },
      error);
}

}  // namespace demo
