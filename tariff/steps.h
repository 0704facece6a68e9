// The two steps run for every practice: the coefficient step (tarif.dbf) and
// the key-letter step (ind_100.dbf, append pass or reconcile pass), and what
// they share: the update lock, the marker, the held append.
//
// A step that changes a practice holds its update lock and reads its marker
// again under it, so a second run at once waits and then finds the work done.
// An append is held by the table service until its marker is written and
// read back: only then is it committed and " réussi" posted; otherwise it is
// rolled back. A marker that cannot be written is found before any table is
// touched. Every outcome is tallied (outcome.h).
#pragma once

#include <memory>
#include <string>

#include "ini/ini_file_spec.h"
#include "tariff/progress.h"

namespace tariff {

class Db;

struct Practice {
  std::string code;         // untrimmed CABINET value
  std::string table_dir;    // data root + "Data\doc" + code + "\"
  std::string program_dir;  // ends with a separator
  std::string config_path;  // the practice's Velmora.ini
  const ini::IniFile* config = nullptr;
};

void CoefficientStep(const Practice& p, bool due, const Progress& progress);
void KeyLetterStep(const Practice& p, bool due, const Progress& progress);

// Posts line, tallies the step as failed or done, pumps and shows it.
void PostFailed(const std::string& line, const Progress& progress);
void PostDone(const std::string& line, const Progress& progress);

// True when the marker `key` of section "2017" reads "1" now (a fresh object).
bool MarkerSet(const Practice& p, const char* key);

// Checks that the practice's Velmora.ini can take the marker; when it cannot,
// raises a write error with the OS code through the error protocol (retry
// checks again) and returns false.
bool MarkerWritable(const Practice& p);

// The held append of source into table, committed with the marker `key`:
// append held → marker written → read back "1" → commit, post head + code +
// " réussi"; anything else: rollback, post head + code + " raté ", and a
// write error for a marker that did not stick.
void AppendWithMarker(const Db& table, const std::string& source, const Practice& p,
                      const char* key, const std::string& head, const Progress& progress);

// Takes the practice's update lock for the life of the returned object; null
// when the step must not go on (line posted, step tallied as failed).
class UpdateLock;
std::unique_ptr<UpdateLock> LockPractice(const Practice& p, const std::string& head,
                                         const Progress& progress);

}  // namespace tariff
