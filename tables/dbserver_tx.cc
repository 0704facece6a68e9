// DBServer's write transactions: the rollback journal around each record
// change, the held append and recovery at open (see dbserver.h).
#include "runtime/error.h"
#include "tables/cdx/cdx_pager.h"
#include "tables/dbf/fpt_file.h"
#include "tables/dbf/lock_table.h"
#include "tables/dbserver.h"

namespace tables {

void DBServer::WrapForJournal() {
  journal_ = std::make_unique<RollbackJournal>(table_->path());
  table_->WrapFiles([this](std::unique_ptr<platform::File> f, char role) {
    auto jf = std::make_unique<JournalFile>(std::move(f), journal_.get(), role);
    journal_->Attach(role, jf->base(), role == 'D' ? table_->path() : table_->memo()->name());
    return jf;
  });
}

Status DBServer::BeginTx(const CommitCondition* condition) { return journal_->Begin(condition); }

Status DBServer::BeginRecordTx(const std::vector<uint8_t>& old_record) {
  if (tx_ == Tx::kHeld) {
    return Status(Status::kAppendLock, table_->path() + ": an append is held", 0, table_->path());
  }
  if (tx_ != Tx::kNone) return Status::Ok();
  TABLE_RETURN_IF_ERROR(table_->LockHeader());
  Status st = BeginTx(nullptr);
  const uint64_t r = table_->record_length();
  if (st.ok()) st = journal_->Cover('D', table_->header().header_length + (recno_ - 1) * r, r);
  if (!st.ok()) {
    if (journal_->active()) journal_->Rollback();
    table_->UnlockHeader();
    return st;
  }
  tx_old_record_ = old_record;
  tx_ = Tx::kRecord;
  return Status::Ok();
}

Status DBServer::EndRecordTx() {
  if (tx_ != Tx::kRecord && tx_ != Tx::kAppend) return Status::Ok();
  // The record's one write: an appended record lands on its reserved number
  // with the new count in the header (record bytes first, as other engines
  // write them), a rewritten one in place. An appended record's index
  // entries are made before it, under the index lock, and the pages they
  // change announced: the journal saves them with the record's old bytes and
  // flushes once, not once before the record and again before the index.
  // They reach the index file after the record, at EndUpdate.
  Status st;
  const bool staged = tx_ == Tx::kAppend && index_;
  if (staged) {
    st = IndexChange([&] {
      Status is = index_->BeginUpdate();
      if (is.ok()) is = index_->Append(recno_, record_);
      if (is.ok()) is = index_->pager().AnnounceChanges();
      return is;
    });
  }
  if (st.ok() && tx_ == Tx::kAppend) {
    uint32_t n = 0;
    st = table_->AppendRecords(record_.data(), 1, true, &n);
  } else if (st.ok()) {
    st = table_->WriteRecord(recno_, record_.data());
  }
  if (st.ok() && index_) {
    st = IndexChange([&] {
      return staged ? index_->EndUpdate() : index_->Update(recno_, tx_old_record_, record_);
    });
  } else if (!st.ok() && staged) {
    index_->AbortUpdate();
  }
  if (st.ok()) st = journal_->MarkEnd(false);
  if (st.ok()) st = journal_->Commit();
  if (!st.ok()) {
    Status back = AbortTx();
    if (!back.ok()) {
      return Status(st.code(), st.text() + "; then " + back.text(), st.os_code(), st.file());
    }
    return st;
  }
  if (tx_ == Tx::kAppend) {
    table_->EndAppend();
  } else {
    table_->UnlockHeader();
  }
  tx_ = Tx::kNone;
  cursor_synced_ = false;
  return Status::Ok();
}

Status DBServer::AbortTx() {
  if (tx_ == Tx::kNone && !journal_->active()) return Status::Ok();
  Status st = journal_->Rollback();
  if (!st.ok()) journal_->Abandon();
  if (index_) index_->pager().Discard();  // pages were put back behind its back
  if (tx_ == Tx::kAppend || tx_ == Tx::kHeld) {
    table_->RollbackAppend();  // the journal put the file back; the count follows
    table_->EndAppend();
  } else {
    table_->UnlockHeader();
  }
  if (tx_ == Tx::kRecord) record_ = tx_old_record_;
  if (tx_ == Tx::kAppend || tx_ == Tx::kHeld) GoPhantom();
  tx_ = Tx::kNone;
  held_.reset();
  cursor_synced_ = false;
  return st;
}

bool DBServer::FinishTx(const char* operation) {
  if (tx_ != Tx::kRecord && tx_ != Tx::kAppend) return true;
  Status st = EndRecordTx();
  if (st.ok()) return true;
  rt::ErrorInfo info = MakeErrorInfo(st, operation, table_->path());
  info.can_retry = false;
  rt::RaiseError(info);
  return false;
}

bool DBServer::CommitAppend() {
  if (!table_) return false;
  if (tx_ != Tx::kHeld) {
    return Protect(
               "DBSERVER:COMMITAPPEND",
               [&] { return Status(Status::kArgument, "no append is held", 0, table_->path()); }) &&
           false;
  }
  Status st = journal_->Commit();
  if (!st.ok()) {
    // The journal stays with its end record and condition: recovery decides.
    journal_->Abandon();
  }
  table_->EndAppend();
  tx_ = Tx::kNone;
  held_.reset();
  if (!st.ok()) {
    rt::RaiseError(MakeErrorInfo(st, "DBSERVER:COMMITAPPEND", table_->path()));
    return false;
  }
  return true;
}

bool DBServer::RollbackAppend() {
  if (!table_) return false;
  if (tx_ != Tx::kHeld) {
    return Protect(
               "DBSERVER:ROLLBACKAPPEND",
               [&] { return Status(Status::kArgument, "no append is held", 0, table_->path()); }) &&
           false;
  }
  Status st = AbortTx();
  if (!st.ok()) {
    rt::ErrorInfo info = MakeErrorInfo(st, "DBSERVER:ROLLBACKAPPEND", table_->path());
    info.can_retry = false;
    rt::RaiseError(info);
    return false;
  }
  return true;
}

Status DBServer::Recover(std::string_view path, bool shared, LockSchemeId scheme, bool force,
                         RecoveryResult* result, std::string* detail) {
  *result = RecoveryResult::kNone;
  if (JournalInUse(path)) {
    // A running writer's: not ours to judge, and its header lock may be held.
    *result = RecoveryResult::kLive;
    if (detail) *detail = JournalPath(path) + ": " + RecoveryResultName(*result);
    return Status::Ok();
  }
  OpenOptions options;
  options.shared = shared;
  options.scheme = scheme;
  std::unique_ptr<Table> t;
  TABLE_RETURN_IF_ERROR(Table::Open(path, options, &t));
  // Our writers create and delete journals under the header lock only.
  TABLE_RETURN_IF_ERROR(t->LockHeader());
  std::unique_ptr<platform::File> cdx;
  Status cdx_error;
  auto open_file = [&](char role, const std::string& name) -> platform::File* {
    switch (role) {
      case 'D':
        return t->file();
      case 'M':
        return t->memo() ? t->memo()->file() : nullptr;
      case 'C': {
        platform::OsStatus s =
            OpenSharedFile(name, platform::Access::kReadWrite,
                           shared ? platform::Share::kDenyNone : platform::Share::kExclusive,
                           platform::Disposition::kOpenExisting, &cdx);
        return s.ok() ? cdx.get() : nullptr;
      }
    }
    return nullptr;
  };
  Status st = RecoverJournal(t->path(), open_file, force, result, detail);
  t->UnlockHeader();
  return st;
}

}  // namespace tables
