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
#include "tables/cdx/index.h"
#include "tables/cdx/rollback_journal.h"
#include "tables/cdx/table_journal.h"
#include "tables/dbf/status.h"
#include "tables/dbf/table.h"

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
  static Status TryOpen(std::string_view path, bool shared, bool read_only, std::string_view driver,
                        LockSchemeId scheme, std::unique_ptr<DBServer>* out);
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
    std::optional<uint32_t> next;  // scope: at most this many records
    std::string driver = "DBFCDX";
    // When set, a successful append is held: written and flushed, its journal
    // kept with this commit condition (value "1") and the header lock kept,
    // until CommitAppend or RollbackAppend (or Close, which decides like
    // recovery: committed when the marker reads "1").
    std::optional<CommitCondition> marker;
  };
  bool AppendDB(std::string_view source, const AppendSpec& spec);
  bool AppendDB(std::string_view source) { return AppendDB(source, AppendSpec()); }
  // The held append (AppendSpec::marker) committed (journal deleted, locks
  // released) or undone (records, index and memo back as they were). A
  // failure is raised; false.
  bool CommitAppend();
  bool RollbackAppend();
  bool holding_append() const { return tx_ == Tx::kHeld; }

  // Recovery of a journal left beside the table at path (rollback_journal.h),
  // as every open does first; force undoes even a transaction after which the
  // files changed. For tools.
  static Status Recover(std::string_view path, bool shared, LockSchemeId scheme, bool force,
                        RecoveryResult* result, std::string* detail);
  // The table's rollback journal (measurements).
  const RollbackJournal* journal() const { return journal_.get(); }

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
  bool Protect(const char* operation, const std::function<Status()>& attempt);
  Status Load(uint32_t recno);
  void GoPhantom();
  bool Hidden() const;
  Status StepNatural(int dir);
  Status StepOrdered(int dir);
  Status SyncCursor();
  Status TopOrBottom(bool top);
  Status DoSkip(int64_t n);
  Status DoFieldPut(size_t field, const rt::Value& value);
  Status StageCurrent(const std::vector<uint8_t>& old_record);
  // Whether record recno exists; the count is refreshed only past the cached
  // one (a shared table never shrinks).
  bool Exists(uint32_t recno);
  Status DoAppend();
  // AppendDB in steps; AppendRun is what they share. A failed step leaves the
  // undo to DoAppendDB.
  struct AppendRun;
  Status DoAppendDB(DBServer& source, const AppendSpec& spec);
  // Header lock for appending, transaction begun with the header's and the
  // data end's old bytes covered; on failure nothing is left begun.
  Status StartAppendTx(const AppendSpec& spec);
  // Memo batch (when a memo field is copied) and index update opened.
  Status OpenAppendBatches(AppendRun& run);
  // The source read chunk by chunk, what passes appended with its keys; the
  // index update ended.
  Status AppendChunks(AppendRun& run);
  // The target records of the got source records from next on that pass the
  // deletion setting, the scope and the blocks, built in run.out; *stop when
  // the WHILE block ended the scope.
  Status BuildChunk(AppendRun& run, uint32_t next, uint32_t got, uint32_t* built, bool* stop);
  // Everything written since BeginTx back from the journal, the open batches
  // closed; st with the undo's own failure after it.
  Status UndoAppend(AppendRun& run, Status st);
  // Flushed and fingerprinted; committed, or held with its journal and the
  // header lock (AppendSpec::marker).
  Status FinishAppend(AppendRun& run);
  Status DoSeek(const rt::Value& key);
  Status CheckWritable();
  // One index change: all of it or none of it in the pager; the caller
  // undoes the transaction when it fails.
  Status IndexChange(const std::function<Status()>& change);

  // Write transactions (rollback_journal.h). A record transaction begins at
  // the first change of a record (Append, FieldPut, Delete, Recall) and ends
  // when the record pointer moves, the record is unlocked, another append
  // starts, at Commit or Close. Meanwhile the changes stay in record_ (an
  // appended record has only its number and lock); at the end the record is
  // written once (an appended one with the new count), the tags follow, the
  // files are flushed and the journal goes. It holds the header lock
  // meanwhile, so no other writer of ours starts a transaction on the table.
  enum class Tx { kNone, kRecord, kAppend, kHeld };
  Status BeginTx(const CommitCondition* condition);
  Status BeginRecordTx(const std::vector<uint8_t>& old_record);
  Status EndRecordTx();
  // Undoes the open transaction (any kind) and forgets what the caches saw.
  Status AbortTx();
  // Ends a record transaction before another operation; a failure (the
  // transaction undone) is raised under operation. False when it failed.
  bool FinishTx(const char* operation);
  void WrapForJournal();

  std::unique_ptr<Table> table_;
  std::unique_ptr<RollbackJournal> journal_;
  Tx tx_ = Tx::kNone;
  std::optional<CommitCondition> held_;  // the condition of a held append
  std::vector<uint8_t> tx_old_record_;   // the record when its transaction began
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
