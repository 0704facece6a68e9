// The index benchmarks of tablebench: seek, append3 and reconcile, run
// through DBServer on real tables (DBF with its structural CDX) written first
// in `dir`, outside the clock. The tables are those of the big installation
// (apps/make_demo/big_tables.h); the work each one times, its random draws
// included, is described in docs/benchmarks.md so that another engine can do
// the same. Shared mode unless `shared` is false; deleted records hidden, as
// the update has them. Each returns its timing; tablebench prints it.
//
// The timed part is bracketed by two calls access("tablebench: clock start")
// and access("tablebench: clock stop") that fail harmlessly, so that a system
// call trace (strace -f) can count what the timed part alone does.
#pragma once

#include <cstdint>
#include <string>

namespace tablebench {

struct IndexBenchResult {
  std::string name;
  bool ok = false;         // the work was done and its outcome checked
  double seconds = 0;      // the timed part only, wall clock
  double cpu_seconds = 0;  // the same part in process CPU time (user + system)
  uint64_t operations = 0;
  std::string note;
};

// Marks the start and the end of a timed part in a system call trace.
void ClockMark(bool start);

// 100 000 seeks of existing keys, drawn at random, in the 1 000 000-record
// key-letter practice table (controlling order TYPDAT).
IndexBenchResult BenchSeek(const std::string& dir, bool shared, uint32_t records = 1000000,
                           uint32_t seeks = 100000);
// AppendDB of a 100 000-record key-letter table (no index) into an empty one
// with three tags.
IndexBenchResult BenchAppend3(const std::string& dir, bool shared, uint32_t records = 100000);
// The key-letter reconcile pass of the update, from the opening of the two
// tables to their closing: the 10 000-record reference against the
// 1 000 000-record practice table (1 000 values to rewrite, 1 000 records to
// add). The changes are then counted from the stored records.
IndexBenchResult BenchReconcile(const std::string& dir, bool shared, uint32_t practice = 1000000);

// What every shared read of an index costs before it looks at a page: the
// index lock taken shared, the change counter read, the lock released; timed
// `calls` times on a scratch file. The floor of `seek` in shared mode.
IndexBenchResult BenchLockProtocol(const std::string& dir, uint32_t calls = 100000);

}  // namespace tablebench
