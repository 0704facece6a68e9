// The runtime class "DBSERVER": late-bound methods and ACCESS members over a
// C++ DBServer held by the object. Arguments follow the runtime's usual
// conventions: a field is named by symbol, by name or by 1-based position.
#include <memory>

#include "runtime/object.h"
#include "runtime/startup.h"
#include "tables/dbserver.h"

namespace tables {
namespace {

class DBServerObject : public rt::Object {
 public:
  using rt::Object::Object;
  std::unique_ptr<DBServer> server;
};

DBServer* ServerOf(const rt::ObjectRef& self) {
  auto* o = dynamic_cast<DBServerObject*>(self.get());
  return o && o->server && o->server->used() ? o->server.get() : nullptr;
}

rt::Value Arg(rt::Args args, size_t i) { return i < args.size() ? args[i] : rt::Value(); }

// Field position of a symbol, name or number argument (0 when none).
uint32_t FieldArg(DBServer* s, const rt::Value& v, std::string* name) {
  if (v.IsSymbol()) {
    *name = rt::Symbol2String(v.GetSymbol());
  } else if (v.IsString()) {
    *name = v.GetString();
  } else if (v.IsNumeric()) {
    return static_cast<uint32_t>(v.GetLong());
  }
  return s->FieldPos(*name);
}

using Fn = rt::Value (*)(DBServer*, rt::Args);

rt::Method Wrap(Fn fn, rt::Value when_closed = rt::Value::Logic(false)) {
  return [fn, when_closed](const rt::ObjectRef& self, rt::Args args) -> rt::Value {
    DBServer* s = ServerOf(self);
    if (!s) return when_closed;
    return fn(s, args);
  };
}

rt::Value Logic(bool b) { return rt::Value::Logic(b); }

// AppendDB's arguments after the source: field names, FOR and WHILE blocks,
// NEXT, driver, and the marker that holds the append.
DBServer::AppendSpec AppendSpecOf(rt::Args a) {
  DBServer::AppendSpec spec;
  rt::Value fields = Arg(a, 1);
  if (fields.IsArray()) {
    for (const rt::Value& f : fields.GetArray()->items()) {
      spec.fields.push_back(f.IsSymbol() ? rt::Symbol2String(f.GetSymbol()) : f.GetString());
    }
  }
  spec.for_block = Arg(a, 2);
  spec.while_block = Arg(a, 3);
  if (Arg(a, 4).IsNumeric()) spec.next = static_cast<uint32_t>(Arg(a, 4).GetLong());
  if (Arg(a, 5).IsString()) spec.driver = Arg(a, 5).GetString();
  // marker: {ini path, section, key}; the append is then held.
  rt::Value marker = Arg(a, 6);
  if (marker.IsArray() && marker.GetArray()->items().size() == 3) {
    const auto& m = marker.GetArray()->items();
    spec.marker = CommitCondition{m[0].IsString() ? m[0].GetString() : "",
                                  m[1].IsString() ? m[1].GetString() : "",
                                  m[2].IsString() ? m[2].GetString() : ""};
  }
  return spec;
}

// The object's server: made by Init, gone after Close.
void DeclareLifetime(rt::ClassBuilder& b) {
  b.MakeWith(
      [](const rt::Class* cls) -> rt::ObjectRef { return std::make_shared<DBServerObject>(cls); });
  b.Method("Init", [](const rt::ObjectRef& self, rt::Args args) -> rt::Value {
    auto* o = dynamic_cast<DBServerObject*>(self.get());
    rt::Value file = Arg(args, 0), shared = Arg(args, 1), read_only = Arg(args, 2),
              driver = Arg(args, 3);
    o->server = DBServer::Open(file.GetString(), shared.IsNil() ? true : shared.GetLogic(),
                               read_only.IsNil() ? false : read_only.GetLogic(),
                               driver.IsString() ? driver.GetString() : "DBFCDX");
    return rt::Value::FromObject(self);
  });
  b.Method("Close", [](const rt::ObjectRef& self, rt::Args) -> rt::Value {
    auto* o = dynamic_cast<DBServerObject*>(self.get());
    if (!o->server) return Logic(true);
    bool ok = o->server->Close();
    o->server.reset();
    return Logic(ok);
  });
}

// The record pointer.
void DeclareMoves(rt::ClassBuilder& b) {
  b.Method("GoTop", Wrap([](DBServer* s, rt::Args) { return Logic(s->GoTop()); }));
  b.Method("GoBottom", Wrap([](DBServer* s, rt::Args) { return Logic(s->GoBottom()); }));
  b.Method("GoTo", Wrap([](DBServer* s, rt::Args a) {
             return Logic(s->GoTo(static_cast<uint32_t>(Arg(a, 0).GetLong())));
           }));
  b.Method("Skip", Wrap([](DBServer* s, rt::Args a) {
             rt::Value n = Arg(a, 0);
             return Logic(s->Skip(n.IsNil() ? 1 : static_cast<int64_t>(n.GetFloat())));
           }));
}

// Fields by symbol, name or position, and the structure.
void DeclareFields(rt::ClassBuilder& b) {
  b.Method("FieldGet", Wrap(
                           [](DBServer* s, rt::Args a) {
                             std::string name;
                             uint32_t pos = FieldArg(s, Arg(a, 0), &name);
                             return pos == 0 && !name.empty() ? s->FieldGet(name)
                                                              : s->FieldGet(pos);
                           },
                           rt::Value()));
  b.Method("FieldPut", Wrap(
                           [](DBServer* s, rt::Args a) {
                             std::string name;
                             uint32_t pos = FieldArg(s, Arg(a, 0), &name);
                             rt::Value v = Arg(a, 1);
                             if (pos == 0 && !name.empty())
                               s->FieldPut(name, v);
                             else
                               s->FieldPut(pos, v);
                             return v;
                           },
                           rt::Value()));
  b.Method("FieldPos",
           Wrap(
               [](DBServer* s, rt::Args a) {
                 std::string name;
                 return rt::Value::Long(static_cast<int32_t>(FieldArg(s, Arg(a, 0), &name)));
               },
               rt::Value::Long(0)));
  b.Method("FieldName",
           Wrap(
               [](DBServer* s, rt::Args a) {
                 return rt::Value::String(s->FieldName(static_cast<uint32_t>(Arg(a, 0).GetLong())));
               },
               rt::Value::String("")));
  b.Method("DBStruct", Wrap(
                           [](DBServer* s, rt::Args) {
                             rt::ArrayRef rows = rt::ArrayCreate();
                             for (const auto& f : s->Structure()) {
                               rt::AAdd(rows,
                                        rt::Value::FromArray(rt::ArrayInit(
                                            {rt::Value::String(f.name),
                                             rt::Value::String(std::string(1, f.type)),
                                             rt::Value::Long(static_cast<int32_t>(f.length)),
                                             rt::Value::Long(static_cast<int32_t>(f.decimals))})));
                             }
                             return rt::Value::FromArray(rows);
                           },
                           rt::Value::FromArray(rt::ArrayCreate())));
}

// Deletion flags, locks, appends and their commit.
void DeclareWrites(rt::ClassBuilder& b) {
  b.Method("Delete", Wrap([](DBServer* s, rt::Args) { return Logic(s->Delete()); }));
  b.Method("Recall", Wrap([](DBServer* s, rt::Args) { return Logic(s->Recall()); }));
  b.Method("RLock", Wrap([](DBServer* s, rt::Args a) {
             return Logic(s->RLock(static_cast<uint32_t>(Arg(a, 0).GetLong())));
           }));
  b.Method("Unlock", Wrap([](DBServer* s, rt::Args) { return Logic(s->Unlock()); }));
  b.Method("FLock", Wrap([](DBServer* s, rt::Args) { return Logic(s->FLock()); }));
  b.Method("Append", Wrap([](DBServer* s, rt::Args) { return Logic(s->Append()); }));
  b.Method("Commit", Wrap([](DBServer* s, rt::Args) { return Logic(s->Commit()); }));
  b.Method("AppendDB", Wrap([](DBServer* s, rt::Args a) {
             return Logic(s->AppendDB(Arg(a, 0).GetString(), AppendSpecOf(a)));
           }));
  b.Method("CommitAppend", Wrap([](DBServer* s, rt::Args) { return Logic(s->CommitAppend()); }));
  b.Method("RollbackAppend",
           Wrap([](DBServer* s, rt::Args) { return Logic(s->RollbackAppend()); }));
}

// Seek and the orders.
void DeclareOrders(rt::ClassBuilder& b) {
  b.Method("Seek", Wrap([](DBServer* s, rt::Args a) { return Logic(s->Seek(Arg(a, 0))); }));
  rt::Method set_order = Wrap(
      [](DBServer* s, rt::Args a) {
        rt::Value v = Arg(a, 0);
        rt::Value previous = rt::Value::String(s->OrderName());
        if (v.IsNumeric())
          s->SetOrder(static_cast<uint32_t>(v.GetLong()));
        else if (v.IsString())
          s->SetOrder(v.GetString());
        else if (v.IsSymbol())
          s->SetOrder(rt::Symbol2String(v.GetSymbol()));
        return previous;
      },
      rt::Value::String(""));
  b.Method("SetOrder", set_order);
  b.Method("OrdSetFocus", set_order);
  // OrderKey([n]): key expression of order n (default: the controlling one);
  // OrderCount: number of tags. The update checks its lookup order with them.
  b.Method("OrderKey", Wrap([](DBServer* s, rt::Args a) {
             uint32_t n = a.empty() || !a[0].IsNumeric() ? s->OrderNumber()
                                                         : static_cast<uint32_t>(a[0].GetLong());
             CdxIndex* index = s->index();
             if (!index || n == 0 || n > index->tag_count()) return rt::Value::String("");
             return rt::Value::String(index->tag(n - 1).key_expr);
           }));
  b.Method("OrderCount", Wrap([](DBServer* s, rt::Args) {
             CdxIndex* index = s->index();
             return rt::Value::Long(index ? static_cast<int32_t>(index->tag_count()) : 0);
           }));
}

// The ACCESS members.
void DeclareAccess(rt::ClassBuilder& b) {
  b.Access("EOF", Wrap([](DBServer* s, rt::Args) { return Logic(s->Eof()); }, Logic(true)));
  b.Access("BOF", Wrap([](DBServer* s, rt::Args) { return Logic(s->Bof()); }, Logic(true)));
  b.Access("Found", Wrap([](DBServer* s, rt::Args) { return Logic(s->Found()); }));
  b.Access("Deleted", Wrap([](DBServer* s, rt::Args) { return Logic(s->Deleted()); }));
  b.Access("Used", Wrap([](DBServer*, rt::Args) { return Logic(true); }));
  b.Access("RecNo", Wrap([](DBServer* s,
                            rt::Args) { return rt::Value::Long(static_cast<int32_t>(s->RecNo())); },
                         rt::Value::Long(0)));
  rt::Method last_rec = Wrap(
      [](DBServer* s, rt::Args) { return rt::Value::Long(static_cast<int32_t>(s->LastRec())); },
      rt::Value::Long(0));
  b.Access("LastRec", last_rec);
  b.Access("RecCount", last_rec);
  b.Access(
      "FCount",
      Wrap([](DBServer* s, rt::Args) { return rt::Value::Long(static_cast<int32_t>(s->FCount())); },
           rt::Value::Long(0)));
}

}  // namespace

void RegisterDBServerClass() {
  rt::ClassBuilder b("DBServer");
  DeclareLifetime(b);
  DeclareMoves(b);
  DeclareFields(b);
  DeclareWrites(b);
  DeclareOrders(b);
  DeclareAccess(b);
  b.Register();
}

void AddTablesToProgram(rt::Program& program) {
  program.class_declarations.push_back(RegisterDBServerClass);
}

}  // namespace tables
