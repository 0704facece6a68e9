#include "tables/dbserver.h"

#include <algorithm>
#include <optional>

#include "runtime/activation.h"
#include "runtime/error.h"
#include "runtime/settings.h"
#include "tables/cdx/cdx_pager.h"
#include "tables/dbf/dbf_field.h"
#include "tables/dbf_value.h"
#include "tables/dbf/fpt_file.h"
#include "tables/dbf/lock_table.h"

namespace tables {
namespace {

std::vector<DBServer*>& OpenServers() {
  static std::vector<DBServer*> servers;
  return servers;
}

uint32_t SubCodeOf(Status::Code code) {
  switch (code) {
    case Status::kOpen: return 1001;
    case Status::kRead: return 1010;
    case Status::kWrite: return 1011;
    case Status::kCorruption: return 1012;
    case Status::kDataType: return 1020;
    case Status::kDataWidth: return 1021;
    case Status::kLockRequired: return 1022;
    case Status::kAppendLock: return 1024;
    case Status::kReadOnly: return 1025;
    case Status::kNoOrder: return 1201;
    case Status::kLock: return 1038;
    default: return 0;
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
                         ? dbf.substr(0, dot) : dbf;
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
    platform::OsStatus os = OpenSharedFile(
        cdx, read_only ? platform::Access::kRead : platform::Access::kReadWrite,
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

Status DBServer::Load(uint32_t recno) {
  record_.resize(table_->record_length());
  TABLE_RETURN_IF_ERROR(table_->ReadRecord(recno, record_.data()));
  recno_ = recno;
  eof_ = false;
  cursor_synced_ = false;
  return Status::Ok();
}

void DBServer::GoPhantom() {
  record_ = table_->BlankRecord();
  recno_ = table_->RecordCount() + 1;
  eof_ = true;
  cursor_synced_ = false;
}

bool DBServer::Hidden() const { return rt::SetDeleted() && !record_.empty() && record_[0] == '*'; }

uint32_t DBServer::LastRec() {
  if (!table_) return 0;
  // The record appended by the open transaction is counted before it is written.
  if (tx_ == Tx::kAppend) return recno_;
  table_->RefreshCount();
  return table_->RecordCount();
}

bool DBServer::Exists(uint32_t recno) {
  if (recno == 0) return false;
  if (recno <= table_->RecordCount()) return true;
  if (tx_ == Tx::kAppend && recno == recno_) return true;
  return table_->RefreshCount().ok() && recno <= table_->RecordCount();
}

Status DBServer::TopOrBottom(bool top) {
  bof_ = eof_ = false;
  if (order_ < 0) {
    TABLE_RETURN_IF_ERROR(table_->RefreshCount());
    uint32_t count = table_->RecordCount();
    for (uint32_t i = 0; i < count; ++i) {
      TABLE_RETURN_IF_ERROR(Load(top ? i + 1 : count - i));
      if (!Hidden()) return Status::Ok();
    }
  } else {
    Status is = top ? index_->First(order_, &cursor_) : index_->Last(order_, &cursor_);
    while (is.ok() && cursor_.valid) {
      TABLE_RETURN_IF_ERROR(Load(cursor_.recno));
      cursor_synced_ = true;
      if (!Hidden()) return Status::Ok();
      is = top ? index_->Next(&cursor_) : index_->Prev(&cursor_);
    }
    if (!is.ok()) return is.WithFile(index_->file_name());
  }
  GoPhantom();
  bof_ = true;
  return Status::Ok();
}

Status DBServer::SyncCursor() {
  if (cursor_synced_ || eof_) return Status::Ok();
  bool found = false;
  Status is = index_->Locate(order_, recno_, record_, &cursor_, &found);
  if (!is.ok()) return is.WithFile(index_->file_name());
  if (!found) cursor_.valid = false;
  cursor_synced_ = true;
  return Status::Ok();
}

// One visible record forward (dir 1) or back (dir -1) in natural order.
Status DBServer::StepNatural(int dir) {
  if (dir > 0) {
    uint32_t next = recno_ + 1;
    while (true) {
      if (next > table_->RecordCount()) TABLE_RETURN_IF_ERROR(table_->RefreshCount());
      if (next > table_->RecordCount()) {
        GoPhantom();
        return Status::Ok();
      }
      TABLE_RETURN_IF_ERROR(Load(next));
      if (!Hidden()) return Status::Ok();
      ++next;
    }
  }
  uint32_t prev = eof_ ? table_->RecordCount() : recno_ - 1;
  while (prev > 0) {
    TABLE_RETURN_IF_ERROR(Load(prev));
    if (!Hidden()) return Status::Ok();
    --prev;
  }
  TABLE_RETURN_IF_ERROR(TopOrBottom(true));
  bof_ = true;
  return Status::Ok();
}

Status DBServer::StepOrdered(int dir) {
  Status is;
  if (dir < 0 && eof_) {
    is = index_->Last(order_, &cursor_);
  } else {
    TABLE_RETURN_IF_ERROR(SyncCursor());
    if (!cursor_.valid) {
      is = dir > 0 ? Status::Ok() : index_->First(order_, &cursor_);
    } else {
      is = dir > 0 ? index_->Next(&cursor_) : index_->Prev(&cursor_);
    }
  }
  while (is.ok() && cursor_.valid) {
    TABLE_RETURN_IF_ERROR(Load(cursor_.recno));
    cursor_synced_ = true;
    if (!Hidden()) return Status::Ok();
    is = dir > 0 ? index_->Next(&cursor_) : index_->Prev(&cursor_);
  }
  if (!is.ok()) return is.WithFile(index_->file_name());
  if (dir > 0) {
    GoPhantom();
    return Status::Ok();
  }
  TABLE_RETURN_IF_ERROR(TopOrBottom(true));
  bof_ = true;
  return Status::Ok();
}

Status DBServer::DoSkip(int64_t n) {
  bof_ = false;
  if (n == 0) return eof_ ? Status::Ok() : Load(recno_);
  int dir = n > 0 ? 1 : -1;
  for (int64_t i = 0; i < (n > 0 ? n : -n); ++i) {
    if (dir > 0 && eof_) break;
    TABLE_RETURN_IF_ERROR(order_ < 0 ? StepNatural(dir) : StepOrdered(dir));
    if (eof_ || bof_) break;
  }
  return Status::Ok();
}

bool DBServer::GoTop() {
  FinishTx("DBSERVER:GOTOP");
  return Protect("DBSERVER:GOTOP", [&] { return TopOrBottom(true); });
}
bool DBServer::GoBottom() {
  FinishTx("DBSERVER:GOBOTTOM");
  return Protect("DBSERVER:GOBOTTOM", [&] { return TopOrBottom(false); });
}
bool DBServer::Skip(int64_t n) {
  FinishTx("DBSERVER:SKIP");
  return Protect("DBSERVER:SKIP", [&] { return DoSkip(n); });
}

bool DBServer::GoTo(uint32_t recno) {
  FinishTx("DBSERVER:GOTO");
  return Protect("DBSERVER:GOTO", [&]() -> Status {
    bof_ = false;
    if (recno > table_->RecordCount()) TABLE_RETURN_IF_ERROR(table_->RefreshCount());
    if (recno == 0 || recno > table_->RecordCount()) {
      GoPhantom();
      return Status::Ok();
    }
    return Load(recno);
  });
}

uint32_t DBServer::FieldPos(std::string_view name) const {
  int fi = table_->FieldIndex(name);
  if (fi < 0) return 0;
  const auto& vis = table_->visible_fields();
  return static_cast<uint32_t>(std::find(vis.begin(), vis.end(), static_cast<size_t>(fi)) -
                               vis.begin() + 1);
}

std::string DBServer::FieldName(uint32_t pos) const {
  if (pos == 0 || pos > FCount()) return "";
  return table_->fields()[table_->visible_fields()[pos - 1]].name;
}

std::vector<DBServer::FieldInfo> DBServer::Structure() const {
  std::vector<FieldInfo> out;
  for (size_t i : table_->visible_fields()) {
    const FieldDesc& f = table_->fields()[i];
    out.push_back({f.name, RuntimeTypeOf(f.type), f.length, f.decimals});
  }
  return out;
}

rt::Value DBServer::FieldGet(uint32_t pos) {
  rt::Value v;
  Protect("DBSERVER:FIELDGET", [&]() -> Status {
    if (pos == 0 || pos > FCount()) {
      return Status(Status::kArgument, "no field number " + std::to_string(pos), 0,
                    table_->path());
    }
    return FieldGetValue(*table_, table_->visible_fields()[pos - 1], record_.data(), &v);
  });
  return v;
}

rt::Value DBServer::FieldGet(std::string_view name) {
  uint32_t pos = FieldPos(name);
  if (pos == 0) {
    Protect("DBSERVER:FIELDGET", [&] {
      return Status(Status::kNoVar, "field " + std::string(name) + " does not exist", 0,
                    table_->path());
    });
    return rt::Value();
  }
  return FieldGet(pos);
}

std::string DBServer::OrderName() const {
  return order_ < 0 ? std::string() : index_->tag(static_cast<size_t>(order_)).name;
}

bool DBServer::SetOrder(uint32_t number) {
  return Protect("DBSERVER:SETORDER", [&]() -> Status {
    if (number == 0) {
      order_ = -1;
    } else if (!index_ || number > index_->tag_count()) {
      return Status(Status::kNoOrder, "no order number " + std::to_string(number), 0,
                    table_->path());
    } else {
      order_ = static_cast<int>(number - 1);
    }
    cursor_synced_ = false;
    return Status::Ok();
  });
}

bool DBServer::SetOrder(std::string_view tag_name) {
  if (tag_name.empty()) return SetOrder(0u);
  int t = index_ ? index_->FindTag(tag_name) : -1;
  if (t < 0) {
    return Protect("DBSERVER:SETORDER", [&] {
      return Status(Status::kNoOrder, "no order named " + std::string(tag_name), 0,
                    table_->path());
    });
  }
  return SetOrder(static_cast<uint32_t>(t + 1));
}

Status DBServer::DoSeek(const rt::Value& key) {
  found_ = false;
  bof_ = false;
  if (order_ < 0) {
    return Status(Status::kNoOrder, table_->path() + ": Seek without a controlling order", 0,
                  table_->path());
  }
  ExprValue ev;
  if (key.IsString()) {
    ev = ExprValue::Char(key.GetString());
  } else if (key.IsNumeric()) {
    ev = ExprValue::Number(key.GetFloat());
  } else if (key.IsDate()) {
    ev = ExprValue::Date(key.GetDate().julian);
  } else if (key.IsLogic()) {
    ev = ExprValue::Logic(key.GetLogic());
  } else {
    return Status(Status::kDataType, "Seek: key of an unusable type", 0, table_->path());
  }
  std::string k;
  Status is = index_->SeekKey(order_, ev, &k);
  bool found = false;
  if (is.ok()) is = index_->Seek(order_, k, &cursor_, &found);
  while (is.ok() && found && cursor_.valid && cursor_.key.compare(0, k.size(), k) == 0) {
    TABLE_RETURN_IF_ERROR(Load(cursor_.recno));
    cursor_synced_ = true;
    if (!Hidden()) {
      found_ = true;
      return Status::Ok();
    }
    is = index_->Next(&cursor_);
  }
  if (!is.ok()) return is.WithFile(index_->file_name());
  GoPhantom();
  return Status::Ok();
}

bool DBServer::Seek(const rt::Value& key) {
  FinishTx("DBSERVER:SEEK");
  Protect("DBSERVER:SEEK", [&] { return DoSeek(key); });
  return found_;
}

}  // namespace tables
