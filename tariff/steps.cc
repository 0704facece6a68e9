// What the two steps share: the update lock, the marker checks and the held
// append committed with its marker.
#include "tariff/steps.h"

#include <optional>

#include "platform/profile.h"
#include "runtime/activation.h"
#include "runtime/error.h"
#include "tariff/db.h"
#include "tariff/outcome.h"
#include "tariff/report.h"
#include "tariff/run_options.h"
#include "tariff/texts.h"
#include "tariff/update_lock.h"

namespace tariff {
namespace {

rt::ErrorInfo MarkerError(const Practice& p, uint32_t gen_code, uint32_t os_code) {
  rt::ErrorInfo e;
  e.subsystem = "INIFILE";
  e.gen_code = gen_code;
  e.os_code = os_code;
  e.severity = 2;
  e.operation = "WriteString";
  e.description = rt::ErrString(gen_code);
  e.file_name = p.config_path;
  e.can_default = true;
  return e;
}

}  // namespace

void PostFailed(const std::string& line, const Progress& progress) {
  progress.Post(line);
  NoteStepFailed();
  progress.Pump();
  progress.ShowLast();
}

void PostDone(const std::string& line, const Progress& progress) {
  progress.Post(line);
  NoteStepOk();
  progress.Pump();
  progress.ShowLast();
}

bool MarkerSet(const Practice& p, const char* key) {
  ini::IniFile fresh(p.config_path);
  return fresh.GetString("2017", key) == "1";
}

bool MarkerWritable(const Practice& p) {
  RT_LINE();
  // The probe makes a file in the practice directory: not in a dry run.
  if (DryRun()) return true;
  auto outcome = rt::RunWithErrorProtocol([&]() -> std::optional<rt::ErrorInfo> {
    uint32_t code = platform::ProfileWriteObstacle(p.config_path.c_str());
    if (code == 0) return std::nullopt;
    rt::ErrorInfo e = MarkerError(p, rt::kGenCreate, code);
    e.can_retry = true;
    return e;
  });
  return !outcome.has_value();
}

void AppendWithMarker(const Db& table, const std::string& source, const Practice& p,
                      const char* key, const std::string& head, const Progress& progress) {
  RT_LINE();
  const char* table_name = report::TableOfMarker(key);
  if (DryRun()) {
    report::ReportWouldAppend(p.code, table, table_name, source);
    PostDone(head + p.code + text::kSucceeded, progress);
    return;
  }
  const uint32_t before = table.LastRec();
  RT_LINE();
  if (!table.AppendDBHeld(source, p.config_path, key)) {
    PostFailed(head + p.code + text::kFailed, progress);
    return;
  }
  RT_LINE();
  p.config->WriteString("2017", key, "1");
  if (MarkerSet(p, key)) {
    RT_LINE();
    if (table.CommitAppend()) {
      report::ReportAppended(p.code, table, table_name, before);
      PostDone(head + p.code + text::kSucceeded, progress);
    } else {
      // The marker stands, so the next open keeps the records; but this run
      // cannot say it finished them.
      PostFailed(head + p.code + text::kFailed, progress);
    }
    return;
  }
  RT_LINE();
  table.RollbackAppend();
  // Should the "1" have reached the file after all (only its reading failed),
  // it must not stand for records that are gone.
  p.config->WriteString("2017", key, "");
  PostFailed(head + p.code + text::kFailed, progress);
  rt::RaiseError(
      MarkerError(p, rt::kGenWrite, platform::ProfileWriteObstacle(p.config_path.c_str())));
}

std::unique_ptr<UpdateLock> LockPractice(const Practice& p, const std::string& head,
                                         const Progress& progress) {
  RT_LINE();
  auto lock = std::make_unique<UpdateLock>(p.table_dir);
  switch (lock->result()) {
    case UpdateLock::Result::kHeld:
      return lock;
    case UpdateLock::Result::kBusy:
      PostFailed(head + p.code + text::kFailed + text::kBusy, progress);
      return nullptr;
    case UpdateLock::Result::kCannotOpen:
      break;
  }
  PostFailed(head + p.code + text::kFailed, progress);
  rt::ErrorInfo e;
  e.subsystem = "BASE";
  e.gen_code = rt::kGenCreate;
  e.os_code = lock->os_code();
  e.operation = "FCreate";
  e.description = rt::ErrString(rt::kGenCreate);
  e.file_name = lock->path();
  e.can_default = true;
  rt::RaiseError(e);
  return nullptr;
}

}  // namespace tariff
