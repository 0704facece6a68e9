// The coefficient step: the 2017 reference coefficients appended once to the
// practice's tarif.dbf, with the "tarif" marker written on success.
#include "runtime/activation.h"
#include "tariff/db.h"
#include "tariff/outcome.h"
#include "tariff/report.h"
#include "tariff/run_options.h"
#include "tariff/steps.h"
#include "tariff/texts.h"

namespace tariff {

void WriteMarker(const Practice& p, const char* key, const Progress& progress) {
  RT_ROUTINE("MAINDIALOG:MODTARIF06", "Dialog");
  if (DryRun()) return;
  p.config->WriteString("2017", key, "1");
  // A read-only file or a vanished directory swallows the write silently; the
  // next run would then add the records a second time.
  ini::IniFile check(p.config_path);
  if (check.GetString("2017", key) != "1") {
    progress.Post(text::kMarkerLost + p.code);
    NoteStepFailed();
  }
}

void CoefficientStep(const Practice& p, bool due, const Progress& progress) {
  RT_ROUTINE("MAINDIALOG:MODTARIF06", "Dialog");
  if (!due) {
    progress.Post(text::kCoefDone + p.code + text::kAlreadyDone);
    NoteStepOk();
    progress.Pump();
    progress.ShowLast();
    return;
  }
  RT_LINE();
  Db table(p.table_dir + "tarif.dbf", DryRun());
  RT_LINE();
  if (report::AppendAndReport(p.code, table, "tarif.dbf", p.program_dir + "tarif2017.dbf")) {
    progress.Post(text::kCoefAdd + p.code + text::kSucceeded);
    NoteStepOk();
    RT_LINE();
    WriteMarker(p, "tarif", progress);
  } else {
    progress.Post(text::kCoefAdd + p.code + text::kFailed);
    NoteStepFailed();
  }
  progress.Pump();
  progress.ShowLast();
  RT_LINE();
  table.Close();
  report::Flush();
}

}  // namespace tariff
