// DBServer: opening (a dead writer's journal undone first, the structural
// index attached), closing, CloseAll, and the table service's failures as the
// runtime's error records. The record pointer is in dbserver_cursor.cc.
#include "tables/dbserver.h"

#include <algorithm>
#include <optional>

#include "runtime/activation.h"
#include "runtime/error.h"
#include "runtime/settings.h"
#include "tables/cdx/cdx_pager.h"
#include "tables/dbf/dbf_field.h"
#include "tables/dbf/fpt_file.h"
#include "tables/dbf/lock_table.h"
#include "tables/dbf_value.h"

namespace tables {
namespace {

std::vector<DBServer*>& OpenServers() {
  static std::vector<DBServer*> servers;
  return servers;
}

uint32_t SubCodeOf(Status::Code code) {
  switch (code) {
    case Status::kOpen:
      return 1001;
    case Status::kRead:
      return 1010;
    case Status::kWrite:
      return 1011;
    case Status::kCorruption:
      return 1012;
    case Status::kDataType:
      return 1020;
    case Status::kDataWidth:
      return 1021;
    case Status::kLockRequired:
      return 1022;
    case Status::kAppendLock:
      return 1024;
    case Status::kReadOnly:
      return 1025;
    case Status::kNoOrder:
      return 1201;
    case Status::kLock:
      return 1038;
    default:
      return 0;
  }
}

// Memo values for key expressions over memo fields.
class TableMemoReader : public MemoReader {
 public:
  explicit TableMemoReader(Table* t) : table_(t) {}
  Status ReadMemo(size_t field, std::span<const uint8_t> bytes, std::string* out) override {
    out->clear();
    const FieldDesc& f = table_->fields()[field];
    uint32_t block = 0;
    if (!MemoBlock(f, bytes.data(), &block)) return Status::Corruption("bad memo pointer");
    if (block == 0) return Status::Ok();
    if (!table_->memo()) return Status::Corruption("no memo file");
    Status st = table_->memo()->Read(block, out);
    if (!st.ok()) return Status::Corruption(st.text());
    return Status::Ok();
  }

