// The coefficient step: the 2017 reference coefficients appended once to the
// practice's tarif.dbf, committed together with the "tarif" marker.
#include "runtime/activation.h"
#include "tariff/db.h"
#include "tariff/report.h"
#include "tariff/run_options.h"
#include "tariff/steps.h"
#include "tariff/texts.h"
#include "tariff/update_lock.h"

namespace tariff {

void CoefficientStep(const Practice& p, bool due, const Progress& progress) {
  RT_LINE();
  const std::string done = text::kCoefDone + p.code + text::kAlreadyDone;
  if (!due) {
    PostDone(done, progress);
    return;
  }
  RT_LINE();
  std::unique_ptr<UpdateLock> lock;  // a dry run takes no lock
  if (!DryRun() && !(lock = LockPractice(p, text::kCoefAdd, progress))) return;
  // Another run may have finished the practice while this one waited.
  if (MarkerSet(p, "tarif")) {
    PostDone(done, progress);
    return;
  }
  RT_LINE();
  if (!MarkerWritable(p)) {
    PostFailed(text::kCoefAdd + p.code + text::kFailed, progress);
    return;
  }
  RT_LINE();
  Db table(p.table_dir + "tarif.dbf", DryRun());
  if (!table.opened()) {
    PostFailed(text::kCoefAdd + p.code + text::kFailed, progress);
    return;
  }
  AppendWithMarker(table, p.program_dir + "tarif2017.dbf", p, "tarif", text::kCoefAdd, progress);
  RT_LINE();
  table.Close();
  report::Flush();
}

}  // namespace tariff
