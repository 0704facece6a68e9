// DBServer: field writes, deletion marks, locks and single appends.
#include <algorithm>

#include "runtime/activation.h"
#include "runtime/error.h"
#include "tables/cdx_pager.h"
#include "tables/dbf_value.h"
#include "tables/dbserver.h"

namespace tables {

Status DBServer::IndexChange(const std::function<IndexStatus()>& change) {
  platform::OsStatus os = cdx_file_->Begin();
  if (!os.ok()) return Status(Status::kRead, "cannot read the index size", os.code(),
                              index_->file_name());
  IndexStatus is = change();
  if (is.ok()) {
    cdx_file_->Commit();
    return Status::Ok();
  }
  index_->AbortUpdate();
  os = cdx_file_->Rollback();
  index_->pager().Discard();  // its cache may hold pages the journal just put back
  Status st = Status::FromIndex(is, index_->file_name());
  if (!os.ok()) {
    return Status(Status::kWrite, st.text() + "; the index could not be put back", os.code(),
                  index_->file_name());
  }
  return st;
}

Status DBServer::CheckWritable() {
  if (table_->read_only()) {
    return Status(Status::kReadOnly, table_->path() + ": table opened read-only", 0,
                  table_->path());
  }
  if (!table_->write_refusal().empty()) {
    return Status(Status::kCorruption, table_->path() + ": not written: " +
                                           table_->write_refusal(), 0, table_->path());
  }
  if (index_) {
    IndexStatus is = index_->CheckWritable();
    if (!is.ok()) return Status::FromIndex(is, index_->file_name());
  }
  return Status::Ok();
}

// Writes record_ (changed from old_record) and brings every tag along; when
// the tags cannot follow, the record goes back to what it was.
Status DBServer::WriteCurrent(const std::vector<uint8_t>& old_record) {
  Status st = table_->WriteRecord(recno_, record_.data());
  if (!st.ok()) {
    record_ = old_record;
    return st;
  }
  if (index_) {
    st = IndexChange([&] { return index_->Update(recno_, old_record, record_); });
    if (!st.ok()) {
      table_->WriteRecord(recno_, old_record.data());
      record_ = old_record;
      return st;
    }
  }
  cursor_synced_ = false;
  return Status::Ok();
}

Status DBServer::DoFieldPut(size_t field, const rt::Value& value, bool allow_stars) {
  if (eof_) return Status::Ok();  // the phantom record takes no values
  TABLE_RETURN_IF_ERROR(CheckWritable());
  if (!table_->IsLocked(recno_)) {
    return Status(Status::kLockRequired, table_->path() + ": record " + std::to_string(recno_) +
                                             " is not locked by this program", 0, table_->path());
  }
  std::vector<uint8_t> old = record_;
  std::vector<uint8_t> changed = record_;
  Status st = FieldPutValue(*table_, field, value, changed.data());
  if (!st.ok() && !(allow_stars && st.code() == Status::kDataWidth)) return st;
  record_ = std::move(changed);
  return WriteCurrent(old);
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
  bool stars = false;
  bool done = false;
  while (!done) {
    Status st = DoFieldPut(field, value, stars);
    if (st.ok()) return true;
    rt::ErrorInfo info = MakeErrorInfo(st, "DBSERVER:FIELDPUT", table_->path());
    // A value too wide: the default stores stars, as other engines do.
    info.can_default = st.code() == Status::kDataWidth;
    rt::ErrorOutcome out = rt::RaiseError(info);
    if (out.answer == rt::ErrorAnswer::kRetry && info.can_retry) continue;
    if (out.answer == rt::ErrorAnswer::kDefault && st.code() == Status::kDataWidth && !stars) {
      stars = true;
      continue;
    }
    done = true;
  }
  return false;
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
      return Status(Status::kLockRequired, table_->path() + ": record " +
                                               std::to_string(recno_) + " is not locked", 0,
                    table_->path());
    }
    std::vector<uint8_t> old = record_;
    record_[0] = '*';
    return WriteCurrent(old);
  });
}

bool DBServer::Recall() {
  return Protect("DBSERVER:RECALL", [&]() -> Status {
    if (eof_ || record_[0] != '*') return Status::Ok();
    TABLE_RETURN_IF_ERROR(CheckWritable());
    if (!table_->IsLocked(recno_)) {
      return Status(Status::kLockRequired, table_->path() + ": record " +
                                               std::to_string(recno_) + " is not locked", 0,
                    table_->path());
    }
    std::vector<uint8_t> old = record_;
    record_[0] = ' ';
    return WriteCurrent(old);
  });
}

bool DBServer::RLock(uint32_t recno) {
  if (!table_) return false;
  uint32_t n = recno == 0 ? recno_ : recno;
  if (n == 0 || n > LastRec()) return false;
  // Locking a record releases this work area's other record locks.
  table_->UnlockAll();
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
  table_->UnlockAll();
  return true;
}

bool DBServer::FLock() {
  if (!table_) return false;
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
  table_->UnlockAll();
  TABLE_RETURN_IF_ERROR(table_->BeginAppend());
  std::vector<uint8_t> blank = table_->BlankRecord();
  uint32_t n = 0;
  Status st = table_->AppendRecords(blank.data(), 1, true, &n);
  if (st.ok() && index_) st = IndexChange([&] { return index_->Append(n, blank); });
  if (!st.ok()) {
    table_->RollbackAppend();
    table_->EndAppend();
    return st;
  }
  table_->EndAppend();
  record_ = std::move(blank);
  recno_ = n;
  eof_ = bof_ = false;
  cursor_synced_ = false;
  return Status::Ok();
}

bool DBServer::Append() {
  if (!table_) return false;
  bool ok = Protect("DBSERVER:APPEND", [&] { return DoAppend(); });
  rt::NetErr(!ok);
  return ok;
}

bool DBServer::Commit() {
  if (!table_) return false;
  return Protect("DBSERVER:COMMIT", [&]() -> Status {
    if (table_->read_only()) return Status::Ok();
    platform::OsStatus s = table_->file()->Flush();
    if (!s.ok()) return Status(Status::kWrite, "cannot flush", s.code(), table_->path());
    return Status::Ok();
  });
}

}  // namespace tables
