// Creating a table of the practice product's shape (C, N, D, L, M fields) with
// the table service, plus its structural CDX with the given tags: empty
// (CreateTable; records are then added through DBServer, which keeps every tag
// right) or filled in one batch (CreateFilledTable, for large tables).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
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

// One record being built: starts blank (every field empty, not deleted); the
// setters write a field by its position in the FieldSpec list.
class RecordBuilder {
 public:
  void Char(size_t field, std::string_view text);  // cut or blank-padded to the width
  void Date(size_t field, int32_t julian);         // 0: the empty date
  void Number(size_t field, double value);         // asterisks when it does not fit
  void Logical(size_t field, bool value);

 private:
  friend bool CreateFilledTable(const std::string&, const std::vector<FieldSpec>&,
                                const std::vector<TagDef>&, uint32_t,
                                const std::function<void(uint32_t, RecordBuilder&)>&, std::string*);
  struct Slot {
    uint32_t offset, length, decimals;
  };
  std::vector<Slot> slots_;
  uint8_t* record_ = nullptr;
};

// CreateTable, then `count` records, record i (0-based) made by make(i, ...),
// written in large chunks with the table opened exclusively; then every tag
// is built once: the keys of all records computed, sorted, and inserted in
// key order through the index's own tree code, committed in slices. For new
// files that nobody else has open. False with *error set on failure (the
// files are then incomplete).
bool CreateFilledTable(const std::string& path, const std::vector<FieldSpec>& fields,
                       const std::vector<TagDef>& tags, uint32_t count,
                       const std::function<void(uint32_t, RecordBuilder&)>& make,
                       std::string* error);

}  // namespace demo
