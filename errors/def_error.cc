#include "errors/def_error.h"

#include <string_view>

#include "errors/call_stack.h"
#include "errors/error_log.h"
#include "errors/error_object.h"
#include "errors/international.h"
#include "runtime/activation.h"
#include "runtime/convert.h"
#include "runtime/error.h"
#include "runtime/error_box.h"
#include "runtime/files.h"
#include "runtime/object.h"
#include "runtime/recovery.h"
#include "runtime/settings.h"

namespace errors {
namespace {

constexpr char kModule[] = "DefError";
constexpr char kCrLf[] = "\r\n";
constexpr uint32_t kPtrType = 18;
constexpr uint32_t kSharingViolation = 32;
constexpr uint32_t kLockViolation = 33;
constexpr uint32_t kOptionDefault = 1;
constexpr uint32_t kOptionRetry = 2;
constexpr uint32_t kOptionQuit = 0x80000003u;
constexpr uint32_t kOptionQuitNoRecovery = 0x80000000u;

uint32_t Dword(const rt::Value& error, const char* name) { return Field(error, name).GetDword(); }
bool Logic(const rt::Value& error, const char* name) { return Field(error, name).GetLogic(); }
std::string Text(const rt::Value& error, const char* name) {
  return Field(error, name).GetString();
}
std::string Number(uint32_t n) { return rt::NTrim(rt::Value::Dword(n)); }

// The handler's own record, for values that are not Error objects; cleared
// before every use. Never destroyed: a quit may run after static teardown.
rt::ErrorRecord& HandlerRecord() {
  static auto* record = new rt::ErrorRecord();
  return *record;
}

rt::Value NotAnError(const rt::Value& value) {
  rt::ErrorRecord& rec = HandlerRecord();
  rec.Clear();
  rec.raw().Put(rt::es::kGenCode, rt::kGenWrongClass);
  rec.raw().Put(rt::es::kSeverity, 2);
  rec.raw().Put(rt::es::kFuncSym, rt::String2Symbol("DEFERROR").id());
  rec.SetText(rt::es::kArg, rt::AsPsz(value));
  rec.raw().Put(rt::es::kArgNum, 1);
  rec.raw().Put(rt::es::kCanDefault, 1);
  return rt::ErrorBuild(rec.raw());
}

void WriteLog(const std::string& text, const rt::Value& error) {
  int32_t handle = ErrorLogOpen();
  if (handle == rt::kInvalidHandle) return;
  rt::FSeek3(handle, 0, 2);
  ErrorLogWrite(handle, text, error);
  rt::FClose(handle);
}

}  // namespace

void InstallDefaultErrorBlock() {
  RT_ROUTINE("INSTALLDEFAULTERRORBLOCK", kModule);
  if (!rt::ErrorBlock().IsNil()) return;
  rt::ErrorBlock(DefaultErrorBlock());
  RT_LINE();
  SetInternational(rt::String2Symbol("WINDOWS"));
}

rt::Value DefaultErrorBlock() {
  return rt::Value::FromBlock(rt::MakeBlock(
      [](rt::Args args) { return DefError(args.empty() ? rt::Value() : args[0]); }, 1));
}

std::string ErrorMessageText(const rt::Value& error) {
  RT_ROUTINE("ERRORMESSAGETEXT", kModule);
  const uint32_t gen_code = Dword(error, "GenCode");
  const std::string description = Text(error, "Description");
  std::string text;
  auto line = [&text](std::string_view label, std::string_view value) {
    text.append(label).append(value).append(kCrLf);
  };
  // Two blanks follow the colon: the label's own and one more.
  std::string_view label = Dword(error, "Severity") == 1 ? "WARNING :  " : "Error Code:  ";
  RT_LINE();
  if (gen_code == 0) {
    line(label, description);
  } else {
    std::string code = Number(gen_code);
    code.append(" [ ").append(rt::Upper(rt::ErrString(gen_code))).append(" ]");
    line(label, code);
  }
  if (std::string s = Text(error, "SubSystem"); !s.empty()) line("Subsystem: ", s);
  if (uint32_t sub = Dword(error, "SubCode"); sub != 0) {
    std::string value = Number(sub);
    if (std::string s = Text(error, "SubCodeText"); !s.empty())
      value.append(" (").append(s).append(")");
    line("Error Subcode: ", value);
  }
  if (std::string s = Text(error, "Operation"); !s.empty()) line("Operation: ", s);
  if (rt::Symbol f = Field(error, "FuncSym").GetSymbol(); !f.null()) {
    line("Function: ", rt::Symbol2String(f));
  }
  if (std::string s = Text(error, "FileName"); !s.empty()) line("Filename: ", s.substr(0, 40));
  const uint32_t arg_type = Dword(error, "ArgType");
  if (std::string s = Text(error, "Arg"); !s.empty()) {
    line("Argument: ", s);
    if (arg_type != 0) line("Type: ", rt::TypeString(arg_type));
  }
  if (uint32_t n = Dword(error, "ArgNum"); n != 0) line("Argument Number: ", Number(n));
  if (uint32_t req = Dword(error, "ArgTypeReq"); req != 0 && req != arg_type) {
    line("Requested type: ", rt::TypeString(req));
  }
  if (!description.empty()) line("Description: ", description);
  return text;
}

rt::Value DefError(const rt::Value& handed) {
  RT_ROUTINE("DEFERROR", kModule);
  rt::Value error = handed;
  if (!rt::IsInstanceOf(error, rt::String2Symbol("ERROR"))) {
    RT_LINE();
    error = NotAnError(handed);
  }
  RT_LINE();
  const uint32_t gen_code = Dword(error, "GenCode");
  const uint32_t os_code = Dword(error, "OsCode");
  if (Logic(error, "CanDefault") && gen_code == rt::kGenOpen &&
      (os_code == kSharingViolation || os_code == kLockViolation)) {
    rt::NetErr(true);
    return rt::Value::Logic(false);
  }
  const std::string caption = Dword(error, "Severity") == 1 ? "WARNING" : "ERROR";
  if (Dword(error, "SubstituteType") == kPtrType) SetField(error, "Severity", rt::Value::Dword(3));
  RT_LINE();
  std::string text = ErrorMessageText(error);
  std::string stack;
  rt::Symbol stack_sym = rt::String2Symbol("Stack");
  if (rt::IVarGetInfo(error, stack_sym)) {
    rt::Value v = rt::IVarGet(error, stack_sym);
    if (v.IsNil() || (v.IsString() && v.GetString().empty())) {
      rt::IVarPut(error, stack_sym, rt::Value::String(CallStackText(1)));
    }
    stack = rt::AsString(rt::IVarGet(error, stack_sym));
  } else {
    stack = CallStackText(1);
  }
  if (!stack.empty()) {
    text += "CallStack:";
    text += kCrLf;
    text += stack;
  }
  RT_LINE();
  if (rt::SetBeep()) {
    rt::Tone(440, 1);
    rt::Tone(494, 1);
    rt::Tone(523, 1);
  }
  const bool can_substitute = Logic(error, "CanSubstitute");
  uint32_t def = Logic(error, "CanDefault") || can_substitute ? kOptionDefault : 0;
  uint32_t retry = 0;
  if (Logic(error, "CanRetry")) {
    if (gen_code == rt::kGenNoVar) {
      SetField(error, "CanRetry", rt::Value::Logic(false));
    } else {
      retry = kOptionRetry;
    }
  }
  uint32_t quit = rt::CanBreak() ? kOptionQuit : kOptionQuitNoRecovery;
  RT_LINE();
  if (rt::SetErrorLog()) WriteLog(text, error);
  RT_LINE();
  uint32_t answer = rt::ErrorMessageBox(text, caption, def, retry, quit);
  if (answer == 1) {
    if (can_substitute) return rt::EmptyUsual(Dword(error, "SubstituteType"));
    return rt::Value::Logic(false);
  }
  if (answer == 2) return rt::Value::Logic(true);
  RT_LINE();
  rt::MathInit();
  if (rt::CanBreak()) rt::LabelJump(error);
  rt::ErrorLevel(static_cast<int>(gen_code));
  rt::XQDBCloseAll();
  rt::Quit();
}

}  // namespace errors
