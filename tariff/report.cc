#include "tariff/report.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/file.h"
#include "platform/local_time.h"
#include "runtime/convert.h"
#include "runtime/error.h"
#include "tables/dbf/table.h"
#include "tables/dbf_value.h"
#include "tariff/outcome.h"
#include "tariff/run_options.h"

namespace tariff::report {
namespace {

// Every write holds this byte (far beyond any real report's end) for the
// moment it takes, so that the lines of two runs never interleave.
constexpr uint64_t kWriteLockOffset = 0x7FFFFFFE;
// Rows of committed changes are written together, at the end of a step or
// when this many bytes wait.
constexpr size_t kBatchBytes = 64 << 10;

struct Report {
  std::unique_ptr<platform::File> file;
  std::string path;
  std::string run;        // the run's start stamp
  bool broken = false;    // a write failed: no further rows, the run is tallied as failed
  std::string unwritten;  // lines of committed changes, not written yet
};

Report& Current() {
  static auto* report = new Report;
  return *report;
}

std::string Stamp() {
  const platform::LocalTime t = platform::LocalNow();
  char text[80] = {};
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

// Raises a failure of the report file; true when the answer was "retry".
bool RaiseReportError(rt::GenCode code, const char* operation, platform::OsStatus os,
                      const std::string& path) {
  rt::ErrorInfo e;
  e.subsystem = "TARIF2017";
  e.gen_code = code;
  e.os_code = os.code();
  e.severity = 2;
  e.operation = operation;
  e.description = "Change report not written";
  e.file_name = path;
  e.can_default = true;
  e.can_retry = true;
  return rt::RaiseError(e).answer == rt::ErrorAnswer::kRetry;
}

platform::OsStatus WriteLocked(platform::File* file, const std::string& lines) {
  platform::OsStatus st = platform::LockWithin(
      file, kWriteLockOffset, 1, platform::LockKind::kExclusive, platform::kLockPatience);
  if (!st.ok()) return st;
  uint64_t size = 0;
  st = file->Size(&size);
  if (st.ok()) {
    std::string text = size == 0 ? std::string(kHeader) + "\r\n" + lines : lines;
    if (!text.empty()) st = file->WriteAt(size, text.data(), text.size());
  }
  file->Unlock(kWriteLockOffset, 1);
  return st;
}

// Writes the waiting lines in one locked write.
void WriteOut() {
  Report& r = Current();
  if (!r.file || r.broken || r.unwritten.empty()) return;
  for (;;) {
    platform::OsStatus st = WriteLocked(r.file.get(), r.unwritten);
    if (st.ok()) {
      r.unwritten.clear();
      return;
    }
    if (!RaiseReportError(rt::kGenWrite, "WRITE", st, r.path)) break;
  }
  r.broken = true;
  r.unwritten.clear();
  NoteStepFailed();
}

// The program quits (the tables close): the waiting lines go out if they can,
// without asking anyone.
void WriteOutOnQuit() {
  Report& r = Current();
  if (!r.file || r.broken || r.unwritten.empty()) return;
  if (WriteLocked(r.file.get(), r.unwritten).ok()) r.file->Flush();
  r.unwritten.clear();
}

// Queues the line of a committed change.
void Write(const std::string& line) {
  Report& r = Current();
  if (!r.file || r.broken) return;
  r.unwritten += line;
  if (r.unwritten.size() >= kBatchBytes) WriteOut();
}

void Row(const std::string& practice, const char* table, const char* action, uint32_t recno,
         const std::string& field, const std::string& old_text, const std::string& new_text) {
  Report& r = Current();
  if (!r.file || r.broken) return;
  Write(
      CsvLine({r.run, practice, table, action, std::to_string(recno), field, old_text, new_text}));
}

bool IsTarif(const char* table) { return std::string(table).rfind("tarif", 0) == 0; }

}  // namespace

std::string CsvLine(const std::vector<std::string>& cells) {
  std::string line;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i) line.push_back(';');
    const std::string& c = cells[i];
    if (c.find_first_of(";\"\r\n") == std::string::npos) {
      line += c;
      continue;
    }
    line.push_back('"');
    for (char ch : c) {
      if (ch == '"') line.push_back('"');
      line.push_back(ch);
    }
    line.push_back('"');
  }
  line += "\r\n";
  return line;
}

bool BeginRun(const std::string& program_dir) {
  static const bool hooked = (rt::AddCloseAllHook(WriteOutOnQuit), true);
  (void)hooked;
  Report& r = Current();
  r = Report();
  r.run = Stamp();
  const RunOptions& options = CurrentRunOptions();
  if (options.dry_run && options.report_path.empty()) return false;
  r.path = options.report_path.empty() ? program_dir + kFileName : options.report_path;
  for (;;) {
    platform::OsStatus st =
        platform::OpenFile(r.path, platform::Access::kReadWrite, platform::Share::kDenyNone,
                           platform::Disposition::kOpenAlways, 0x20, &r.file);
    if (st.ok()) st = WriteLocked(r.file.get(), "");  // the header of a new file
    if (st.ok()) return true;
    r.file.reset();
    if (!RaiseReportError(rt::kGenOpen, "OPEN", st, r.path)) break;
  }
  NoteStepFailed();
  return false;
}

