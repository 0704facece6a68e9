// Hex text of bytes and SHA-256 digests in hex: how the table dumps show raw
// bytes and checksum record sets and memo texts (and how tests compare them).
#pragma once

#include <string>
#include <string_view>

namespace tables {

std::string Hex(std::string_view bytes);
std::string Sha256Hex(std::string_view data);

}  // namespace tables
