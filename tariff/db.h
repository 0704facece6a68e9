// A DBServer table as the update uses it, reached late-bound through the
// runtime like every other object of the program, so that its failures take
// the runtime's error road (error box, XQERROR.LOG).
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "runtime/value.h"

namespace tariff {

class Db {
 public:
  // Opens path shared with the "DBFCDX" driver, read-write unless read_only.
  explicit Db(const std::string& path, bool read_only = false);
  // False when the open failed (the table service has reported why).
  bool opened() const;
  // The path the table was opened with.
  const std::string& path() const { return path_; }
  void GoTop() const;
  bool Eof() const;
  void Skip() const;
  void GoTo(uint32_t recno) const;
  uint32_t RecNo() const;
  uint32_t LastRec() const;
  // 0: natural (physical) order; n: the n-th tag. Returns the name of the
  // order it replaces (empty: the natural order), for RestoreOrder.
  std::string SetOrder(uint32_t order) const;
  void RestoreOrder(const std::string& name) const;
  rt::Value FieldGet(const char* field) const;
  void FieldPut(const char* field, const rt::Value& v) const;
  bool Seek(const std::string& key) const;
  void RLock() const;
  // False when the table service refused (and reported) the lock release or
  // the write of the record it ended, or the append.
  bool Unlock() const;
  bool Append() const;
  // AppendDB(source, no fields, no FOR, no WHILE, no scope, "DBFCDX").
  bool AppendDB(const std::string& source) const;
  // The same append held until CommitAppend or RollbackAppend: it stays
  // invisible and undone unless the marker `key` of section "2017" in the INI
  // file marker_ini reads "1" (what the table service's recovery at the next
  // open decides by when the process dies in between).
  bool AppendDBHeld(const std::string& source, const std::string& marker_ini,
                    const std::string& key) const;
  bool CommitAppend() const;
  bool RollbackAppend() const;
  void Close() const;
  // Makes the order keyed on `key` (compared without blanks, case or
  // FIELD-> prefixes) the controlling one; false when the table has none.
  bool UseOrderKeyedOn(const std::string& key) const;

  struct FieldShape {
    char type = 0;  // 'C', 'D', 'N', ...
    uint32_t length = 0;
    uint32_t decimals = 0;
  };
  // Every field by name (upper case), from DBStruct.
  std::map<std::string, FieldShape> Structure() const;

 private:
  std::string path_;
  rt::Value server_;
};

// The normal form of a key expression used to compare two of them.
std::string NormalKey(const std::string& expression);

}  // namespace tariff
