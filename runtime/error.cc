// The runtime's error protocol: raising an error through the error block (or
// ending the program when nobody can handle it), retries, the error level,
// NetErr, and the way out (Quit with the close-all hooks). The error record,
// its references and the error object built from it, and the names of the
// codes: error_record.cc.
#include "runtime/error.h"

#include <cfenv>
#include <cstdio>
#include <cstdlib>

#include "runtime/object.h"

namespace rt {
namespace {

struct ErrorState {
  ErrorGenerator generator = nullptr;
  Value block;
  bool net_err = false;
  int error_level = 0;
  uint32_t rt_count = 0;
  std::vector<std::function<void()>> close_all_hooks;
  std::function<void(int)> quit_handler;
  std::function<void(const std::string&)> fatal_handler;
  int raise_depth = 0;
  int exception_exit = 0;
};

ErrorState& State() {
  static auto* state = new ErrorState;
  return *state;
}

// Text of an error object's field for the fatal report; "" when absent.
std::string FieldText(const Value& err, const char* name) {
  Symbol s = String2Symbol(name);
  if (!IVarGetInfo(err, s)) return "";
  Value v = err.GetObject()->slot(err.GetObject()->cls()->IVarIndex(s));
  if (v.IsString()) return v.GetString();
  if (v.IsNumeric()) return std::to_string(v.GetDword());
  return "";
}

std::string Report(uint32_t gen, const std::string& sub, const std::string& op,
                   const std::string& desc, const std::string& file) {
  std::string text = "Unhandled runtime error";
  if (gen) text += " " + std::to_string(gen) + " (" + ErrString(gen) + ")";
  if (!sub.empty()) text += ", subsystem " + sub;
  if (!op.empty()) text += ", operation " + op;
  if (!desc.empty()) text += ": " + desc;
  if (!file.empty()) text += " [" + file + "]";
  return text;
}

// An error nobody can handle: start-up fails, later the program ends.
[[noreturn]] void Fatal(const std::string& report, uint32_t gen) {
  ErrorState& s = State();
  if (s.fatal_handler) s.fatal_handler(report);  // throws during start-up
  std::fprintf(stderr, "%s\n", report.c_str());
  ErrorLevel(gen ? static_cast<int>(gen) : 1);
  Quit();
}

[[noreturn]] void Fatal(const Value& err) {
  std::string gen = FieldText(err, "GenCode");
  uint32_t code = gen.empty() ? 0 : static_cast<uint32_t>(std::stoul(gen));
  Fatal(Report(code, FieldText(err, "SubSystem"), FieldText(err, "Operation"),
               FieldText(err, "Description"), FieldText(err, "FileName")),
        code);
}

}  // namespace

ErrorGenerator ErrorFunc() { return State().generator; }

ErrorGenerator ErrorFunc(ErrorGenerator generator) {
  ErrorGenerator old = State().generator;
  State().generator = generator;
  return old;
}

Value ErrorBlock() { return State().block; }

Value ErrorBlock(Value block) {
  Value old = State().block;
  State().block = std::move(block);
  return old;
}

ErrorOutcome OutcomeOf(const Value& r) {
  if (r.IsLogic()) return {r.GetLogic() ? ErrorAnswer::kRetry : ErrorAnswer::kDefault, Value()};
  return {ErrorAnswer::kSubstitute, r};
}

ErrorOutcome ThrowError(const Value& error_object) {
  Value block = State().block;
  if (!block.IsBlock()) Fatal(error_object);
  Value arg[] = {error_object};
  return OutcomeOf(Eval(block, arg));
}

ErrorOutcome RaiseError(const ErrorInfo& info) {
  // An error raised while errors are being reported, again and again, would
  // never end: past a generous depth it is fatal.
  struct Depth {
    Depth() { ++State().raise_depth; }
    ~Depth() { --State().raise_depth; }
  } depth;
  if (State().raise_depth > 32) {
    ErrorBlock(Value());
    std::fprintf(stderr, "Runtime error while reporting runtime errors: %s\n",
                 info.description.c_str());
    ErrorLevel(info.gen_code ? static_cast<int>(info.gen_code) : 1);
    Quit();
  }
  ErrorRecord rec(info);
  ErrorGenerator gen = State().generator;
  if (!State().block.IsBlock()) {
    Fatal(Report(info.gen_code, info.subsystem, info.operation, info.description, info.file_name),
          info.gen_code);
  }
  Value err = gen ? gen(Value::Ptr(&rec.raw())) : ErrorBuild(rec.raw());
  return ThrowError(err);
}

std::optional<ErrorOutcome> RunWithErrorProtocol(
    const std::function<std::optional<ErrorInfo>()>& attempt) {
  uint32_t tries = 0;
  for (;;) {
    std::optional<ErrorInfo> failure = attempt();
    if (!failure) return std::nullopt;
    failure->tries = ++tries;
    ErrorOutcome out = RaiseError(*failure);
    if (out.answer == ErrorAnswer::kRetry && failure->can_retry) continue;
    if (out.answer == ErrorAnswer::kRetry) out.answer = ErrorAnswer::kDefault;
    return out;
  }
}

bool NetErr() { return State().net_err; }

bool NetErr(bool v) {
  bool old = State().net_err;
  State().net_err = v;
  return old;
}

int ErrorLevel() { return State().error_level; }

int ErrorLevel(int code) {
  int old = State().error_level;
  State().error_level = code;
  return old;
}

void AddCloseAllHook(std::function<void()> hook) {
  State().close_all_hooks.push_back(std::move(hook));
}

void XQDBCloseAll() {
  for (auto& hook : State().close_all_hooks) hook();
}

void SetQuitHandler(std::function<void(int)> handler) { State().quit_handler = std::move(handler); }

void MarkExceptionQuit(int exit_code) { State().exception_exit = exit_code; }

void Quit() {
  if (State().exception_exit != 0 && ErrorLevel() == 0) ErrorLevel(State().exception_exit);
  XQDBCloseAll();
  std::fflush(stdout);
  std::fflush(stderr);
  if (State().quit_handler) State().quit_handler(ErrorLevel());
  std::exit(ErrorLevel());
}

void IError(uint32_t a, uint32_t b, const std::string& text) {
  ErrorInfo e;
  e.subsystem = "BASE";
  e.sub_code = a;
  e.os_code = b;
  e.description = text;
  e.operation = "_IError";
  e.can_default = true;
  RaiseError(e);
}

void MathInit() { std::feclearexcept(FE_ALL_EXCEPT); }

uint32_t GetRTCount() { return State().rt_count; }

void SetRTCount(uint32_t n) { State().rt_count = n; }

void SetFatalErrorHandler(std::function<void(const std::string&)> handler) {
  State().fatal_handler = std::move(handler);
}

}  // namespace rt
