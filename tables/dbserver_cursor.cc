// DBServer's record pointer: Load and the phantom record past the end,
// GoTop, GoBottom, Skip and GoTo in natural or controlling order with deleted
// records hidden under SET DELETED, fields by position, orders and Seek.
#include <algorithm>

#include "runtime/settings.h"
#include "tables/dbf_value.h"
#include "tables/dbserver.h"

namespace tables {

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
      return Status(Status::kArgument, "no field number " + std::to_string(pos), 0, table_->path());
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
      return Status(Status::kNoOrder, "no order named " + std::string(tag_name), 0, table_->path());
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
