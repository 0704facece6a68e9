#include "apps/tablebench/index_bench.h"

#include <chrono>
#include <ctime>
#include <cstdio>
#include <memory>
#include <random>
#include <span>
#include <vector>

#include "platform/file.h"
#include "tables/index.h"

namespace tablebench {
namespace {

using tables::CdxIndex;
using tables::IndexField;
using tables::IndexOptions;
using tables::IndexStatus;
using tables::TagSpec;

// The key-letter table's layout: INDEX_TYP C(4), INDEX_DAT D, INDEX_100 N(10,2).
const std::vector<IndexField> kLetterFields = {
    {"INDEX_TYP", 'C', 1, 4, 0, 0}, {"INDEX_DAT", 'D', 5, 8, 0, 0}, {"INDEX_100", 'N', 13, 10, 2, 0}};
constexpr size_t kLetterLength = 23;

std::vector<uint8_t> LetterRecord(uint32_t n, double value) {
  char buf[kLetterLength + 1];
  // 4-letter codes, one date per record within the code: 1 000 000 distinct keys.
  uint32_t code = n / 400, day = n % 400;
  int y = 1990 + static_cast<int>(day / 12), m = 1 + static_cast<int>(day % 12);
  std::snprintf(buf, sizeof buf, " %c%c%c%c%04d%02d15%10.2f", 'A' + code / 17576 % 26,
                'A' + code / 676 % 26, 'A' + code / 26 % 26, 'A' + code % 26, y, m, value);
  return std::vector<uint8_t>(buf, buf + kLetterLength);
}

std::unique_ptr<platform::File> Open(const std::string& path) {
  std::unique_ptr<platform::File> file;
  platform::OsStatus s = platform::OpenFile(path, platform::Access::kReadWrite,
                                            platform::Share::kDenyNone,
                                            platform::Disposition::kCreateAlways, 0x80, &file);
  if (!s.ok()) std::fprintf(stderr, "cannot open %s (%u)\n", path.c_str(), s.code());
  return file;
}

bool Check(const IndexStatus& s) {
  if (!s.ok()) std::fprintf(stderr, "index error: %s\n", s.text().c_str());
  return s.ok();
}

// Builds a letter bag with `records` records, committing in slices so that
// the page cache stays bounded.
bool BuildLetters(platform::File* file, const std::string& name, bool shared, uint32_t records,
                  std::unique_ptr<CdxIndex>* index) {
  IndexOptions options;
  options.shared = shared;
  std::vector<TagSpec> tags = {{"TYPDAT", "INDEX_TYP+DTOS(INDEX_DAT)", "", false, false},
                               {"DAT", "INDEX_DAT", "", false, false}};
  if (!Check(CdxIndex::Create(file, name, kLetterFields, tags, options, index))) return false;
  for (uint32_t r = 1; r <= records; ++r) {
    if (r % 20000 == 1 && !Check((*index)->BeginUpdate())) return false;
    if (!Check((*index)->Append(r, LetterRecord(r - 1, 1.0)))) return false;
    if ((r % 20000 == 0 || r == records) && !Check((*index)->EndUpdate())) return false;
  }
  return true;
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Process CPU time (on Linux; the wall clock on Windows); on a shared machine
// it says more than the wall clock.
double CpuNow() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace

IndexBenchResult BenchSeek(const std::string& dir, bool shared, uint32_t records, uint32_t seeks) {
  IndexBenchResult result{"seek", 0, 0, seeks, ""};
  auto file = Open(dir + "/seek.cdx");
  std::unique_ptr<CdxIndex> index;
  if (!file || !BuildLetters(file.get(), "seek.cdx", shared, records, &index)) return result;
  // The keys are made before the clock starts: formatting them costs about as
  // much as a cached seek.
  std::mt19937 rng(1);
  constexpr size_t kKey = 12;
  std::string keys;
  keys.reserve(seeks * kKey);
  for (uint32_t i = 0; i < seeks; ++i) {
    std::vector<uint8_t> rec = LetterRecord(rng() % records, 0);
    keys.append(rec.begin() + 1, rec.begin() + 1 + kKey);
  }
  uint32_t hits = 0;
  tables::IndexCursor cursor;
  auto start = std::chrono::steady_clock::now();
  double cpu_start = CpuNow();
  for (size_t at = 0; at < keys.size(); at += kKey) {
    std::string_view key(keys.data() + at, kKey);
    bool found;
    if (!Check(index->Seek(0, key, &cursor, &found))) return result;
    hits += found;
  }
  result.seconds = Since(start);
  result.cpu_seconds = CpuNow() - cpu_start;
  result.note = std::to_string(hits) + " found";
  return result;
}

IndexBenchResult BenchAppend3(const std::string& dir, bool shared, uint32_t records) {
  IndexBenchResult result{"append3", 0, 0, records, ""};
  auto file = Open(dir + "/append3.cdx");
  std::unique_ptr<CdxIndex> index;
  std::vector<TagSpec> tags = {{"TYPDAT", "INDEX_TYP+DTOS(INDEX_DAT)", "", false, false},
                               {"DAT", "INDEX_DAT", "", false, false},
                               {"VAL", "INDEX_100", "", false, true}};
  IndexOptions options;
  options.shared = shared;
  if (!file || !Check(CdxIndex::Create(file.get(), "append3.cdx", kLetterFields, tags, options,
                                       &index))) {
    return result;
  }
  // One flat buffer of source records, so that the peak memory is the index's.
  std::mt19937 rng(3);
  std::vector<uint8_t> source;
  source.reserve(static_cast<size_t>(records) * kLetterLength);
  for (uint32_t r = 0; r < records; ++r) {
    std::vector<uint8_t> rec = LetterRecord(rng() % 1000000, rng() % 100000 / 100.0);
    source.insert(source.end(), rec.begin(), rec.end());
  }
  auto start = std::chrono::steady_clock::now();
  double cpu_start = CpuNow();
  if (!Check(index->BeginUpdate())) return result;
  for (uint32_t r = 1; r <= records; ++r) {
    std::span<const uint8_t> rec(source.data() + static_cast<size_t>(r - 1) * kLetterLength,
                                 kLetterLength);
    if (!Check(index->Append(r, rec))) return result;
  }
  if (!Check(index->EndUpdate())) return result;
  result.seconds = Since(start);
  result.cpu_seconds = CpuNow() - cpu_start;
  return result;
}

IndexBenchResult BenchReconcile(const std::string& dir, bool shared, uint32_t practice,
                                uint32_t reference) {
  IndexBenchResult result{"reconcile", 0, 0, reference, ""};
  auto file = Open(dir + "/reconcile.cdx");
  std::unique_ptr<CdxIndex> index;
  if (!file || !BuildLetters(file.get(), "reconcile.cdx", shared, practice, &index)) return result;
  // The reference table, and the practice records as they are now, made
  // before the clock starts.
  struct Step {
    std::vector<uint8_t> want, have;
    std::string key;
  };
  std::mt19937 rng(5);
  std::vector<Step> steps(reference);
  for (uint32_t i = 0; i < reference; ++i) {
    uint32_t pick = rng() % 10;
    // 10 % of the reference records are missing from the practice table, and
    // 10 % have another value there.
    uint32_t n = pick == 0 ? practice + i : rng() % practice;
    steps[i].want = LetterRecord(n, pick == 1 ? 2.0 : 1.0);
    steps[i].have = LetterRecord(n, 1.0);
    steps[i].key.assign(steps[i].want.begin() + 1, steps[i].want.begin() + 13);
  }
  uint32_t updated = 0, appended = 0, next = practice + 1;
  tables::IndexCursor cursor;
  auto start = std::chrono::steady_clock::now();
  double cpu_start = CpuNow();
  for (const Step& step : steps) {
    bool found;
    if (!Check(index->Seek(0, step.key, &cursor, &found))) return result;
    if (!found) {
      if (!Check(index->Append(next++, step.want))) return result;
      ++appended;
    } else if (step.want != step.have) {
      // The value differs: the record is rewritten (its keys do not change).
      if (!Check(index->Update(cursor.recno, step.have, step.want))) return result;
      ++updated;
    }
  }
  result.seconds = Since(start);
  result.cpu_seconds = CpuNow() - cpu_start;
  result.note = std::to_string(updated) + " updated, " + std::to_string(appended) + " appended";
  return result;
}

IndexBenchResult BenchLockProtocol(const std::string& dir, uint32_t calls) {
  IndexBenchResult result{"locks", 0, 0, calls, ""};
  auto file = Open(dir + "/locks.cdx");
  std::vector<uint8_t> page(1024, 0);
  if (!file || !file->WriteAt(0, page.data(), page.size()).ok()) return result;
  IndexOptions options;  // the lock byte of the default scheme
  auto start = std::chrono::steady_clock::now();
  double cpu_start = CpuNow();
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
  result.seconds = Since(start);
  result.cpu_seconds = CpuNow() - cpu_start;
  return result;
}

}  // namespace tablebench
