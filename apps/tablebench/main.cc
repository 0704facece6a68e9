// tablebench: speed of the table service on generated tables.
//   tablebench append [--records 100000]   AppendDB of a whole source table into
//                                          an empty target opened shared
//   tablebench scan [--records 1000000]    every field of every record decoded
//   tablebench [--exclusive] seek | append3 | reconcile
//                                          the index benchmarks (index_bench.h)
//   tablebench locks                       the shared-mode lock protocol alone
// Prints records per second and the peak resident memory; exits 1 when the
// work failed or its outcome was not the expected one. The timed part of every
// subcommand is marked for system call traces (ClockMark, index_bench.h);
// scripts/bench-update counts its calls. docs/benchmarks.md describes the work.
#include <sys/resource.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "apps/tablebench/index_bench.h"
#include "platform/file.h"
#include "runtime/error.h"
#include "runtime/settings.h"
#include "tables/dbf/dbf_create.h"
#include "tables/dbf/dbf_field.h"
#include "tables/dbf/table.h"
#include "tables/dbf_value.h"
#include "tables/dbserver.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::vector<tables::FieldSpec> kFields = {{"INDEX_TYP", 'C', 4, 0},
                                                {"INDEX_DAT", 'D', 8, 0},
                                                {"INDEX_100", 'N', 10, 2},
                                                {"LIBELLE", 'C', 30, 0},
                                                {"ACTIF", 'L', 1, 0}};

long PeakKb() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

// Writes a table of n records in one pass, as fast as the disk takes it.
bool Generate(const std::string& path, uint32_t n) {
  if (!tables::CreateTable(path, 0x03, kFields).ok()) return false;
  std::unique_ptr<tables::Table> t;
  tables::OpenOptions o;
  o.shared = false;
  if (!tables::Table::Open(path, o, &t).ok()) return false;
  const uint32_t r = t->record_length();
  const uint32_t chunk = 8192;
  std::vector<uint8_t> buf(static_cast<size_t>(chunk) * r);
  if (!t->BeginAppend().ok()) return false;
  for (uint32_t done = 0; done < n;) {
    uint32_t k = std::min(chunk, n - done);
    for (uint32_t i = 0; i < k; ++i) {
      uint32_t id = done + i;
      char* p = reinterpret_cast<char*>(buf.data()) + static_cast<size_t>(i) * r;
      std::memset(p, ' ', r);
      char code[8];
      std::snprintf(code, sizeof code, "%c%u", 'A' + id % 26, id % 100);
      std::memcpy(p + 1, code, std::strlen(code));
      tables::FormatDate(tables::JulianFromYmd(2000 + id % 20, 1 + id % 12, 1 + id % 28), p + 5);
      tables::FormatNumeric((id % 100000) / 100.0, 10, 2, p + 13);
      std::memcpy(p + 23, "libelle de l'acte", 17);
      p[53] = id % 3 ? 'T' : 'F';
    }
    uint32_t first = 0;
    if (!t->AppendRecords(buf.data(), k, false, &first).ok()) return false;
    done += k;
  }
  t->EndAppend();
  return t->Close().ok();
}

int Append(uint32_t n, const std::string& dir) {
  std::string source = dir + "/source.dbf", target = dir + "/target.dbf";
  if (!Generate(source, n) || !tables::CreateTable(target, 0x03, kFields).ok()) {
    std::fprintf(stderr, "cannot create the tables in %s\n", dir.c_str());
    return 1;
  }
  auto s = tables::DBServer::Open(target, true);
  if (!s) return 1;
  std::clock_t cpu = std::clock();
  tablebench::ClockMark(true);
  auto start = Clock::now();
  bool ok = s->AppendDB(source);
  double secs = std::chrono::duration<double>(Clock::now() - start).count();
  tablebench::ClockMark(false);
  double cpu_secs = static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
  if (!ok || s->LastRec() != n) {
    std::fprintf(stderr, "append failed\n");
    return 1;
  }
  std::printf("append: %u records in %.3f s (%.3f s CPU) = %.0f records/s, peak memory %ld KB\n", n,
              secs, cpu_secs, n / secs, PeakKb());
  return 0;
}

