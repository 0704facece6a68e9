// Creating an empty table of the practice product's shape (C, N, D, L, M
// fields) with the table service, plus its structural CDX with the given tags.
// Records are then added through DBServer, which keeps every tag right.
#pragma once

#include <string>
#include <vector>

namespace demo {

struct FieldSpec {
  std::string name;
  char type;
  int length;
  int decimals = 0;
};

struct TagDef {
  std::string name;
  std::string key;
};

// Writes path (a .dbf) empty, with a .fpt when a field is M and a .cdx with
// the tags when there are any. False with *error set on failure.
bool CreateTable(const std::string& path, const std::vector<FieldSpec>& fields,
                 const std::vector<TagDef>& tags, std::string* error);

}  // namespace demo
