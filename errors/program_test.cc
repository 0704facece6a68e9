#include <gtest/gtest.h>

#include "errors/call_stack.h"
#include "errors/error_gen.h"
#include "errors/error_object.h"
#include "errors/errors.h"
#include "errors/international.h"
#include "errors/testing/error_env.h"
#include "runtime/error.h"
#include "runtime/functions.h"
#include "runtime/object.h"
#include "runtime/settings.h"

namespace errors {
namespace {

using testing::ErrorEnvTest;

class ProgramTest : public ErrorEnvTest {};

TEST_F(ProgramTest, StartUpInstallsHandlerThenGeneratorAndTheFunctions) {
  rt::Program program;
  AddToProgram(program);
  ASSERT_EQ(program.init_procedures.size(), 2u);
  EXPECT_EQ(program.init_procedures[0].first, "InstallDefaultErrorBlock");
  EXPECT_EQ(program.init_procedures[1].first, "InstallErrorGenerator");

  CallStackConfig().max_lines = 9;  // the global initialiser puts the default back
  rt::SetRTCount(0);                // this start is the first
  std::string failure;
  ASSERT_TRUE(rt::StartRuntime(program, &failure)) << failure;
  EXPECT_EQ(CallStackConfig().max_lines, 5u);
  EXPECT_TRUE(rt::ErrorBlock().IsBlock());
  EXPECT_EQ(rt::SetIntl(), 1u);  // WINDOWS applied with the handler
  EXPECT_EQ(rt::ErrorFunc(), &DefErrorGen);
  EXPECT_TRUE(rt::IsClass(rt::String2Symbol("ERROR")));

  // Both functions are callable by name.
  EXPECT_EQ(rt::CallFunction("SetInternational", {rt::Value::Sym(rt::String2Symbol("LEGACY"))}),
            rt::Value::Sym(rt::String2Symbol("WINDOWS")));
  EXPECT_EQ(rt::SetIntl(), 0u);
  rt::ErrorRecord rec;
  rec.SetText(rt::es::kDescription, "by name");
  rt::Value e = rt::CallFunction("DefErrorGen", {rt::Value::Ptr(&rec.raw())});
  EXPECT_EQ(Field(e, "Description").GetString(), "by name");
}

TEST_F(ProgramTest, SecondStartKeepsTheRuntimesGenerator) {
  rt::Program program;
  AddToProgram(program);
  rt::SetRTCount(1);  // StartRuntime makes it 2
  ASSERT_TRUE(rt::StartRuntime(program));
  EXPECT_EQ(rt::ErrorFunc(), nullptr);
}

}  // namespace
}  // namespace errors
