// The tables of the large installation that times the 2017 update (make-demo
// --big, tablebench): every record is a function of its number, so that the
// same tables can be written again anywhere, by any engine.
//
// Key-letter tables (INDEX_TYP C(4), INDEX_DAT D, INDEX_100 N(10,2); tags
// TYPDAT = INDEX_TYP+DTOS(INDEX_DAT), DAT = INDEX_DAT):
//   practice record i (0-based): code number c = i % 200, the code is
//     kKeyLetters[c] for c < 9, else "X" followed by c in decimal; the date is
//     1 January 1990 plus i / 200 days; the value is 1 + (i % 1000) / 10.
//   reference record j of 10 000: for j < 9 000 the key of practice record
//     j * P / 9 000 (P practice records, integer division), with its value,
//     plus 1 000 when j % 9 == 0 (1 000 values differ); for j >= 9 000, with
//     k = j - 9 000, the code "Z" followed by k % 100, the date 1 January 2017
//     plus k / 100 days and the value 50 + (k % 100) / 10 (1 000 keys the
//     practice lacks).
// Coefficient tables (CODE C(5), LIBELLE C(40), COEF N(10,2), [PRIX_CAB
// N(10,2), practice only,] DATE_EFF D, ACTIF L, NOTE M; tags CODE = CODE,
// CODEDATE = CODE+DTOS(DATE_EFF)):
//   practice record i: CODE "T" followed by i % 5000, LIBELLE "Acte " followed
//     by i, COEF 1 + i % 97, DATE_EFF 1 January of 1990 + (i / 5000) % 27,
//     ACTIF true, PRIX_CAB and NOTE empty.
//   reference record k of 77: CODE "R" followed by k in two digits, LIBELLE
//     "Acte 2017 " followed by k, COEF 1 + k / 4, DATE_EFF 1 May 2017, ACTIF true.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apps/make_demo/create_table.h"

namespace demo {

extern const char* const kKeyLetters[9];
extern const std::vector<FieldSpec> kLetterFields;
extern const std::vector<TagDef> kLetterTags;
extern const std::vector<FieldSpec> kTarifFields;          // the reference's
extern const std::vector<FieldSpec> kPracticeTarifFields;  // with PRIX_CAB
extern const std::vector<TagDef> kTarifTags;

constexpr uint32_t kReferenceLetters = 10000;
constexpr uint32_t kSharedLetters = 9000;  // reference keys the practice has
constexpr uint32_t kReferenceTarifs = 77;

struct LetterRow {
  std::string code;
  int32_t julian = 0;
  double value = 0;
};
LetterRow PracticeLetter(uint32_t i);
// Needs practice_rows >= kSharedLetters.
LetterRow ReferenceLetter(uint32_t j, uint32_t practice_rows);
// True when reference record j's value differs from the practice's.
inline bool ReferenceLetterChanged(uint32_t j) { return j < kSharedLetters && j % 9 == 0; }

// Each writes a new table with its CDX in one batch; false with *error set.
bool WriteLetterPractice(const std::string& path, uint32_t rows, std::string* error);
bool WriteLetterReference(const std::string& path, uint32_t practice_rows, std::string* error);
bool WriteTarifPractice(const std::string& path, uint32_t rows, std::string* error);
bool WriteTarifReference(const std::string& path, std::string* error);

}  // namespace demo
