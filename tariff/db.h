// A DBServer table as the update uses it, reached late-bound through the
// runtime like every other object of the program, so that its failures take
// the runtime's error road (error box, XQERROR.LOG).
#pragma once

#include <cstdint>
#include <string>

#include "runtime/value.h"

namespace tariff {

class Db {
 public:
  // Opens path shared with the "DBFCDX" driver, read-write unless read_only.
  explicit Db(const std::string& path, bool read_only = false);
  bool opened() const { return server_.IsObject(); }
  void GoTop() const;
  bool Eof() const;
  void Skip() const;
  void GoTo(uint32_t recno) const;
  uint32_t RecNo() const;
  uint32_t LastRec() const;
  // 0: natural (physical) order; n: the n-th tag.
  void SetOrder(uint32_t order) const;
  rt::Value FieldGet(const char* field) const;
  void FieldPut(const char* field, const rt::Value& v) const;
  bool Seek(const std::string& key) const;
  void RLock() const;
  void Unlock() const;
  void Append() const;
  // AppendDB(source, no fields, no FOR, no WHILE, no scope, "DBFCDX").
  bool AppendDB(const std::string& source) const;
  void Close() const;
  // Makes the order keyed on `key` (compared without blanks, case or
  // FIELD-> prefixes) the controlling one; false when the table has none.
  bool UseOrderKeyedOn(const std::string& key) const;

 private:
  rt::Value server_;
};

// The normal form of a key expression used to compare two of them.
std::string NormalKey(const std::string& expression);

}  // namespace tariff
