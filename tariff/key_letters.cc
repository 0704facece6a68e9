// The key-letter step: the 2017 key-letter index appended once to the
// practice's ind_100.dbf (append pass, committed with the "index" marker),
// then on every later run reconciled record by record with the reference
// (reconcile pass: changed values updated under a record lock, missing records
// added). Both passes run under the practice's update lock.
#include <cmath>
#include <cstdio>
#include <optional>

#include "runtime/activation.h"
#include "runtime/convert.h"
#include "runtime/error.h"
#include "tariff/db.h"
#include "tariff/report.h"
#include "tariff/run_options.h"
#include "tariff/steps.h"
#include "tariff/texts.h"
#include "tariff/update_lock.h"

namespace tariff {
namespace {

constexpr char kLookupKey[] = "INDEX_TYP+DTOS(INDEX_DAT)";
constexpr char kTable[] = "ind_100.dbf";

void AppendPass(const Practice& p, const Progress& progress) {
  RT_LINE();
  if (!MarkerWritable(p)) {
    PostFailed(text::kIndexAdd + p.code + text::kFailed, progress);
    return;
  }
  RT_LINE();
  Db table(p.table_dir + kTable, DryRun());
  if (!table.opened()) {
    PostFailed(text::kIndexAdd + p.code + text::kFailed, progress);
    return;
  }
  AppendWithMarker(table, p.program_dir + "ind_1002017.dbf", p, "index", text::kIndexAdd, progress);
  RT_LINE();
  table.Close();
  report::Flush();
}

rt::ErrorInfo TableError(uint32_t gen_code, const std::string& path, const std::string& what) {
  rt::ErrorInfo e;
  e.subsystem = "DBFCDX";
  e.gen_code = gen_code;
  e.severity = 2;
  e.description = what;
  e.file_name = path;
  e.can_default = true;
  return e;
}

// Seeking on any other order would find nothing and append every reference
// record again, so the pass refuses to run without the lookup order.
bool EnsureLookupOrder(const Db& table, const std::string& path) {
  if (table.UseOrderKeyedOn(kLookupKey)) return true;
  rt::ErrorInfo e =
      TableError(rt::kGenNoOrder, path, std::string("No order keyed on ") + kLookupKey);
  e.operation = "Seek";
  rt::RaiseError(e);
  return false;
}

// The three fields of the pass with the kinds it reads and writes. A numeric
// value read from a character field would be 0.00 and overwrite every value
// of the practice; a code narrower or wider than the reference's would never
// be found by the seek, and every reference record would be added again.
bool FieldsFit(const Db& practice, const std::string& practice_path, const Db& reference,
               const std::string& reference_path) {
  struct Expected {
    const char* name;
    char type;
  };
  static constexpr Expected kFields[] = {
      {"INDEX_TYP", 'C'}, {"INDEX_DAT", 'D'}, {"INDEX_100", 'N'}};
  const auto practice_fields = practice.Structure();
  const auto reference_fields = reference.Structure();
  for (const auto& [fields, path] : {std::pair{&practice_fields, &practice_path},
                                     std::pair{&reference_fields, &reference_path}}) {
    for (const Expected& x : kFields) {
      auto it = fields->find(x.name);
      char type = it == fields->end() ? 0 : it->second.type;
      if (type == x.type || (x.type == 'N' && type == 'F')) continue;
      std::string what = std::string(x.name) + ": " +
                         (it == fields->end() ? std::string("missing field")
                                              : std::string("field of type ") + type) +
                         ", expected " +
                         (x.type == 'C'   ? "character"
                          : x.type == 'D' ? "date"
                                          : "numeric");
      rt::ErrorInfo e = TableError(rt::kGenDataType, *path, what);
      e.operation = "FieldGet";
      rt::RaiseError(e);
      return false;
    }
  }
  if (practice_fields.at("INDEX_TYP").length != reference_fields.at("INDEX_TYP").length) {
    rt::ErrorInfo e = TableError(
        rt::kGenDataWidth, practice_path,
        "INDEX_TYP: width " + std::to_string(practice_fields.at("INDEX_TYP").length) +
            ", the reference's is " + std::to_string(reference_fields.at("INDEX_TYP").length));
    e.operation = "Seek";
    rt::RaiseError(e);
    return false;
  }
  return true;
}

// True when every reference value fits the practice's INDEX_100 field; else
// raises a width error (nothing is written yet).
bool ValuesFit(const Db& practice, const std::string& practice_path, const Db& reference) {
  const Db::FieldShape shape = practice.Structure().at("INDEX_100");
  // Every visible record in the file's order (no index reads on the way);
  // the pass walks the controlling order, put back afterwards.
  const std::string order = reference.SetOrder(0);
  reference.GoTop();
  while (!reference.Eof()) {
    double v = reference.FieldGet("INDEX_100").GetFloat();
    char text[64];
    int n = std::snprintf(text, sizeof text, "%.*f", static_cast<int>(shape.decimals), v);
    if (n < 0 || static_cast<uint32_t>(n) > shape.length || !std::isfinite(v)) {
      rt::ErrorInfo e =
          TableError(rt::kGenDataWidth, practice_path,
                     std::string("INDEX_100: ") + text + " does not fit " +
                         std::to_string(shape.length) + "." + std::to_string(shape.decimals));
      e.operation = "FieldPut";
      rt::RaiseError(e);
      reference.RestoreOrder(order);
      return false;
    }
    reference.Skip();
  }
  reference.RestoreOrder(order);
  return true;
}

enum class Reconciled { kUnchanged, kModified, kFailed };

// Walks the reference and brings the practice table in line with it; in a dry
// run only reports what it would change.
Reconciled Reconcile(const std::string& code_of_practice, const Db& practice, const Db& reference) {
  RT_LINE();
  const bool dry = DryRun();
  uint32_t dry_appended = 0;  // records a real run would have added by now
  bool modified = false;
  bool failed = false;
  reference.GoTop();
  while (!reference.Eof()) {
    RT_LINE();
    std::string code = rt::AsString(reference.FieldGet("INDEX_TYP"));
    rt::Date date = reference.FieldGet("INDEX_DAT").GetDate();
    rt::Value ref_value = reference.FieldGet("INDEX_100");
    rt::Value value = rt::Value::Float(ref_value.GetFloat(), ref_value.decimals());
    RT_LINE();
    const bool found = practice.Seek(code + rt::DToS(date));
    if (found) {
      if (!(reference.FieldGet("INDEX_100") == practice.FieldGet("INDEX_100"))) {
        RT_LINE();
        modified = true;
        if (dry) {
          report::Updated(code_of_practice, kTable, practice.RecNo(), "INDEX_100",
                          report::Text(practice.FieldGet("INDEX_100")), report::Text(value));
        } else {
          practice.RLock();
          const std::string old_text = report::Text(practice.FieldGet("INDEX_100"));
          practice.FieldPut("INDEX_100", value);
          practice.Unlock();  // the record is written here
          // A write the table service refused (and reported) leaves the old value.
          const rt::Value stored = practice.FieldGet("INDEX_100");
          if (!(stored == reference.FieldGet("INDEX_100"))) {
            failed = true;
          } else {
            report::Updated(code_of_practice, kTable, practice.RecNo(), "INDEX_100", old_text,
                            report::Text(stored));
          }
        }
      }
    } else {
      RT_LINE();
      if (dry) {
        report::Appended(code_of_practice, kTable, practice.LastRec() + ++dry_appended,
                         rt::RTrim(code + rt::DToS(date)));
      } else {
        // The record is written, with its keys, when Unlock ends its
        // transaction; a refused write (reported by the table service) undoes
        // the whole record and fails the step.
        if (practice.Append()) {
          practice.FieldPut("INDEX_TYP", rt::Value::String(code));
          practice.FieldPut("INDEX_DAT", rt::Value::FromDate(date));
          practice.FieldPut("INDEX_100", value);
          if (practice.Unlock()) {
            report::Appended(code_of_practice, kTable, practice.RecNo(),
                             report::KeyOf(practice, kTable));
          } else {
            failed = true;
          }
        } else {
          failed = true;
        }
      }
      modified = true;
    }
    RT_LINE();
    reference.Skip();
  }
  if (failed) return Reconciled::kFailed;
  return modified ? Reconciled::kModified : Reconciled::kUnchanged;
}

void ReconcilePass(const Practice& p, const Progress& progress) {
  RT_LINE();
  const std::string head = text::kIndexReconcile + p.code;
  const std::string practice_path = p.table_dir + kTable;
  const std::string reference_path = p.program_dir + "ind_1002017.dbf";
  RT_LINE();
  Db practice(practice_path, DryRun());
  if (!practice.opened()) {
    PostFailed(head + text::kFailed, progress);
    return;
  }
  RT_LINE();
  Db reference(reference_path, DryRun());
  if (!reference.opened()) {
    practice.Close();
    PostFailed(head + text::kFailed, progress);
    return;
  }
  RT_LINE();
  Reconciled result = Reconciled::kFailed;
  if (FieldsFit(practice, practice_path, reference, reference_path) &&
      EnsureLookupOrder(practice, practice_path) && ValuesFit(practice, practice_path, reference)) {
    result = Reconcile(p.code, practice, reference);
  }
  RT_LINE();
  practice.Close();
  reference.Close();
  report::Flush();
  switch (result) {
    case Reconciled::kFailed:
      PostFailed(head + text::kFailed, progress);
      break;
    case Reconciled::kModified:
      PostDone(head + text::kModified, progress);
      break;
    case Reconciled::kUnchanged:
      PostDone(head + text::kAlreadyDone, progress);
      break;
  }
}

}  // namespace

void KeyLetterStep(const Practice& p, bool due, const Progress& progress) {
  RT_LINE();
  RT_LINE();
  std::unique_ptr<UpdateLock> lock;  // a dry run takes no lock
  if (!DryRun() &&
      !(lock = LockPractice(p, due ? text::kIndexAdd : text::kIndexReconcile, progress))) {
    return;
  }
  // Another run may have done the append pass while this one waited.
  if (due && !MarkerSet(p, "index")) {
    AppendPass(p, progress);
  } else {
    ReconcilePass(p, progress);
  }
}

}  // namespace tariff
