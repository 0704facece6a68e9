// DBServer: field writes, deletion marks, locks and single appends.
#include <algorithm>
#include <vector>

#include "runtime/activation.h"
#include "runtime/error.h"
#include "tables/cdx/cdx_pager.h"
#include "tables/dbf_value.h"
#include "tables/dbserver.h"

namespace tables {

Status DBServer::IndexChange(const std::function<Status()>& change) {
  Status is = change();
  if (is.ok()) return Status::Ok();
  index_->AbortUpdate();
  index_->pager().Discard();  // the transaction's rollback puts its pages back
  return is.WithFile(index_->file_name());
}

Status DBServer::CheckWritable() {
  if (table_->read_only()) {
    return Status(Status::kReadOnly, table_->path() + ": table opened read-only", 0,
                  table_->path());
  }
  if (!table_->write_refusal().empty()) {
    return Status(Status::kCorruption, table_->path() + ": not written: " + table_->write_refusal(),
                  0, table_->path());
  }
  if (index_) {
    Status is = index_->CheckWritable();
    if (!is.ok()) return is.WithFile(index_->file_name());
  }
  return Status::Ok();
}

// record_ now differs from old_record: the change joins the record's
// transaction (begun here when none is open) and stays in record_ until the
// transaction ends, when the record is written once with its index changes.
Status DBServer::StageCurrent(const std::vector<uint8_t>& old_record) {
  Status st = BeginRecordTx(old_record);
  if (!st.ok()) {
    record_ = old_record;
    return st;
  }
  cursor_synced_ = false;
  return Status::Ok();
}

Status DBServer::DoFieldPut(size_t field, const rt::Value& value) {
  if (eof_) return Status::Ok();  // the phantom record takes no values
  TABLE_RETURN_IF_ERROR(CheckWritable());
  if (!table_->IsLocked(recno_)) {
    return Status(
        Status::kLockRequired,
        table_->path() + ": record " + std::to_string(recno_) + " is not locked by this program", 0,
        table_->path());
  }
  std::vector<uint8_t> old = record_;
  std::vector<uint8_t> changed = record_;
  const char type = table_->fields()[field].type;
  const bool memo = type == 'M' || type == 'G' || type == 'P' || type == 'W';
  if (!memo || !value.IsString()) {
    // Checked in memory first: a value of the wrong type or too wide changes nothing.
    TABLE_RETURN_IF_ERROR(FieldPutValue(*table_, field, value, changed.data()));
    if (changed == old) return Status::Ok();
  } else {
    // A memo value is stored as it is converted: inside the transaction.
    TABLE_RETURN_IF_ERROR(BeginRecordTx(old));
    Status st = FieldPutValue(*table_, field, value, changed.data());
    if (!st.ok()) {
      AbortTx();
      return st;
    }
  }
  record_ = std::move(changed);
  return StageCurrent(old);
}

bool DBServer::FieldPut(uint32_t pos, const rt::Value& value) {
  RT_ROUTINE("DBSERVER:FIELDPUT", "DBServer");
  if (!table_ || pos == 0 || pos > FCount()) {
    return Protect("DBSERVER:FIELDPUT", [&] {
      return Status(Status::kArgument, "no field number " + std::to_string(pos), 0,
                    table_ ? table_->path() : "");
    });
  }
  size_t field = table_->visible_fields()[pos - 1];
  while (true) {
    Status st = DoFieldPut(field, value);
    if (st.ok()) return true;
    rt::ErrorInfo info = MakeErrorInfo(st, "DBSERVER:FIELDPUT", table_->path());
    // A value too wide or of the wrong type is never stored in part (no
    // stars, no cut value): the default answer leaves the field as it was.
    rt::ErrorOutcome out = rt::RaiseError(info);
    if (out.answer == rt::ErrorAnswer::kRetry && info.can_retry) continue;
    return false;
  }
}

bool DBServer::FieldPut(std::string_view name, const rt::Value& value) {
  uint32_t pos = FieldPos(name);
  if (pos == 0) {
    Protect("DBSERVER:FIELDPUT", [&] {
      return Status(Status::kNoVar, "field " + std::string(name) + " does not exist", 0,
                    table_->path());
    });
    return false;
  }
  return FieldPut(pos, value);
}

bool DBServer::Delete() {
  return Protect("DBSERVER:DELETE", [&]() -> Status {
    if (eof_ || record_[0] == '*') return Status::Ok();
    TABLE_RETURN_IF_ERROR(CheckWritable());
    if (!table_->IsLocked(recno_)) {
      return Status(Status::kLockRequired,
                    table_->path() + ": record " + std::to_string(recno_) + " is not locked", 0,
                    table_->path());
    }
    std::vector<uint8_t> old = record_;
    record_[0] = '*';
    return StageCurrent(old);
  });
}

bool DBServer::Recall() {
  return Protect("DBSERVER:RECALL", [&]() -> Status {
    if (eof_ || record_[0] != '*') return Status::Ok();
    TABLE_RETURN_IF_ERROR(CheckWritable());
    if (!table_->IsLocked(recno_)) {
      return Status(Status::kLockRequired,
                    table_->path() + ": record " + std::to_string(recno_) + " is not locked", 0,
                    table_->path());
    }
    std::vector<uint8_t> old = record_;
    record_[0] = ' ';
    return StageCurrent(old);
  });
}

bool DBServer::RLock(uint32_t recno) {
  if (!table_) return false;
  FinishTx("DBSERVER:RLOCK");
  uint32_t n = recno == 0 ? recno_ : recno;
  if (n == 0 || !Exists(n)) return false;
  // Locking a record releases this work area's other locks; one it holds
  // already stays held (no moment in which another program could take it).
  if (table_->file_locked()) table_->UnlockAll();
  for (uint32_t held : std::vector<uint32_t>(table_->locked_records())) {
    if (held != n) table_->UnlockRecord(held);
  }
  Status st = table_->LockRecord(n);
  if (!st.ok()) {
    rt::NetErr(true);
    return false;
  }
  // What we read before the lock may be stale.
  if (n == recno_ && !eof_) {
    bool cursor = cursor_synced_;
    Protect("DBSERVER:RLOCK", [&] { return Load(n); });
    cursor_synced_ = cursor;
  }
  return true;
}

bool DBServer::Unlock() {
  if (!table_) return false;
  const bool written = FinishTx("DBSERVER:UNLOCK");
  table_->UnlockAll();
  return written;
}

bool DBServer::FLock() {
  if (!table_) return false;
  FinishTx("DBSERVER:FLOCK");
  if (!table_->LockFile().ok()) {
    rt::NetErr(true);
    return false;
  }
  if (!eof_) {
    bool cursor = cursor_synced_;
    Protect("DBSERVER:FLOCK", [&] { return Load(recno_); });
    cursor_synced_ = cursor;
  }
  return true;
}

Status DBServer::DoAppend() {
  TABLE_RETURN_IF_ERROR(CheckWritable());
  if (tx_ == Tx::kHeld) {
    return Status(Status::kAppendLock, table_->path() + ": an append is held", 0, table_->path());
  }
  table_->UnlockAll();
  TABLE_RETURN_IF_ERROR(table_->BeginAppend());
  // Only the number and its lock now: the record is written, with the new
  // count and its keys, when its transaction ends.
  uint32_t n = 0;
  Status st = table_->ReserveRecord(&n);
  if (!st.ok()) {
    table_->EndAppend();
    return st;
  }
  // The header lock stays until the transaction ends: nobody appends after
  // this record while it may still be undone.
  st = BeginTx(nullptr);
  const uint64_t data_end =
      table_->header().header_length + uint64_t{table_->RecordCount()} * table_->record_length();
  if (st.ok()) st = journal_->Cover('D', 0, 32);
  if (st.ok()) st = journal_->Cover('D', data_end, UINT64_MAX - data_end);
  if (!st.ok()) {
    if (journal_->active()) journal_->Rollback();
    table_->EndAppend();
    return st;
  }
  tx_ = Tx::kAppend;
  record_ = table_->BlankRecord();
  recno_ = n;
  eof_ = bof_ = false;
  cursor_synced_ = false;
  return Status::Ok();
}

bool DBServer::Append() {
  if (!table_) return false;
  FinishTx("DBSERVER:APPEND");
  bool ok = Protect("DBSERVER:APPEND", [&] { return DoAppend(); });
  rt::NetErr(!ok);
  return ok;
}

bool DBServer::Commit() {
  if (!table_) return false;
  if (!FinishTx("DBSERVER:COMMIT")) return false;
  return Protect("DBSERVER:COMMIT", [&]() -> Status {
    if (table_->read_only()) return Status::Ok();
    platform::OsStatus s = table_->file()->Flush();
    if (!s.ok()) return Status(Status::kWrite, "cannot flush", s.code(), table_->path());
    return Status::Ok();
  });
}

}  // namespace tables
