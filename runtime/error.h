// The runtime's error machinery.
//
// A primitive that fails describes the failure in an ErrorInfo and hands it to
// RaiseError (or lets RunWithErrorProtocol do it). The runtime lays the info out
// as the raw 100-byte ErrorStructure, the current error generator (ErrorFunc)
// turns that into an Error object, and the current error block decides: false
// = go on with the default outcome, true = retry, anything else = a substitute
// value; or it leaves through LabelJump (recovery.h) or Quit, never returning.
//
// ErrorStructure has the same layout on 32- and 64-bit builds: 25 little-endian
// 32-bit fields; where a field is a text, an argument list or a pointer it holds
// a 32-bit reference that ResolveRef turns back into the object.
// One thread only.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "runtime/value.h"

namespace rt {

// General error codes (Error:GenCode), in the usual xBase numbering.
enum GenCode : uint32_t {
  kGenNone = 0,
  kGenArg = 1,
  kGenBound = 2,
  kGenStrOverflow = 3,
  kGenNumOverflow = 4,
  kGenZeroDiv = 5,
  kGenNumErr = 6,
  kGenSyntax = 7,
  kGenComplexity = 8,
  kGenMem = 11,
  kGenNoFunc = 12,
  kGenNoMethod = 13,
  kGenNoVar = 14,
  kGenNoAlias = 15,
  kGenNoVarMethod = 16,
  kGenCreate = 20,
  kGenOpen = 21,
  kGenClose = 22,
  kGenRead = 23,
  kGenWrite = 24,
  kGenPrint = 25,
  kGenWrongClass = 28,
  kGenUnsupported = 30,
  kGenLimit = 31,
  kGenCorruption = 32,
  kGenDataType = 33,
  kGenDataWidth = 34,
  kGenNoTable = 35,
  kGenNoOrder = 36,
  kGenShared = 37,
  kGenUnlocked = 38,
  kGenReadOnly = 39,
  kGenAppendLock = 40,
  kGenLock = 41,
};

// Text of a general code ("Open error"); "" for 0, "Unknown error" otherwise.
std::string ErrString(uint32_t gen_code);
// Name of a value type code ("STRING", "LONGINT"); "" for unknown codes.
std::string TypeString(uint32_t type_code);

// Everything a raiser can say about an error (the fields of ErrorStructure).
struct ErrorInfo {
  std::string subsystem;
  uint32_t sub_code = 0;
  uint32_t gen_code = 0;
  uint32_t os_code = 0;
  uint32_t severity = 2;
  bool can_default = false;
  bool can_retry = false;
  bool can_substitute = false;
  std::string operation;
  std::string description;
  std::string file_name;
  std::optional<std::vector<Value>> args;  // nullopt: no argument list
  uint32_t tries = 0;
  Symbol func_sym;
  uint32_t file_handle = 0;
  uint32_t arg_num = 0;
  void* func_ptr = nullptr;
  std::string sub_code_text;
  std::string arg;
  uint32_t arg_type = 0;
  uint32_t arg_type_req = 0;
  uint32_t max_size = 0;
  uint32_t substitute_type = 0;
  uint32_t choice = 0;
  Symbol call_func_sym;
};

// Field offsets of ErrorStructure.
namespace es {
constexpr size_t kSubSystem = 0, kSubCode = 4, kGenCode = 8, kOsCode = 12, kSeverity = 16,
                 kCanDefault = 20, kCanRetry = 24, kCanSubstitute = 28, kOperation = 32,
                 kDescription = 36, kFileName = 40, kArgs = 44, kTries = 48, kFuncSym = 52,
                 kFileHandle = 56, kArgNum = 60, kFuncPtr = 64, kSubCodeText = 68, kArg = 72,
                 kArgType = 76, kArgTypeReq = 80, kMaxSize = 84, kSubstituteType = 88, kChoice = 92,
                 kCallFuncSym = 96;
}  // namespace es

struct ErrorStructure {
  std::array<uint8_t, 100> bytes{};
  uint32_t Get(size_t offset) const;
  void Put(size_t offset, uint32_t v);
  void Clear() { bytes.fill(0); }
};

// The argument list an ErrorStructure refers to: two counts, then the values;
// the Args array gets max(count1, count2) elements.
struct ErrorArgList {
  uint16_t count1 = 0;
  uint16_t count2 = 0;
  std::vector<Value> values;
};

// 32-bit references for the record's texts, argument lists and pointers.
uint32_t RegisterRef(const void* p);
void ReleaseRef(uint32_t ref);
const void* ResolveRef(uint32_t ref);  // nullptr for 0 or an unknown reference
// Text behind a text field ("" for a null reference).
std::string RecordText(const ErrorStructure& rec, size_t offset);

// An ErrorStructure together with the texts and argument list it refers to;
// the references are released when it goes.
class ErrorRecord {
 public:
  explicit ErrorRecord(const ErrorInfo& info);
  ErrorRecord();  // all zero: a record its owner fills with SetText etc.
  ~ErrorRecord();
  ErrorRecord(const ErrorRecord&) = delete;
  ErrorRecord& operator=(const ErrorRecord&) = delete;
  ErrorStructure& raw() { return raw_; }
  const ErrorStructure& raw() const { return raw_; }
  // Clears all 100 bytes and drops owned texts.
  void Clear();
  void SetText(size_t offset, std::string text);

