#include "tariff/db.h"

#include "platform/file.h"
#include "runtime/convert.h"
#include "runtime/error.h"
#include "runtime/object.h"
#include "tables/cdx/rollback_journal.h"

namespace tariff {
namespace {

rt::Value Sym(const char* name) { return rt::Value::Sym(rt::String2Symbol(name)); }

}  // namespace

Db::Db(const std::string& path, bool read_only) : path_(path) {
  // Opening a table first undoes what a dead writer left in its journal; a
  // look that must not write (the dry run) leaves such a table closed.
  if (read_only && platform::FileExists(tables::JournalPath(path))) {
    rt::ErrorInfo e;
    e.subsystem = "DBFCDX";
    e.gen_code = rt::kGenOpen;
    e.severity = 2;
    e.operation = "DBSERVER:INIT";
    e.description = "Journal of an interrupted write beside the table: not opened read-only";
    e.file_name = path;
    e.can_default = true;
    rt::RaiseError(e);
    return;
  }
  server_ = rt::CreateInstance(
      rt::String2Symbol("DBServer"),
      std::vector<rt::Value>{rt::Value::String(path), rt::Value::Logic(true),
                             rt::Value::Logic(read_only), rt::Value::String("DBFCDX")});
}

bool Db::opened() const {
  return server_.IsObject() && rt::IVarGet(server_, rt::String2Symbol("Used")).GetLogic();
}

void Db::GoTop() const { rt::Send(server_, "GoTop"); }

bool Db::Eof() const { return rt::IVarGet(server_, rt::String2Symbol("EOF")).GetLogic(); }

void Db::Skip() const { rt::Send(server_, "Skip"); }

void Db::GoTo(uint32_t recno) const {
  rt::Send(server_, "GoTo", {rt::Value::Long(static_cast<int32_t>(recno))});
}

uint32_t Db::RecNo() const {
  return static_cast<uint32_t>(rt::IVarGet(server_, rt::String2Symbol("RECNO")).GetLong());
}

std::string Db::SetOrder(uint32_t order) const {
  return rt::AsString(
      rt::Send(server_, "SetOrder", {rt::Value::Long(static_cast<int32_t>(order))}));
}

void Db::RestoreOrder(const std::string& name) const {
  rt::Send(server_, "SetOrder", {rt::Value::String(name)});
}

uint32_t Db::LastRec() const {
  return static_cast<uint32_t>(rt::IVarGet(server_, rt::String2Symbol("LASTREC")).GetLong());
}

rt::Value Db::FieldGet(const char* field) const {
  return rt::Send(server_, "FieldGet", {Sym(field)});
}

void Db::FieldPut(const char* field, const rt::Value& v) const {
  rt::Send(server_, "FieldPut", {Sym(field), v});
}

bool Db::Seek(const std::string& key) const {
  return rt::Send(server_, "Seek", {rt::Value::String(key)}).GetLogic();
}

void Db::RLock() const { rt::Send(server_, "RLock"); }

bool Db::Unlock() const { return rt::Send(server_, "Unlock").GetLogic(); }

bool Db::Append() const { return rt::Send(server_, "Append").GetLogic(); }

bool Db::AppendDB(const std::string& source) const {
  return rt::Send(server_, "AppendDB",
                  {rt::Value::String(source), rt::Value(), rt::Value(), rt::Value(), rt::Value(),
                   rt::Value::String("DBFCDX")})
      .GetLogic();
}

bool Db::AppendDBHeld(const std::string& source, const std::string& marker_ini,
                      const std::string& key) const {
  rt::Value marker = rt::Value::FromArray(rt::ArrayInit(
      {rt::Value::String(marker_ini), rt::Value::String("2017"), rt::Value::String(key)}));
  return rt::Send(server_, "AppendDB",
                  {rt::Value::String(source), rt::Value(), rt::Value(), rt::Value(), rt::Value(),
                   rt::Value::String("DBFCDX"), marker})
      .GetLogic();
}

bool Db::CommitAppend() const { return rt::Send(server_, "CommitAppend").GetLogic(); }

bool Db::RollbackAppend() const { return rt::Send(server_, "RollbackAppend").GetLogic(); }

std::map<std::string, Db::FieldShape> Db::Structure() const {
  std::map<std::string, FieldShape> fields;
  rt::Value rows = rt::Send(server_, "DBStruct");
  if (!rows.IsArray()) return fields;
  for (const rt::Value& row : rows.GetArray()->items()) {
    if (!row.IsArray() || row.GetArray()->items().size() < 4) continue;
    const std::vector<rt::Value>& f = row.GetArray()->items();
    FieldShape shape;
    std::string type = f[1].IsString() ? f[1].GetString() : "";
    shape.type = type.empty() ? 0 : type[0];
    shape.length = static_cast<uint32_t>(f[2].GetLong());
    shape.decimals = static_cast<uint32_t>(f[3].GetLong());
    fields[rt::Upper(f[0].GetString())] = shape;
  }
  return fields;
}

void Db::Close() const {
  if (server_.IsObject()) rt::Send(server_, "Close");
}

bool Db::UseOrderKeyedOn(const std::string& key) const {
  const std::string wanted = NormalKey(key);
  if (NormalKey(rt::Send(server_, "OrderKey").GetString()) == wanted) return true;
  int32_t count = rt::Send(server_, "OrderCount").GetLong();
  for (int32_t n = 1; n <= count; ++n) {
    if (NormalKey(rt::Send(server_, "OrderKey", {rt::Value::Long(n)}).GetString()) == wanted) {
      rt::Send(server_, "SetOrder", {rt::Value::Long(n)});
      return true;
    }
  }
  return false;
}

std::string NormalKey(const std::string& expression) {
  std::string upper = rt::Upper(expression);
  std::string out;
  for (size_t i = 0; i < upper.size(); ++i) {
    if (upper.compare(i, 7, "FIELD->") == 0) {
      i += 6;
      continue;
    }
    if (upper[i] != ' ') out.push_back(upper[i]);
  }
  return out;
}

}  // namespace tariff
