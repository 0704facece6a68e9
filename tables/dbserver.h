// DBServer: a work area on one DBF table with its structural CDX (driver
// "DBFCDX"), for C++ callers and, through dbserver_class.cc, for the runtime
// as class "DBSERVER" with late-bound methods and ACCESS (EOF, BOF, RECNO,
// LASTREC, FCOUNT, DELETED).
//
// Every failure is raised through the runtime's error protocol (SubSystem
// "DBFCDX", GenCode, OsCode, Operation, FileName; CanRetry where trying again
// can help, then the operation is tried again); the methods then return their
// failure value. Navigation follows the controlling order (the first tag of
// the structural CDX after opening) and hides deleted records while
// rt::SetDeleted() is on. Shared mode: writing a record needs its lock (RLock,
// FLock, or the record just appended), a record is re-read after its lock is
// taken, and every tag is updated before the record's lock goes. One thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/error.h"
#include "runtime/value.h"
#include "tables/index.h"
#include "tables/status.h"
#include "tables/table.h"
#include "tables/table_journal.h"

namespace tables {

// A table-service failure as the runtime's error record (SubSystem "DBFCDX").
rt::ErrorInfo MakeErrorInfo(const Status& status, const char* operation, const std::string& path);

class DBServer {
 public:
  ~DBServer();
  DBServer(const DBServer&) = delete;
  DBServer& operator=(const DBServer&) = delete;

  // Opens path (a Windows path to the .dbf) with driver "DBFCDX" (or empty).
  // nullptr after the error was raised and defaulted.
  static std::unique_ptr<DBServer> Open(std::string_view path, bool shared = true,
                                        bool read_only = false, std::string_view driver = "DBFCDX",
                                        LockSchemeId scheme = LockSchemeId::kVfp);
  // Same without raising: the failure comes back as a Status.
  static Status TryOpen(std::string_view path, bool shared, bool read_only,
                        std::string_view driver, LockSchemeId scheme,
                        std::unique_ptr<DBServer>* out);
  bool Close();
  bool used() const { return table_ != nullptr; }

  // Navigation.
  bool GoTop();
  bool GoBottom();
  bool GoTo(uint32_t recno);
  bool Skip(int64_t n = 1);
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  uint32_t RecNo() const { return recno_; }
  uint32_t LastRec();
  bool Deleted() const { return !eof_ && !record_.empty() && record_[0] == '*'; }

  // Fields: position is 1-based over the visible fields; 0 when unknown.
  uint32_t FCount() const { return static_cast<uint32_t>(table_->visible_fields().size()); }
  uint32_t FieldPos(std::string_view name) const;
  std::string FieldName(uint32_t pos) const;
  // Structure rows {name, type, length, decimals} as the runtime shows them.
  struct FieldInfo {
    std::string name;
    char type;
    uint32_t length, decimals;
  };
  std::vector<FieldInfo> Structure() const;
  rt::Value FieldGet(uint32_t pos);
  rt::Value FieldGet(std::string_view name);
  bool FieldPut(uint32_t pos, const rt::Value& value);
  bool FieldPut(std::string_view name, const rt::Value& value);

  bool Delete();
  bool Recall();
  bool RLock(uint32_t recno = 0);  // 0: the current record
  bool Unlock();
  bool FLock();
  bool Append();
  bool Commit();

  // AppendDB: appends every visible source record (in physical order), each
  // field copied into the target field of the same name. All or nothing: on
  // any failure the target is left as it was and false is returned.
  struct AppendSpec {
    std::vector<std::string> fields;  // empty: every field
    rt::Value for_block;              // NIL: none
    rt::Value while_block;
    std::optional<uint32_t> next;     // scope: at most this many records
    std::string driver = "DBFCDX";
  };
  bool AppendDB(std::string_view source, const AppendSpec& spec);
  bool AppendDB(std::string_view source) { return AppendDB(source, AppendSpec()); }

  // Orders: 0 = natural order; tags 1-based in creation order.
  bool Seek(const rt::Value& key);
  bool Found() const { return found_; }
  uint32_t OrderNumber() const { return order_ < 0 ? 0 : static_cast<uint32_t>(order_ + 1); }
  std::string OrderName() const;
  bool SetOrder(uint32_t number);
  bool SetOrder(std::string_view tag_name);

  Table& table() { return *table_; }
  CdxIndex* index() { return index_.get(); }
  // The structural index's file (nullptr without one), for tools that report on it.
  platform::File* index_file() { return cdx_file_.get(); }
  const std::vector<uint8_t>& record() const { return record_; }

  // Closes every open DBServer (quit, XQDBCloseAll).
  static void CloseAll();

 private:
  DBServer() = default;
  // Runs attempt under the error protocol; false when it failed in the end.
  bool Protect(const char* operation, const std::function<Status()>& attempt,
               bool can_default_to_stars = false);
  Status Load(uint32_t recno);
  void GoPhantom();
  bool Hidden() const;
  Status StepNatural(int dir);
  Status StepOrdered(int dir);
  Status SyncCursor();
  Status TopOrBottom(bool top);
  Status DoSkip(int64_t n);
  Status DoFieldPut(size_t field, const rt::Value& value, bool allow_stars);
  Status WriteCurrent(const std::vector<uint8_t>& old_record);
  Status DoAppend();
  Status DoAppendDB(DBServer& source, const AppendSpec& spec);
  Status DoSeek(const rt::Value& key);
  Status CheckWritable();
  // Index changes run through the CDX journal: all of them or none.
  Status IndexChange(const std::function<IndexStatus()>& change);

  std::unique_ptr<Table> table_;
  std::unique_ptr<JournalFile> cdx_file_;
  std::unique_ptr<MemoReader> memo_reader_;
  std::unique_ptr<CdxIndex> index_;
  int order_ = -1;
  IndexCursor cursor_;
  bool cursor_synced_ = false;
  std::vector<uint8_t> record_;
  uint32_t recno_ = 0;
  bool eof_ = true, bof_ = true, found_ = false;
};

// Declares the runtime class "DBSERVER" (its methods and ACCESS members).
void RegisterDBServerClass();

}  // namespace tables

namespace rt {
struct Program;
}

namespace tables {
// The table service's part of the program: the DBSERVER class declaration.
void AddTablesToProgram(rt::Program& program);
}  // namespace tables
