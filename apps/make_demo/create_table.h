// Creating an empty table with its structural CDX and, for memo fields, its
// FPT: the shapes the practice product uses (C, N, D, L, M fields). Records
// are then added through DBServer, which keeps every tag right.
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