 private:
  Table* table_;
};

std::string CdxPath(const std::string& dbf) {
  size_t slash = dbf.find_last_of("\\/");
  size_t dot = dbf.find_last_of('.');
  std::string base = (dot != std::string::npos && (slash == std::string::npos || dot > slash))
                         ? dbf.substr(0, dot)
                         : dbf;
  return base + ".cdx";
}

}  // namespace

rt::ErrorInfo MakeErrorInfo(const Status& st, const char* operation, const std::string& path) {
  rt::ErrorInfo info;
  info.subsystem = "DBFCDX";
  info.gen_code = st.code();
  info.sub_code = SubCodeOf(st.code());
  info.os_code = st.os_code();
  info.operation = operation;
  info.description = st.text();
  info.file_name = st.file().empty() ? path : st.file();
  info.can_retry = st.can_retry();
  info.can_default = true;
  return info;
}

bool DBServer::Protect(const char* operation, const std::function<Status()>& attempt) {
  // Every protected operation runs under its own activation (DBSERVER:SEEK,
  // ...); one that registered it already is not listed twice.
  std::optional<rt::Routine> frame;
  if (rt::ProcName(0) != operation) frame.emplace(operation, "DBServer", __LINE__);
  std::string path = table_ ? table_->path() : std::string();
  bool ok = true;
  auto outcome = rt::RunWithErrorProtocol([&]() -> std::optional<rt::ErrorInfo> {
    Status st = attempt();
    if (st.ok()) return std::nullopt;
    return MakeErrorInfo(st, operation, path);
  });
  if (outcome.has_value()) ok = false;
  return ok;
}

Status DBServer::TryOpen(std::string_view path, bool shared, bool read_only,
                         std::string_view driver, LockSchemeId scheme,
                         std::unique_ptr<DBServer>* out) {
  out->reset();
  std::string d = std::string(driver);
  for (char& c : d) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (!d.empty() && d != "DBFCDX") {
    return Status(Status::kOpen, "unknown driver " + std::string(driver), 0, std::string(path));
  }
  std::unique_ptr<DBServer> s(new DBServer);
  OpenOptions options;
  options.shared = shared;
  options.read_only = read_only;
  options.scheme = scheme;
  // A transaction left by a dead writer is undone before anything reads the
  // table; a live writer's journal is left alone.
  if (platform::FileExists(JournalPath(path))) {
    RecoveryResult recovered = RecoveryResult::kNone;
    Status st = Recover(path, shared, scheme, false, &recovered, nullptr);
    if (!st.ok() && !(read_only && recovered == RecoveryResult::kRefused)) return st;
  }
  TABLE_RETURN_IF_ERROR(Table::Open(path, options, &s->table_));
  Table& t = *s->table_;
  s->WrapForJournal();
  std::string cdx = CdxPath(t.path());
  bool exists = platform::FileExists(cdx);
  if (t.header().structural_cdx() || exists) {
    std::unique_ptr<platform::File> raw;
    platform::OsStatus os =
        OpenSharedFile(cdx, read_only ? platform::Access::kRead : platform::Access::kReadWrite,
                       shared ? platform::Share::kDenyNone : platform::Share::kExclusive,
                       platform::Disposition::kOpenExisting, &raw);
    if (!os.ok()) {
      return Status(Status::kOpen, "cannot open the structural index " + cdx, os.code(), cdx);
    }
    s->cdx_file_ = std::make_unique<JournalFile>(std::move(raw), s->journal_.get(), 'C');
    if (s->journal_) s->journal_->Attach('C', s->cdx_file_->base(), cdx);
    s->memo_reader_ = std::make_unique<TableMemoReader>(&t);
    IndexOptions io;
    io.shared = shared;
    io.read_only = read_only;
    LockRange lock = t.scheme().IndexLock();
    io.lock_offset = lock.offset;
    io.lock_length = lock.length;
    io.memo = s->memo_reader_.get();
    Status is = CdxIndex::Open(s->cdx_file_.get(), cdx, t.index_fields(), io, &s->index_);
    if (!is.ok()) return is.WithFile(cdx);
    if (s->index_->tag_count() > 0) s->order_ = 0;
    JournalFile* journalled = s->cdx_file_.get();
    s->index_->pager().set_before_commit(
        [journalled](const std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
          return journalled->Prepare(ranges);
        });
  }
  static bool hooked = false;
  if (!hooked) {
    hooked = true;
    rt::AddCloseAllHook([] { DBServer::CloseAll(); });
  }
  OpenServers().push_back(s.get());
  Status st = s->TopOrBottom(true);
  if (!st.ok()) return st;
  *out = std::move(s);
  return Status::Ok();
}

std::unique_ptr<DBServer> DBServer::Open(std::string_view path, bool shared, bool read_only,
                                         std::string_view driver, LockSchemeId scheme) {
  RT_ROUTINE("DBSERVER:INIT", "DBServer");
  std::unique_ptr<DBServer> out;
  auto outcome = rt::RunWithErrorProtocol([&]() -> std::optional<rt::ErrorInfo> {
    Status st = TryOpen(path, shared, read_only, driver, scheme, &out);
    if (st.ok()) return std::nullopt;
    rt::ErrorInfo info = MakeErrorInfo(st, "DBSERVER:INIT", std::string(path));
    return info;
  });
  if (outcome.has_value()) out.reset();
  return out;
}

DBServer::~DBServer() {
  Close();
  auto& all = OpenServers();
  all.erase(std::remove(all.begin(), all.end(), this), all.end());
}

void DBServer::CloseAll() {
  for (DBServer* s : std::vector<DBServer*>(OpenServers())) s->Close();
}

bool DBServer::Close() {
  if (!table_) return true;
  RT_ROUTINE("DBSERVER:CLOSE", "DBServer");
  if (tx_ == Tx::kHeld) {
    // Decided as recovery would: kept when its marker was written.
    if (ReadConditionValue(*held_) == "1") {
      CommitAppend();
    } else {
      RollbackAppend();
    }
  }
  FinishTx("DBSERVER:CLOSE");
  Status st = table_->UnlockAll();
  index_.reset();
  cdx_file_.reset();
  memo_reader_.reset();
  Status closed = table_->Close();
  table_.reset();
  eof_ = bof_ = true;
  recno_ = 0;
  record_.clear();
  if (!closed.ok()) {
    rt::RaiseError(MakeErrorInfo(closed, "DBSERVER:CLOSE", closed.file()));
    return false;
  }
  return true;
}

}  // namespace tables
