#include "apps/tablebench/index_bench.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "apps/make_demo/big_tables.h"
#include "platform/file.h"
#include "runtime/convert.h"
#include "runtime/settings.h"
#include "tables/cdx/index.h"
#include "tables/dbf/dbf_field.h"
#include "tables/dbf/table.h"
#include "tables/dbserver.h"

namespace tablebench {
namespace {

using Clock = std::chrono::steady_clock;

// The clock of one timed part: wall and process CPU time (std::clock is the
// process's user + system time on Linux), with the trace marks around it.
class Timer {
 public:
  // Reading the process CPU time is a system call: it stays outside the marks.
  Timer() {
    cpu_ = std::clock();
    ClockMark(true);
    wall_ = Clock::now();
  }
  void Stop(IndexBenchResult* r) {
    r->seconds = std::chrono::duration<double>(Clock::now() - wall_).count();
    ClockMark(false);
    r->cpu_seconds = static_cast<double>(std::clock() - cpu_) / CLOCKS_PER_SEC;
  }

 private:
  Clock::time_point wall_;
  std::clock_t cpu_;
};

// Writes the tables in a child process, so that the memory it takes does not
// count in this process's peak.
bool Made(const std::function<bool(std::string*)>& make) {
  std::fflush(nullptr);
  pid_t child = ::fork();
  if (child == 0) {
    std::string error;
    bool ok = make(&error);
    if (!ok) std::fprintf(stderr, "cannot write the tables: %s\n", error.c_str());
    std::fflush(nullptr);
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) {
    std::fprintf(stderr, "cannot start the process that writes the tables\n");
    return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string Fresh(const std::string& dir, const char* name) {
  std::filesystem::path p = std::filesystem::path(dir) / name;
  std::filesystem::remove_all(p);
  std::filesystem::create_directories(p);
  return p.string();
}

// The lookup key of a key-letter record: the code blank-padded to the field
// width, then the date as DToS gives it.
std::string LetterKey(const demo::LetterRow& row) {
  std::string key = row.code;
  key.resize(4, ' ');
  char date[8];
  tables::FormatDate(row.julian, date);
  key.append(date, 8);
  return key;
}

}  // namespace

void ClockMark(bool start) {
  // The call fails (no such file); only its trace line matters.
  (void)!::access(start ? "tablebench: clock start" : "tablebench: clock stop", F_OK);
}

IndexBenchResult BenchSeek(const std::string& dir, bool shared, uint32_t records, uint32_t seeks) {
  IndexBenchResult result{"seek", false, 0, 0, seeks, ""};
  std::string path = Fresh(dir, "seek") + "/ind_100.dbf";
  if (!Made([&](std::string* error) { return demo::WriteLetterPractice(path, records, error); })) {
    return result;
  }
  // The keys are drawn and made before the clock starts.
  std::mt19937 rng(1);
  std::vector<rt::Value> keys;
  keys.reserve(seeks);
  for (uint32_t n = 0; n < seeks; ++n) {
    uint32_t i = static_cast<uint32_t>(rng() % records);
    keys.push_back(rt::Value::String(LetterKey(demo::PracticeLetter(i))));
  }
  auto db = tables::DBServer::Open(path, shared);
  if (!db) return result;
  uint32_t hits = 0;
  Timer timer;
  for (const rt::Value& key : keys) hits += db->Seek(key);
  timer.Stop(&result);
  db->Close();
  result.ok = hits == seeks;
  result.note = std::to_string(hits) + " found";
  return result;
}

IndexBenchResult BenchAppend3(const std::string& dir, bool shared, uint32_t records) {
  IndexBenchResult result{"append3", false, 0, 0, records, ""};
  std::string at = Fresh(dir, "append3");
  std::string source = at + "/source.dbf", target = at + "/target.dbf";
  bool made = Made([&](std::string* error) {
    // Source record r: the key of practice record rng() % 1 000 000, the
    // value (rng() % 100 000) / 100, the two draws in this order.
    std::mt19937 rng(3);
    std::vector<demo::LetterRow> rows(records);
    for (demo::LetterRow& row : rows) {
      uint32_t i = static_cast<uint32_t>(rng() % 1000000);
      uint32_t cents = static_cast<uint32_t>(rng() % 100000);
      row = demo::PracticeLetter(i);
      row.value = cents / 100.0;
    }
    return demo::CreateFilledTable(
               source, demo::kLetterFields, {}, records,
               [&](uint32_t r, demo::RecordBuilder& b) {
                 b.Char(0, rows[r].code);
                 b.Date(1, rows[r].julian);
                 b.Number(2, rows[r].value);
               },
               error) &&
           demo::CreateTable(target, demo::kLetterFields,
                             {{"TYPDAT", "INDEX_TYP+DTOS(INDEX_DAT)"},
                              {"DAT", "INDEX_DAT"},
                              {"VAL", "INDEX_100"}},
                             error);
  });
  if (!made) return result;
  auto db = tables::DBServer::Open(target, shared);
  if (!db) return result;
  Timer timer;
  bool appended = db->AppendDB(source);
  timer.Stop(&result);
  uint32_t count = db->LastRec();
  db->Close();
  result.ok = appended && count == records;
  result.note = std::to_string(count) + " records in the target";
  return result;
}

IndexBenchResult BenchReconcile(const std::string& dir, bool shared, uint32_t practice) {
  IndexBenchResult result{"reconcile", false, 0, 0, demo::kReferenceLetters, ""};
  std::string at = Fresh(dir, "reconcile");
  std::string practice_path = at + "/ind_100.dbf", reference_path = at + "/ind_1002017.dbf";
  if (!Made([&](std::string* error) {
        return demo::WriteLetterPractice(practice_path, practice, error) &&
               demo::WriteLetterReference(reference_path, practice, error);
      })) {
    return result;
  }
  // The pass as the update runs it, field by field through the work areas.
  Timer timer;
  auto db = tables::DBServer::Open(practice_path, shared);
  auto ref = tables::DBServer::Open(reference_path, shared);
  if (!db || !ref) return result;
  bool modified = false;
  for (ref->GoTop(); !ref->Eof(); ref->Skip()) {
    std::string code = ref->FieldGet("INDEX_TYP").GetString();
    rt::Date date = ref->FieldGet("INDEX_DAT").GetDate();
    double value = ref->FieldGet("INDEX_100").GetFloat();
    if (db->Seek(rt::Value::String(code + rt::DToS(date)))) {
      if (!(ref->FieldGet("INDEX_100") == db->FieldGet("INDEX_100"))) {
        db->RLock();
        db->FieldPut("INDEX_100", rt::Value::Float(value));
        db->Unlock();
        modified = true;
      }
    } else {
      db->Append();
      db->FieldPut("INDEX_TYP", rt::Value::String(code));
      db->FieldPut("INDEX_DAT", rt::Value::FromDate(date));
      db->FieldPut("INDEX_100", rt::Value::Float(value));
      modified = true;
    }
  }
  db->Close();
  ref->Close();
  timer.Stop(&result);

  // What changed, from the stored bytes: every practice record against the
  // one written, and the records beyond them.
  std::unique_ptr<tables::Table> table;
  tables::OpenOptions options;
  options.read_only = true;
  if (!tables::Table::Open(practice_path, options, &table).ok()) return result;
  const tables::FieldDesc& typ =
      table->fields()[static_cast<size_t>(table->FieldIndex("INDEX_TYP"))];
  const tables::FieldDesc& dat =
      table->fields()[static_cast<size_t>(table->FieldIndex("INDEX_DAT"))];
  const tables::FieldDesc& val =
      table->fields()[static_cast<size_t>(table->FieldIndex("INDEX_100"))];
  uint32_t rewritten = 0, damaged = 0;
  std::vector<uint8_t> record(table->record_length());
  for (uint32_t i = 0; i < practice; ++i) {
    if (!table->ReadRecord(i + 1, record.data()).ok()) return result;
    demo::LetterRow row = demo::PracticeLetter(i);
    char want[10];
    tables::FormatNumeric(row.value, val.length, val.decimals, want);
    std::string key(reinterpret_cast<const char*>(record.data() + typ.offset), typ.length);
    key.append(reinterpret_cast<const char*>(record.data() + dat.offset), dat.length);
    if (key != LetterKey(row) || record[0] != ' ') ++damaged;
    if (std::memcmp(record.data() + val.offset, want, val.length) != 0) ++rewritten;
  }
  uint32_t added = table->RecordCount() - practice;
  table.reset();
  // And every reference record now has its value in the practice table.
  uint32_t wrong = 0;
  db = tables::DBServer::Open(practice_path, false, true);
  ref = tables::DBServer::Open(reference_path, false, true);
  if (!db || !ref) return result;
  for (ref->GoTop(); !ref->Eof(); ref->Skip()) {
    std::string key =
        ref->FieldGet("INDEX_TYP").GetString() + rt::DToS(ref->FieldGet("INDEX_DAT").GetDate());
    if (!db->Seek(rt::Value::String(key)) ||
        !(db->FieldGet("INDEX_100") == ref->FieldGet("INDEX_100"))) {
      ++wrong;
    }
  }
  db->Close();
  ref->Close();
  uint32_t want_rewritten = 0;
  for (uint32_t j = 0; j < demo::kReferenceLetters; ++j)
    want_rewritten += demo::ReferenceLetterChanged(j);
  result.ok = modified && rewritten == want_rewritten &&
              added == demo::kReferenceLetters - demo::kSharedLetters && damaged == 0 && wrong == 0;
  result.note = std::to_string(rewritten) + " rewritten, " + std::to_string(added) + " added, " +
                std::to_string(damaged) + " keys damaged, " + std::to_string(wrong) +
                " reference values missing";
  return result;
}

IndexBenchResult BenchLockProtocol(const std::string& dir, uint32_t calls) {
  IndexBenchResult result{"locks", false, 0, 0, calls, ""};
  std::string path = Fresh(dir, "locks") + "/locks.cdx";
  std::unique_ptr<platform::File> file;
  platform::OsStatus s =
      platform::OpenFile(path, platform::Access::kReadWrite, platform::Share::kDenyNone,
                         platform::Disposition::kCreateAlways, 0x80, &file);
  std::vector<uint8_t> page(1024, 0);
  if (!s.ok() || !file->WriteAt(0, page.data(), page.size()).ok()) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return result;
  }
  tables::IndexOptions options;  // the lock byte of the default scheme
  Timer timer;
  for (uint32_t i = 0; i < calls; ++i) {
    uint8_t counter[8];
    size_t got = 0;
    if (!file->Lock(options.lock_offset, options.lock_length, platform::LockKind::kShared, false)
             .ok() ||
        !file->ReadAt(4, counter, sizeof counter, &got).ok() ||
        !file->Unlock(options.lock_offset, options.lock_length).ok()) {
      std::fprintf(stderr, "lock protocol failed\n");
      return result;
    }
  }
  timer.Stop(&result);
  result.ok = true;
  return result;
}

}  // namespace tablebench
