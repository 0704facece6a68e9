// The index benchmarks of tablebench: seek, append3 and reconcile, run on the
// index layer alone (record bytes made in memory, keys kept in real CDX files
// in `dir`, shared mode with the index lock taken as the table takes it).
// Each returns its timing; tablebench prints it.
#pragma once

#include <cstdint>
#include <string>

namespace tablebench {

struct IndexBenchResult {
  std::string name;
  double seconds = 0;      // the measured part only (not the set-up), wall clock
  double cpu_seconds = 0;  // the same part in process CPU time (user + system)
  uint64_t operations = 0;
  std::string note;
};

// `shared` false opens the bags exclusively: no index lock and no re-read of
// the change counter per call, which shows the engine's own share of the time.

// 100 000 random existing keys sought in a 1 000 000-record two-tag bag.
IndexBenchResult BenchSeek(const std::string& dir, bool shared, uint32_t records = 1000000,
                           uint32_t seeks = 100000);
// 100 000 records appended (one batch, as AppendDB does) to a three-tag bag.
IndexBenchResult BenchAppend3(const std::string& dir, bool shared, uint32_t records = 100000);
// The key-letter reconcile loop: 10 000 reference keys sought in a 1 000 000-
// record practice bag; 10 % rewritten, 10 % appended.
IndexBenchResult BenchReconcile(const std::string& dir, bool shared, uint32_t practice = 1000000,
                                uint32_t reference = 10000);

// What every shared read of an index costs before it looks at a page: the
// index lock taken shared, the change counter read, the lock released; timed
// `calls` times on a scratch file. The floor of `seek` in shared mode.
IndexBenchResult BenchLockProtocol(const std::string& dir, uint32_t calls = 100000);

}  // namespace tablebench
