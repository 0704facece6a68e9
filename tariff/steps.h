// The two steps run for every practice: the coefficient step (tarif.dbf) and
// the key-letter step (ind_100.dbf, append pass or reconcile pass).
#pragma once

#include <string>

#include "ini/ini_file_spec.h"
#include "tariff/progress.h"

namespace tariff {

struct Practice {
  std::string code;         // untrimmed CABINET value
  std::string table_dir;    // data root + "Data\doc" + code + "\"
  std::string program_dir;  // ends with a separator
  std::string config_path;  // the practice's Velmora.ini
  const ini::IniFile* config = nullptr;
};

void CoefficientStep(const Practice& p, bool due, const Progress& progress);
void KeyLetterStep(const Practice& p, bool due, const Progress& progress);

// Writes the marker "1" and reads it back through a fresh object; warns in
// the list when it did not stick.
void WriteMarker(const Practice& p, const char* key, const Progress& progress);

}  // namespace tariff
