// The table dump ("table-dump/1", UTF-8 JSON) and the table check behind
// tabletool: everything our engine reads from a table, its memo file and its
// structural CDX, in the layout of the fixtures' dumps; and every fault found
// in them. Read-only.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tables/dbf/status.h"

namespace tables {

// Writes the dump of the table at path (opened shared, read-only).
Status DumpTable(const std::string& path, std::ostream& out);

// Validates the table, its memo file and every tag; appends one line per
// fault. OK unless the table could not be opened at all.
Status CheckTable(const std::string& path, std::vector<std::string>* faults);

}  // namespace tables
