// Reading untrusted table and memo bytes end to end, for the fuzz targets
// (dbf_fuzz.cc, fpt_fuzz.cc) and the tests that replay their findings: the
// bytes become a file, the file is opened read-only and everything readable
// is read. Corrupt input must come back as a Status, never as a crash or hang.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tables/dbf/status.h"

namespace tables {

// data: a whole .dbf. Opens it, reads every record and decodes every field.
// Returns the number of fields that failed to decode (tests may ignore it).
Status ProbeDbfBytes(const uint8_t* data, size_t size, const std::string& scratch_dir);
// data: 4 bytes of block number (LE), then a whole .fpt. Reads that memo.
Status ProbeFptBytes(const uint8_t* data, size_t size, const std::string& scratch_dir);

}  // namespace tables
