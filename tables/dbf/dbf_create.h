// Creating a new, empty table (and its FPT memo file when it has memo
// fields): header bytes from CreateHeader, the 0x1A end mark, FPT header with
// the given block size. Used by tools, tests and benchmarks.
#pragma once

#include <string_view>
#include <vector>

#include "tables/dbf/dbf_header.h"
#include "tables/dbf/status.h"

namespace tables {

// version 0x03 (0xF5 is chosen when there are memo fields), 0xF5 or 0x30.
Status CreateTable(std::string_view path, uint8_t version, const std::vector<FieldSpec>& fields,
                   uint32_t memo_block_size = 64);

}  // namespace tables
