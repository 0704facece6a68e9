// The index checker behind `tabletool check`: walks every tag of a bag page by
// page and reports each fault it finds instead of stopping at the first: keys
// out of order, duplicate entries, UNIQUE keys repeated, interior keys that are
// not the last key of their subtree, counts beyond capacity, leaves at
// different depths, sibling links that do not mirror each other, pages used
// twice, a free list that loops or holds live pages; then compares each tag
// with the records: every record whose FOR holds has its key exactly once and
// no entry points to a record with another key. Read-only; takes the shared
// index lock for the whole check.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tables/cdx/index.h"

namespace tables {

struct IndexCheckReport {
  std::vector<std::string> faults;
  uint64_t live_pages = 0;
  uint64_t free_pages = 0;
  std::vector<uint64_t> entries;  // per tag
  bool ok() const { return faults.empty(); }
};

// Gives the bytes of record recno (1-based, deletion flag included).
using RecordFetcher = std::function<Status(uint32_t recno, std::vector<uint8_t>* record)>;

// Checks every tag of the bag against records 1..record_count. The status is a
// failure only when the check itself could not run (a read error); faults in
// the index go to the report.
Status CheckIndex(CdxIndex& index, uint32_t record_count, const RecordFetcher& fetch,
                  IndexCheckReport* report);

}  // namespace tables
