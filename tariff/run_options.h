// How the next run of the update goes, set by whoever starts it (the console
// runner's --dry-run and --report, the Windows program's /dry-run) before OK
// is pressed. The dialog's own OK button leaves the defaults: a real run whose
// change report goes to the program directory.
#pragma once

#include <string>

namespace tariff {

struct RunOptions {
  // Post the lines a real run would post and change nothing: every table is
  // opened shared and read-only, no marker, lock, journal or report file of
  // the installation is written.
  bool dry_run = false;
  // Where the change report goes (a Windows path, or a native one on Linux);
  // empty: the program directory's Tarif2017-changes.csv for a real run, no
  // report at all for a dry run.
  std::string report_path;
};

void SetRunOptions(const RunOptions& options);
const RunOptions& CurrentRunOptions();
inline bool DryRun() { return CurrentRunOptions().dry_run; }

}  // namespace tariff
