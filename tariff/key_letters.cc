// The key-letter step: the 2017 key-letter index appended once to the
// practice's ind_100.dbf (append pass, "index" marker on success), then on
// every later run reconciled record by record with the reference (reconcile
// pass: changed values updated under a record lock, missing records added).
#include "runtime/activation.h"
#include "runtime/convert.h"
#include "runtime/error.h"
#include "tariff/db.h"
#include "tariff/outcome.h"
#include "tariff/report.h"
#include "tariff/run_options.h"
#include "tariff/steps.h"
#include "tariff/texts.h"

namespace tariff {
namespace {

constexpr char kLookupKey[] = "INDEX_TYP+DTOS(INDEX_DAT)";
constexpr char kTable[] = "ind_100.dbf";

void AppendPass(const Practice& p, const Progress& progress) {
  RT_ROUTINE("MAINDIALOG:MODTARIF06", "Dialog");
  RT_LINE();
  Db table(p.table_dir + "ind_100.dbf", DryRun());
  RT_LINE();
  if (report::AppendAndReport(p.code, table, kTable, p.program_dir + "ind_1002017.dbf")) {
    progress.Post(text::kIndexAdd + p.code + text::kSucceeded);
    NoteStepOk();
    RT_LINE();
    WriteMarker(p, "index", progress);
  } else {
    progress.Post(text::kIndexAdd + p.code + text::kFailed);
    NoteStepFailed();
  }
  progress.Pump();
  progress.ShowLast();
  RT_LINE();
  table.Close();
  report::Flush();
}

// Seeking on any other order would find nothing and append every reference
// record again, so the pass refuses to run without the lookup order.
bool EnsureLookupOrder(const Db& table, const std::string& path) {
  if (table.UseOrderKeyedOn(kLookupKey)) return true;
  rt::ErrorInfo e;
  e.subsystem = "DBFCDX";
  e.gen_code = rt::kGenNoOrder;
  e.severity = 2;
  e.operation = "Seek";
  e.description = std::string("No order keyed on ") + kLookupKey;
  e.file_name = path;
  e.can_default = true;
  rt::RaiseError(e);
  return false;
}

void ReconcilePass(const Practice& p, const Progress& progress) {
  RT_ROUTINE("MAINDIALOG:MODTARIF06", "Dialog");
  bool modified = false;
  const bool dry = DryRun();
  uint32_t dry_appended = 0;  // records a real run would have added by now
  const std::string practice_path = p.table_dir + kTable;
  RT_LINE();
  Db practice(practice_path, dry);
  RT_LINE();
  Db reference(p.program_dir + "ind_1002017.dbf", dry);
  RT_LINE();
  if (EnsureLookupOrder(practice, practice_path)) {
    reference.GoTop();
    while (!reference.Eof()) {
      RT_LINE();
      std::string code = rt::AsString(reference.FieldGet("INDEX_TYP"));
      rt::Date date = reference.FieldGet("INDEX_DAT").GetDate();
      rt::Value ref_value = reference.FieldGet("INDEX_100");
      rt::Value value = rt::Value::Float(ref_value.GetFloat(), ref_value.decimals());
      RT_LINE();
      if (practice.Seek(code + rt::DToS(date))) {
        if (!(reference.FieldGet("INDEX_100") == practice.FieldGet("INDEX_100"))) {
          RT_LINE();
          if (dry) {
            report::Updated(p.code, kTable, practice.RecNo(), "INDEX_100",
                            report::Text(practice.FieldGet("INDEX_100")), report::Text(value));
          } else {
            practice.RLock();
            const std::string old_text = report::Text(practice.FieldGet("INDEX_100"));
            practice.FieldPut("INDEX_100", value);
            report::Updated(p.code, kTable, practice.RecNo(), "INDEX_100", old_text,
                            report::Text(practice.FieldGet("INDEX_100")));
            practice.Unlock();
          }
          modified = true;
        }
      } else {
        RT_LINE();
        if (dry) {
          report::Appended(p.code, kTable, practice.LastRec() + ++dry_appended,
                           rt::RTrim(code + rt::DToS(date)));
        } else {
          practice.Append();
          practice.FieldPut("INDEX_TYP", rt::Value::String(code));
          practice.FieldPut("INDEX_DAT", rt::Value::FromDate(date));
          practice.FieldPut("INDEX_100", value);
          report::Appended(p.code, kTable, practice.RecNo(), report::KeyOf(practice, kTable));
        }
        modified = true;
      }
      RT_LINE();
      reference.Skip();
    }
  }
  RT_LINE();
  practice.Close();
  reference.Close();
  report::Flush();
  progress.Post(text::kIndexReconcile + p.code + (modified ? text::kModified : text::kAlreadyDone));
  NoteStepOk();
  progress.Pump();
  progress.ShowLast();
}

}  // namespace

void KeyLetterStep(const Practice& p, bool due, const Progress& progress) {
  if (due) {
    AppendPass(p, progress);
  } else {
    ReconcilePass(p, progress);
  }
}

}  // namespace tariff