void EndRun() {
  Flush();
  Current().file.reset();
}

void Appended(const std::string& practice, const char* table, uint32_t recno,
              const std::string& key) {
  Row(practice, table, "append", recno, "", "", key);
}

void Updated(const std::string& practice, const char* table, uint32_t recno, const char* field,
             const std::string& old_text, const std::string& new_text) {
  Row(practice, table, "update", recno, field, old_text, new_text);
}

void Flush() {
  WriteOut();
  Report& r = Current();
  if (!r.file || r.broken) return;
  for (;;) {
    platform::OsStatus st = r.file->Flush();
    if (st.ok()) return;
    if (!RaiseReportError(rt::kGenWrite, "FLUSH", st, r.path)) break;
  }
  r.broken = true;
  NoteStepFailed();
}

std::string Text(const rt::Value& value) {
  if (value.IsString()) return rt::RTrim(value.GetString());
  if (value.IsDate()) return rt::RTrim(rt::DToS(value.GetDate()));
  if (value.IsNumeric()) return rt::NTrim(value);
  if (value.IsLogic()) return value.GetLogic() ? "T" : "F";
  return rt::RTrim(rt::AsString(value));
}

std::string KeyOf(const Db& db, const char* table) {
  const bool tarif = IsTarif(table);
  rt::Value code = db.FieldGet(tarif ? "CODE" : "INDEX_TYP");
  rt::Value date = db.FieldGet(tarif ? "DATE_EFF" : "INDEX_DAT");
  return rt::RTrim(rt::AsString(code) +
                   (date.IsDate() ? rt::DToS(date.GetDate()) : rt::AsString(date)));
}

namespace {

// The rows of records first..last of the table at path, read from a handle
// of its own, many records a read. False when the table cannot be read so
// (nothing was reported then).
bool ReportAppendedInBulk(const std::string& practice, const std::string& path, const char* table,
                          uint32_t first, uint32_t last) {
  tables::OpenOptions options;
  options.shared = true;
  options.read_only = true;
  std::unique_ptr<tables::Table> t;
  if (!tables::Table::Open(path, options, &t).ok()) return false;
  const bool tarif = IsTarif(table);
  const int code_field = t->FieldIndex(tarif ? "CODE" : "INDEX_TYP");
  const int date_field = t->FieldIndex(tarif ? "DATE_EFF" : "INDEX_DAT");
  if (code_field < 0 || date_field < 0) return false;
  const uint32_t length = t->record_length();
  const uint32_t slice = std::max<uint32_t>(1, (64u << 10) / std::max<uint32_t>(1, length));
  std::vector<uint8_t> buffer;
  std::vector<std::string> keys;
  for (uint32_t at = first; at <= last;) {
    const uint32_t want = std::min(slice, last - at + 1);
    buffer.resize(static_cast<size_t>(want) * length);
    uint32_t got = 0;
    if (!t->ReadRecords(at, want, buffer.data(), &got).ok() || got == 0) return false;
    for (uint32_t i = 0; i < got; ++i) {
      const uint8_t* record = buffer.data() + static_cast<size_t>(i) * length;
      rt::Value code, date;
      if (!tables::FieldGetValue(*t, static_cast<size_t>(code_field), record, &code).ok() ||
          !tables::FieldGetValue(*t, static_cast<size_t>(date_field), record, &date).ok()) {
        return false;
      }
      keys.push_back(rt::RTrim(rt::AsString(code) +
                               (date.IsDate() ? rt::DToS(date.GetDate()) : rt::AsString(date))));
    }
    at += got;
  }
  for (uint32_t recno = first; recno <= last; ++recno) {
    Appended(practice, table, recno, keys[recno - first]);
  }
  return true;
}

}  // namespace

void ReportAppended(const std::string& practice, const Db& db, const char* table, uint32_t before) {
  if (!Current().file) return;
  const uint32_t last = db.LastRec();
  if (last <= before || ReportAppendedInBulk(practice, db.path(), table, before + 1, last)) {
    return;
  }
  for (uint32_t recno = before + 1; recno <= last; ++recno) {
    db.GoTo(recno);
    Appended(practice, table, recno, KeyOf(db, table));
  }
}

const char* TableOfMarker(const char* key) {
  return std::string(key) == "tarif" ? "tarif.dbf" : "ind_100.dbf";
}

uint32_t ReportWouldAppend(const std::string& practice, const Db& db, const char* table,
                           const std::string& source) {
  Db from(source, true);
  if (!from.opened()) return 0;
  from.SetOrder(0);  // AppendDB copies in physical order
  uint32_t recno = db.LastRec();
  uint32_t count = 0;
  from.GoTop();
  while (!from.Eof()) {
    ++count;
    Appended(practice, table, ++recno, KeyOf(from, table));
    from.Skip();
  }
  from.Close();
  return count;
}

}  // namespace tariff::report
