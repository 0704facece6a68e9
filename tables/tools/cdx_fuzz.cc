// libFuzzer target: arbitrary bytes as a CDX bag. Opening, walking every tag
// both ways, seeking, checking and one round of maintenance must end in a
// status, never a crash or hang. Everything happens in memory.
#include <cstddef>
#include <cstdint>

#include "tables/cdx/cdx_pager.h"
#include "tables/cdx/index.h"
#include "tables/tools/cdx_check.h"
#include "tables/tools/cdx_memory_file.h"

namespace tables {

int FuzzCdx(const uint8_t* data, size_t size) {
  static const std::vector<IndexField> kFields = {
      {"ID", 'N', 1, 8, 0, 0},        {"DT", 'D', 9, 8, 0, 0},  {"CODE", 'C', 17, 10, 0, 0},
      {"MONTANT", 'N', 27, 10, 2, 0}, {"OK", 'L', 37, 1, 0, 0}, {"TEXTE", 'C', 38, 60, 0, 0}};
  MemoryFile file(std::vector<uint8_t>(data, data + size));
  std::unique_ptr<CdxIndex> index;
  IndexOptions options;
  options.shared = false;
  if (!CdxIndex::Open(&file, "fuzz.cdx", kFields, options, &index).ok()) return 0;
  // Half the inputs run with caches of one page, so that every page is read
  // or decoded again; seeks come first, while no leaf is decoded yet.
  if (size % 2) index->pager().SetCacheLimits(1, 1);
  for (size_t t = 0; t < index->tag_count(); ++t) {
    for (const char* key : {"A", "", "\xff\xff"}) {
      IndexCursor c;
      bool found;
      if (index->Seek(t, key, &c, &found).ok() && c.valid) index->Next(&c);
    }
  }
  const size_t kMaxSteps = 20000;
  for (size_t t = 0; t < index->tag_count(); ++t) {
    IndexCursor c;
    Status s = index->First(t, &c);
    for (size_t n = 0; s.ok() && c.valid && n < kMaxSteps; ++n) s = index->Next(&c);
    s = index->Last(t, &c);
    for (size_t n = 0; s.ok() && c.valid && n < kMaxSteps; ++n) s = index->Prev(&c);
    bool found;
    index->Seek(t, "A", &c, &found);
  }
  std::vector<uint8_t> record(98, ' ');
  IndexCheckReport report;
  CheckIndex(
      *index, 3,
      [&](uint32_t, std::vector<uint8_t>* out) {
        *out = record;
        return Status::Ok();
      },
      &report);
  std::vector<uint8_t> changed = record;
  changed[1] = '7';
  if (index->Append(1, record).ok()) index->Update(1, record, changed);
  return 0;
}

}  // namespace tables

#ifndef CDX_FUZZ_NO_MAIN
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return tables::FuzzCdx(data, size);
}
#endif
