// The key-letter step: the 2017 key-letter index appended once to the
// practice's ind_100.dbf (append pass, "index" marker on success), then on
// every later run reconciled record by record with the reference (reconcile
// pass: changed values updated under a record lock, missing records added).
#include "runtime/activation.h"
#include "runtime/convert.h"
#include "runtime/error.h"
#include "tariff/db.h"
#include "tariff/outcome.h"
#include "tariff/steps.h"
#include "tariff/texts.h"

namespace tariff {
namespace {

constexpr char kLookupKey[] = "INDEX_TYP+DTOS(INDEX_DAT)";

void AppendPass(const Practice& p, const Progress& progress) {
  RT_LINE();
  Db table(p.table_dir + "ind_100.dbf");
  RT_LINE();
  if (table.AppendDB(p.program_dir + "ind_1002017.dbf")) {
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
  bool modified = false;
  const std::string practice_path = p.table_dir + "ind_100.dbf";
  RT_LINE();
  Db practice(practice_path);
  RT_LINE();
  Db reference(p.program_dir + "ind_1002017.dbf");
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
          practice.RLock();
          practice.FieldPut("INDEX_100", value);
          practice.Unlock();
          modified = true;
        }
      } else {
        RT_LINE();
        practice.Append();
        practice.FieldPut("INDEX_TYP", rt::Value::String(code));
        practice.FieldPut("INDEX_DAT", rt::Value::FromDate(date));
        practice.FieldPut("INDEX_100", value);
        modified = true;
      }
      RT_LINE();
      reference.Skip();
    }
  }
  RT_LINE();
  practice.Close();
  reference.Close();
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
