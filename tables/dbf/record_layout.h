// The record layout as index keys and expressions see it: each field's name,
// type letter, place in the record and flags, taken from the table's field
// descriptors (Table::index_fields()). Plain data.
#pragma once

#include <cstdint>
#include <string>

namespace tables {

// A field of the table's record layout, as the table describes it.
struct IndexField {
  std::string name;     // upper case, as stored
  char type = 'C';      // DBF type letter ('0' for the _NullFlags system field)
  uint32_t offset = 0;  // in the record; the deletion flag is byte 0
  uint32_t length = 0;
  uint32_t decimals = 0;
  uint8_t flags = 0;  // descriptor byte 18 (0x02 nullable) of 0x3x tables
};

}  // namespace tables
