// The error record: the raw structure an error generator receives, the
// numbered references it holds instead of pointers (texts, the argument list,
// the function), the record built from an ErrorInfo and the error object built
// from a record; and the names of the general codes and value types. Raising
// an error and the rest of the protocol: error.cc.
#include <algorithm>
#include <unordered_map>

#include "runtime/error.h"
#include "runtime/object.h"

namespace rt {
namespace {

// The pointers the error records hand out as numbers.
struct RefTable {
  std::unordered_map<uint32_t, const void*> refs;
  uint32_t next_ref = 1;
};

RefTable& Refs() {
  static auto* table = new RefTable;
  return *table;
}

void PutLE(std::array<uint8_t, 100>& b, size_t off, uint32_t v) {
  b[off] = static_cast<uint8_t>(v);
  b[off + 1] = static_cast<uint8_t>(v >> 8);
  b[off + 2] = static_cast<uint8_t>(v >> 16);
  b[off + 3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

std::string ErrString(uint32_t gen_code) {
  switch (gen_code) {
    case 0:
      return "";
    case kGenArg:
      return "Argument error";
    case kGenBound:
      return "Bound error";
    case kGenStrOverflow:
      return "String overflow";
    case kGenNumOverflow:
      return "Numeric overflow";
    case kGenZeroDiv:
      return "Zero divisor";
    case kGenNumErr:
      return "Numeric error";
    case kGenSyntax:
      return "Syntax error";
    case kGenComplexity:
      return "Operation too complex";
    case kGenMem:
      return "Memory low";
    case kGenNoFunc:
      return "Undefined function";
    case kGenNoMethod:
      return "No exported method";
    case kGenNoVar:
      return "No exported variable";
    case kGenNoAlias:
      return "Alias does not exist";
    case kGenNoVarMethod:
      return "No exported variable or method";
    case kGenCreate:
      return "Create error";
    case kGenOpen:
      return "Open error";
    case kGenClose:
      return "Close error";
    case kGenRead:
      return "Read error";
    case kGenWrite:
      return "Write error";
    case kGenPrint:
      return "Print error";
    case kGenWrongClass:
      return "Wrong class";
    case kGenUnsupported:
      return "Operation not supported";
    case kGenLimit:
      return "Limit exceeded";
    case kGenCorruption:
      return "Corruption detected";
    case kGenDataType:
      return "Data type error";
    case kGenDataWidth:
      return "Data width error";
    case kGenNoTable:
      return "Workarea not in use";
    case kGenNoOrder:
      return "Workarea not indexed";
    case kGenShared:
      return "Exclusive required";
    case kGenUnlocked:
      return "Lock required";
    case kGenReadOnly:
      return "Write not allowed";
    case kGenAppendLock:
      return "Append lock failed";
    case kGenLock:
      return "Lock failure";
    default:
      return "Unknown error";
  }
}

std::string TypeString(uint32_t type_code) {
  switch (type_code) {
    case 0:
      return "NIL";
    case 1:
      return "LONGINT";
    case 2:
      return "DATE";
    case 3:
      return "FLOAT";
    case 5:
      return "ARRAY";
    case 6:
      return "OBJECT";
    case 7:
      return "STRING";
    case 8:
      return "LOGIC";
    case 9:
      return "CODEBLOCK";
    case 10:
      return "SYMBOL";
    case 11:
      return "BYTE";
    case 12:
      return "SHORTINT";
    case 13:
      return "WORD";
    case 14:
      return "DWORD";
    case 15:
      return "REAL4";
    case 16:
      return "REAL8";
    case 17:
      return "PSZ";
    case 18:
      return "PTR";
    case 19:
      return "USUAL";
    default:
      return "";
  }
}

uint32_t ErrorStructure::Get(size_t off) const {
  return static_cast<uint32_t>(bytes[off]) | static_cast<uint32_t>(bytes[off + 1]) << 8 |
         static_cast<uint32_t>(bytes[off + 2]) << 16 | static_cast<uint32_t>(bytes[off + 3]) << 24;
}

void ErrorStructure::Put(size_t off, uint32_t v) { PutLE(bytes, off, v); }

uint32_t RegisterRef(const void* p) {
  if (!p) return 0;
  RefTable& t = Refs();
  uint32_t ref = t.next_ref++;
  if (t.next_ref == 0) t.next_ref = 1;
  t.refs[ref] = p;
  return ref;
}

void ReleaseRef(uint32_t ref) { Refs().refs.erase(ref); }

const void* ResolveRef(uint32_t ref) {
  auto& refs = Refs().refs;
  auto it = refs.find(ref);
  return it == refs.end() ? nullptr : it->second;
}

std::string RecordText(const ErrorStructure& rec, size_t offset) {
  auto* s = static_cast<const std::string*>(ResolveRef(rec.Get(offset)));
  return s ? *s : std::string();
}

ErrorRecord::ErrorRecord() = default;

ErrorRecord::ErrorRecord(const ErrorInfo& info) {
  SetText(es::kSubSystem, info.subsystem);
  raw_.Put(es::kSubCode, info.sub_code);
  raw_.Put(es::kGenCode, info.gen_code);
  raw_.Put(es::kOsCode, info.os_code);
  raw_.Put(es::kSeverity, info.severity);
  raw_.Put(es::kCanDefault, info.can_default ? 1 : 0);
  raw_.Put(es::kCanRetry, info.can_retry ? 1 : 0);
  raw_.Put(es::kCanSubstitute, info.can_substitute ? 1 : 0);
  SetText(es::kOperation, info.operation);
  SetText(es::kDescription, info.description);
  SetText(es::kFileName, info.file_name);
  if (info.args) {
    arg_list_ = std::make_unique<ErrorArgList>();
    arg_list_->count1 = static_cast<uint16_t>(info.args->size());
    arg_list_->count2 = static_cast<uint16_t>(info.args->size());
    arg_list_->values = *info.args;
    uint32_t ref = RegisterRef(arg_list_.get());
    refs_.push_back(ref);
    raw_.Put(es::kArgs, ref);
  }
  raw_.Put(es::kTries, info.tries);
  raw_.Put(es::kFuncSym, info.func_sym.id());
  raw_.Put(es::kFileHandle, info.file_handle);
  raw_.Put(es::kArgNum, info.arg_num);
  if (info.func_ptr) {
    uint32_t ref = RegisterRef(info.func_ptr);
    refs_.push_back(ref);
    raw_.Put(es::kFuncPtr, ref);
  }
  SetText(es::kSubCodeText, info.sub_code_text);
  SetText(es::kArg, info.arg);
  raw_.Put(es::kArgType, info.arg_type);
  raw_.Put(es::kArgTypeReq, info.arg_type_req);
  raw_.Put(es::kMaxSize, info.max_size);
  raw_.Put(es::kSubstituteType, info.substitute_type);
  raw_.Put(es::kChoice, info.choice);
  raw_.Put(es::kCallFuncSym, info.call_func_sym.id());
}

ErrorRecord::~ErrorRecord() { Clear(); }

void ErrorRecord::Clear() {
  for (uint32_t ref : refs_) ReleaseRef(ref);
  refs_.clear();
  texts_.clear();
  arg_list_.reset();
  raw_.Clear();
}

void ErrorRecord::SetText(size_t offset, std::string text) {
  if (text.empty()) {
    raw_.Put(offset, 0);
    return;
  }
  texts_.push_back(std::make_unique<std::string>(std::move(text)));
  uint32_t ref = RegisterRef(texts_.back().get());
  refs_.push_back(ref);
  raw_.Put(offset, ref);
}

Value ErrorBuild(const ErrorStructure& rec) {
  // Without the class there is nothing to build; asking CreateInstance would
  // raise another error about the missing class, and so on.
  Symbol error_class = String2Symbol("ERROR");
  if (!IsClass(error_class)) return Value();
  Value err = CreateInstance(error_class, std::vector<Value>{Value::Long(1)});
  if (!err.IsObject()) return Value();
  auto put = [&](const char* name, Value v) {
    Symbol s = String2Symbol(name);
    if (IVarGetInfo(err, s)) IVarPut(err, s, std::move(v));
  };
  auto text = [&](size_t off) { return Value::String(RecordText(rec, off)); };
  auto dword = [&](size_t off) { return Value::Dword(rec.Get(off)); };
  auto logic = [&](size_t off) { return Value::Logic(rec.Get(off) != 0); };
  put("SubSystem", text(es::kSubSystem));
  put("SubCode", dword(es::kSubCode));
  put("GenCode", dword(es::kGenCode));
  put("OsCode", dword(es::kOsCode));
  put("Severity", dword(es::kSeverity));
  put("CanDefault", logic(es::kCanDefault));
  put("CanRetry", logic(es::kCanRetry));
  put("CanSubstitute", logic(es::kCanSubstitute));
  put("Operation", text(es::kOperation));
  put("Description", text(es::kDescription));
  put("FileName", text(es::kFileName));
  auto* list = static_cast<const ErrorArgList*>(ResolveRef(rec.Get(es::kArgs)));
  ArrayRef args = ArrayCreate();
  if (list) {
    size_t n = std::max(list->count1, list->count2);
    for (size_t i = 0; i < n && i < list->values.size(); ++i) AAdd(args, list->values[i]);
  }
  put("Args", Value::FromArray(args));
  put("Tries", dword(es::kTries));
  put("FuncSym", Value::Sym(Symbol(rec.Get(es::kFuncSym))));
  put("FileHandle", dword(es::kFileHandle));
  put("ArgNum", dword(es::kArgNum));
  put("FuncPtr", Value::Ptr(const_cast<void*>(ResolveRef(rec.Get(es::kFuncPtr)))));
  put("SubCodeText", text(es::kSubCodeText));
  put("Arg", text(es::kArg));
  put("ArgType", dword(es::kArgType));
  put("ArgTypeReq", dword(es::kArgTypeReq));
  put("MaxSize", dword(es::kMaxSize));
  put("SubstituteType", dword(es::kSubstituteType));
  Symbol choice = String2Symbol("Choice");
  if (IVarGetInfo(err, choice) && IVarGet(err, choice).GetDword() == 0) {
    put("Choice", dword(es::kChoice));
  }
  put("CallFuncSym", Value::Sym(Symbol(rec.Get(es::kCallFuncSym))));
  return err;
}

}  // namespace rt
