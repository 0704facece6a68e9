// Operating-system exceptions reach the error system: a child process faults on
// purpose (an access violation, an integer division by zero, a stack
// overflow); the default handler writes the exception block of XQERROR.LOG,
// the tables are closed and the process ends with the exception's exit code.
#include "runtime/os_exception.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

#include "errors/def_error.h"
#include "errors/error_gen.h"
#include "errors/testing/error_env.h"
#include "platform/exceptions.h"
#include "runtime/activation.h"
#include "runtime/convert.h"
#include "runtime/error.h"
#include "runtime/program.h"
#include "runtime/settings.h"

namespace errors {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::TestDataPath;
using testing::WriteBytes;

constexpr int kExitCode = platform::ExitStatusOf(platform::kOsExceptionExitCode);

[[gnu::noinline]] void AccessViolation() {
  volatile uintptr_t address = 16;  // not provably null: the store stays a store
  *reinterpret_cast<volatile int*>(address) = 1;
}

// The processor's own trap, not the undefined-behaviour sanitizer's report.
__attribute__((noinline, no_sanitize("integer-divide-by-zero"))) void DivideByZero() {
  volatile int dividend = 1000, zero = 0;  // both unknown: a real division
  volatile int quotient = dividend / zero;
  (void)quotient;
}

volatile int g_never = -1;

[[gnu::noinline]] int Recurse(int depth) {
  volatile char frame[512];
  frame[depth % 512] = static_cast<char>(depth);
  if (depth == g_never) return 0;
  return Recurse(depth + 1) + frame[(depth * 7) % 512];
}

[[gnu::noinline]] void StackOverflow() { Recurse(0); }

struct FaultCase {
  const char* name;
  const char* routine;  // the activation the fault strikes in
  void (*fault)();
  const char* code;  // as the report on standard error names it
  const char* golden;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

const FaultCase kCases[] = {
    {"AccessViolation", "FAULTTEST:ACCESSVIOLATION", &AccessViolation, "C0000005",
     "exception_access_violation.txt"},
    {"DivideByZero", "FAULTTEST:DIVIDEBYZERO", &DivideByZero, "C0000094",
     "exception_divide_by_zero.txt"},
    {"StackOverflow", "FAULTTEST:STACKOVERFLOW", &StackOverflow, "C00000FD",
     "exception_stack_overflow.txt"},
};

// A directory of its own per case and checkout, known to the child process
// without being told (a re-executed child makes its own fixture).
std::string CaseDir(const FaultCase& c) {
  std::string tag = std::to_string(std::hash<std::string>()(PROJECT_TESTDATA_DIR) & 0xFFFFFF);
  std::string d = (fs::temp_directory_path() / ("h-errors-fault-" + tag + "-" + c.name)).string();
  d.push_back(static_cast<char>(fs::path::preferred_separator));
  return d;
}

// The child: the program's error system as start-up installs it, a table
// service that notes its closing, two activations, then the fault.
void FaultInChild(const FaultCase& c) {
  rt::SetWorkDir(CaseDir(c));
  rt::ErrorBlock(DefaultErrorBlock());
  rt::ErrorFunc(&DefErrorGen);
  rt::SetErrorLog(true);
  rt::SetBeep(false);
  rt::AddCloseAllHook([c] { WriteBytes(CaseDir(c) + "closed", "tables closed"); });
  rt::InstallOsExceptionHandler();
  rt::Routine run("FAULTTEST:RUN", "FaultTest", 10);
  rt::Routine inner(c.routine, "FaultTest", 20);
  c.fault();
}

// Masks what changes from run to run: the date line and the address.
std::string Masked(std::string log) {
  size_t line3 = log.find("\r\n", log.find("\r\n") + 2) + 2;
  size_t end3 = log.find("\r\n", line3);
  std::string today = rt::DToC(rt::Today()) + " ";
  EXPECT_EQ(log.substr(line3, today.size()), today);
  EXPECT_EQ(end3 - line3, today.size() + rt::Time().size());
  log.replace(line3, end3 - line3, "<DATE> <TIME>");
  const std::string label = "ExceptionAddress:";
  size_t at = log.find(label);
  if (at != std::string::npos) {
    std::string address = log.substr(at + label.size(), 8);
    EXPECT_EQ(address.find_first_not_of("0123456789ABCDEF"), std::string::npos) << address;
    EXPECT_NE(address, "00000000");
    log.replace(at + label.size(), 8, "<ADDRESS>");
  }
  return log;
}

class OsExceptionTest : public testing::ErrorEnvTest,
                        public ::testing::WithParamInterface<FaultCase> {};

TEST_P(OsExceptionTest, WritesTheExceptionBlockClosesTheTablesAndEnds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const FaultCase& c = GetParam();
  box_->Answer(3);
  std::error_code ec;
  fs::remove_all(CaseDir(c), ec);
  fs::create_directories(CaseDir(c));
  EXPECT_EXIT(FaultInChild(c), ::testing::ExitedWithCode(kExitCode),
              std::string("Operating-system exception ") + c.code);
  std::string log = ReadBytes(CaseDir(c) + "XQERROR.LOG");
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(Masked(log), ReadBytes(TestDataPath(c.golden)));
  EXPECT_EQ(ReadBytes(CaseDir(c) + "closed"), "tables closed");
  fs::remove_all(CaseDir(c), ec);
}

INSTANTIATE_TEST_SUITE_P(Faults, OsExceptionTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                           return std::string(info.param.name);
                         });

// A second fault while the first is reported (here while the tables are
// closed, after the log block) ends the process at once with the same code.
class NestedFaultTest : public testing::ErrorEnvTest {};

TEST_F(NestedFaultTest, FaultWhileReportingOneEndsAtOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The access-violation case in a directory of its own: ctest runs the
  // parameterised case beside this one.
  FaultCase c = kCases[0];
  c.name = "NestedAccessViolation";
  box_->Answer(3);
  std::error_code ec;
  fs::remove_all(CaseDir(c), ec);
  fs::create_directories(CaseDir(c));
  EXPECT_EXIT(
      {
        rt::AddCloseAllHook([] { AccessViolation(); });
        FaultInChild(c);
      },
      ::testing::ExitedWithCode(kExitCode),
      "Operating-system exception while one was being reported");
  EXPECT_NE(ReadBytes(CaseDir(c) + "XQERROR.LOG").find("ExceptionCode   :C0000005"),
            std::string::npos);
  EXPECT_EQ(ReadBytes(CaseDir(c) + "closed"), "");
  fs::remove_all(CaseDir(c), ec);
}

}  // namespace
}  // namespace errors