 private:
  ErrorStructure raw_;
  std::vector<std::unique_ptr<std::string>> texts_;
  std::unique_ptr<ErrorArgList> arg_list_;
  std::vector<uint32_t> refs_;
};

// Builds an Error (CreateInstance of ERROR with 1, then every field put by
// name, as the program's generator does).
Value ErrorBuild(const ErrorStructure& rec);

// The error generator: given a pointer value (Value::Ptr) to an ErrorStructure,
// returns the Error object. Without one installed the runtime uses ErrorBuild.
using ErrorGenerator = Value (*)(const Value& record);
ErrorGenerator ErrorFunc();
ErrorGenerator ErrorFunc(ErrorGenerator generator);  // installs, returns the old one

// The current error block (NIL when none); the setter returns the old block.
Value ErrorBlock();
Value ErrorBlock(Value block);

// What the error block decided.
enum class ErrorAnswer { kDefault, kRetry, kSubstitute };
struct ErrorOutcome {
  ErrorAnswer answer = ErrorAnswer::kDefault;
  Value value;  // the substitute, for kSubstitute
};

// Makes the Error for info and evaluates the error block with it. With no error
// block installed the error is fatal: its text goes to stderr and the program
// quits with the general code (1 when it has none).
ErrorOutcome RaiseError(const ErrorInfo& info);
// Evaluates the current error block with an existing error object.
ErrorOutcome ThrowError(const Value& error_object);
// Interprets a block result: false → default, true → retry, else substitute.
ErrorOutcome OutcomeOf(const Value& block_result);

// The shared helper for primitives that can fail: calls attempt until it
// succeeds (returns nullopt) or the error block settles; `tries` counts the
// attempts. Returns nullopt after success, else the default/substitute outcome.
std::optional<ErrorOutcome> RunWithErrorProtocol(
    const std::function<std::optional<ErrorInfo>()>& attempt);

// Network-error flag (NetErr).
bool NetErr();
bool NetErr(bool v);
// Process exit code (ErrorLevel).
int ErrorLevel();
int ErrorLevel(int code);

// Closing every open table on quit (XQDBCloseAll); the table service
// registers its hook here.
void AddCloseAllHook(std::function<void()> hook);
void XQDBCloseAll();
// _Quit: closes every table, then ends the process with ErrorLevel().
// Tests may replace the final exit (SetQuitHandler) to observe it.
[[noreturn]] void Quit();
void SetQuitHandler(std::function<void(int exit_code)> handler);  // must not return normally
// While an operating-system exception is reported (os_exception.h): the exit
// code Quit uses when ErrorLevel() is still 0, so that the process never ends
// with 0 after one.
void MarkExceptionQuit(int exit_code);
// _IError: reports an internal error of the runtime through the error protocol.
void IError(uint32_t a, uint32_t b, const std::string& text);
// MathInit: resets the floating-point state.
void MathInit();
// _GetRTCount: how many times the runtime was started in this process.
uint32_t GetRTCount();
void SetRTCount(uint32_t n);  // tests
// Called with the report of an error raised while no error block is
// installed; start-up uses it to fail instead of quitting. Empty: quit.
void SetFatalErrorHandler(std::function<void(const std::string& report)> handler);

}  // namespace rt