int Scan(uint32_t n, const std::string& dir, bool values) {
  std::string path = dir + "/scan.dbf";
  if (!Generate(path, n)) return 1;
  std::unique_ptr<tables::Table> t;
  tables::OpenOptions o;
  o.read_only = true;
  if (!tables::Table::Open(path, o, &t).ok()) return 1;
  const uint32_t r = t->record_length();
  const uint32_t chunk = 4096;
  std::vector<uint8_t> buf(static_cast<size_t>(chunk) * r);
  double checksum = 0;
  uint64_t text_bytes = 0;
  std::clock_t cpu = std::clock();
  tablebench::ClockMark(true);
  auto start = Clock::now();
  for (uint32_t next = 1; next <= t->RecordCount();) {
    uint32_t got = 0;
    if (!t->ReadRecords(next, chunk, buf.data(), &got).ok() || got == 0) return 1;
    for (uint32_t i = 0; i < got; ++i) {
      const uint8_t* rec = buf.data() + static_cast<size_t>(i) * r;
      for (size_t fi : t->visible_fields()) {
        const tables::FieldDesc& f = t->fields()[fi];
        if (values) {
          rt::Value v;
          tables::FieldGetValue(*t, fi, rec, &v);
          checksum += v.IsNumeric() ? v.GetFloat() : v.IsDate() ? v.GetDate().julian : 0;
          text_bytes += v.GetString().size();
          continue;
        }
        std::string_view raw(reinterpret_cast<const char*>(rec) + f.offset, f.length);
        switch (f.type) {
          case 'N': {
            double d = 0;
            bool blank = false;
            tables::ParseNumeric(raw, &d, &blank);
            checksum += d;
            break;
          }
          case 'D': {
            int32_t j = 0;
            tables::ParseDate(raw, &j);
            checksum += j;
            break;
          }
          case 'L':
            checksum += tables::ParseLogical(rec[f.offset]) == 1;
            break;
          default:
            text_bytes += raw.size();
        }
      }
    }
    next += got;
  }
  double secs = std::chrono::duration<double>(Clock::now() - start).count();
  tablebench::ClockMark(false);
  double cpu_secs = static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
  std::printf(
      "scan%s: %u records in %.3f s (%.3f s CPU) = %.0f records/s, peak memory %ld KB "
      "(check %.0f/%llu)\n",
      values ? " (runtime values)" : "", t->RecordCount(), secs, cpu_secs, t->RecordCount() / secs,
      PeakKb(), checksum, static_cast<unsigned long long>(text_bytes));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("tablebench: speed of the table service");
  app.require_subcommand(1);
  uint32_t records = 0;
  bool values = false;
  std::string dir = (std::filesystem::temp_directory_path() / "tablebench").string();
  auto* append = app.add_subcommand("append", "AppendDB of a whole table, shared");
  append->add_option("--records", records, "source records (100000)");
  auto* scan = app.add_subcommand("scan", "decode every field of every record");
  scan->add_option("--records", records, "records (1000000)");
  scan->add_flag("--values", values, "decode into runtime values");
  auto* seek = app.add_subcommand("seek", "random seeks in a two-tag bag");
  auto* append3 = app.add_subcommand("append3", "AppendDB into a table with three tags");
  auto* reconcile = app.add_subcommand("reconcile", "the key-letter reconcile pass");
  auto* locks = app.add_subcommand("locks", "the shared-mode lock protocol of one index read");
  app.add_option("--dir", dir, "where the scratch directory goes");
  bool exclusive = false;
  app.add_flag("--exclusive", exclusive,
               "index benchmarks on tables opened exclusively (no lock per call)");
  CLI11_PARSE(app, argc, argv);
  // The tables go into a directory of this run's own, which goes at the end;
  // whatever else `dir` holds stays.
  std::filesystem::path scratch =
      std::filesystem::path(dir) / ("tablebench." + std::to_string(::getpid()));
  std::filesystem::create_directories(scratch);
  dir = scratch.string();
  // No error block: failures print and end the run. Deleted records are
  // hidden, as in the update.
  rt::SetDeleted(true);
  int rc = 0;
  if (*append) rc = Append(records ? records : 100000, dir);
  if (*scan) rc = Scan(records ? records : 1000000, dir, values);
  for (auto* sub : {seek, append3, reconcile, locks}) {
    if (!*sub) continue;
    bool shared = !exclusive;
    tablebench::IndexBenchResult r = sub == seek        ? tablebench::BenchSeek(dir, shared)
                                     : sub == append3   ? tablebench::BenchAppend3(dir, shared)
                                     : sub == reconcile ? tablebench::BenchReconcile(dir, shared)
                                                        : tablebench::BenchLockProtocol(dir);
    std::printf("%s (%s): %llu operations in %.3f s (%.3f s CPU), peak memory %ld KB%s%s\n",
                r.name.c_str(), shared ? "shared" : "exclusive",
                static_cast<unsigned long long>(r.operations), r.seconds, r.cpu_seconds, PeakKb(),
                r.note.empty() ? "" : ", ", r.note.c_str());
    if (!r.ok) {
      std::fprintf(stderr, "%s: failed\n", r.name.c_str());
      rc = 1;
    }
  }
  std::filesystem::remove_all(scratch);
  return rc;
}
