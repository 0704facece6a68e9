// Classes, late-bound calls, the error protocol, recovery points and the
// activation stack, as the rest of the system relies on them.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "runtime/activation.h"
#include "runtime/error.h"
#include "runtime/functions.h"
#include "runtime/object.h"
#include "runtime/recovery.h"
#include "runtime/startup.h"
#include "runtime/testing/error_class.h"

namespace rt {
namespace {

// Installs an error block that records every error object and answers with
// what `answer` returns for it.
class ErrorBlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::DeclarePlainErrorClass();
    old_block_ = ErrorBlock(Value::FromBlock(MakeBlock(
        [this](Args args) {
          errors_.push_back(args[0]);
          return answer_(args[0]);
        },
        1)));
    old_generator_ = ErrorFunc(nullptr);
  }
  void TearDown() override {
    ErrorBlock(old_block_);
    ErrorFunc(old_generator_);
  }
  uint32_t Field(size_t i, const char* name) {
    return errors_.at(i).GetObject()->Get(name).GetDword();
  }
  std::string Text(size_t i, const char* name) {
    return errors_.at(i).GetObject()->Get(name).GetString();
  }

  std::function<Value(const Value&)> answer_ = [](const Value&) { return Value::Logic(false); };
  std::vector<Value> errors_;
  Value old_block_;
  ErrorGenerator old_generator_ = nullptr;
};

const Class* DeclareCounter() {
  return ClassBuilder("Counter")
      .IVar("Count")
      .Method("Bump",
              [](const ObjectRef& self, Args args) {
                int32_t by = args.empty() ? 1 : args[0].GetLong();
                self->Set("Count", Value::Long(self->Get("Count").GetLong() + by));
                return Value::FromObject(self);
              })
      .Method("Init",
              [](const ObjectRef& self, Args args) {
                self->Set("Count", args.empty() ? Value::Long(0) : args[0]);
                return Value::FromObject(self);
              })
      .Access("Twice", [](const ObjectRef& self,
                          Args) { return Value::Long(self->Get("Count").GetLong() * 2); })
      .Assign("Twice",
              [](const ObjectRef& self, Args args) {
                self->Set("Count", Value::Long(args[0].GetLong() / 2));
                return Value();
              })
      .Register();
}

TEST_F(ErrorBlockTest, CreateInstanceRunsInitWithTheArguments) {
  DeclareCounter();
  Value c = CreateInstance(String2Symbol("counter"), std::vector<Value>{Value::Long(40)});
  ASSERT_TRUE(c.IsObject());
  Send(c, "Bump", {Value::Long(2)});
  EXPECT_EQ(IVarGet(c, String2Symbol("COUNT")).GetLong(), 42);
  EXPECT_EQ(IVarGet(c, String2Symbol("Twice")).GetLong(), 84);
  IVarPut(c, String2Symbol("Twice"), Value::Long(10));
  EXPECT_EQ(c.GetObject()->Get("Count").GetLong(), 5);
  EXPECT_TRUE(IVarGetInfo(c, String2Symbol("Count")));
  EXPECT_TRUE(IVarGetInfo(c, String2Symbol("Twice")));
  EXPECT_FALSE(IVarGetInfo(c, String2Symbol("Nothing")));
  EXPECT_TRUE(IsInstanceOf(c, String2Symbol("COUNTER")));
  EXPECT_FALSE(IsInstanceOf(c, String2Symbol("ERROR")));
  EXPECT_TRUE(IsClass(String2Symbol("Counter")));
  EXPECT_FALSE(IsClass(Symbol()));
  EXPECT_TRUE(errors_.empty());
}

TEST_F(ErrorBlockTest, SubclassOverrideChangesEveryDispatch) {
  DeclareCounter();
  // Bump2 goes through Send, so the subclass's Bump is the one it reaches.
  ClassBuilder("Base2")
      .IVar("Log")
      .Method("Name", [](const ObjectRef&, Args) { return Value::String("base"); })
      .Method("Describe", [](const ObjectRef& self,
                             Args) { return Send(Value::FromObject(self), String2Symbol("Name")); })
      .Register();
  const Class* derived =
      ClassBuilder("Derived2", "Base2")
          .Method("Name", [](const ObjectRef&, Args) { return Value::String("derived"); })
          .Register();
  Value d = Value::FromObject(derived->New());
  EXPECT_EQ(Send(d, "Describe").GetString(), "derived");
  EXPECT_EQ(SendFrom(derived->base(), d, String2Symbol("Name")).GetString(), "base");
  EXPECT_TRUE(IsInstanceOf(d, String2Symbol("Base2")));
  EXPECT_TRUE(IVarGetInfo(d, String2Symbol("Log")));
}

TEST_F(ErrorBlockTest, MissingMethodRaisesGenCode13) {
  DeclareCounter();
  Value c = CreateInstance(String2Symbol("Counter"));
  Value r = Send(c, "NoSuchMethod");
  EXPECT_TRUE(r.IsNil());
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(Field(0, "GenCode"), 13u);
  EXPECT_EQ(Text(0, "Arg"), "NOSUCHMETHOD");
  EXPECT_EQ(errors_[0].GetObject()->Get("FuncSym").GetSymbol(), String2Symbol("NoSuchMethod"));
  EXPECT_EQ(Field(0, "Tries"), 1u);
}

TEST_F(ErrorBlockTest, MissingVariableRaisesGenCode14BothWays) {
  DeclareCounter();
  Value c = CreateInstance(String2Symbol("Counter"));
  IVarGet(c, String2Symbol("Missing"));
  IVarPut(c, String2Symbol("Missing"), Value::Long(1));
  ASSERT_EQ(errors_.size(), 2u);
  EXPECT_EQ(Field(0, "GenCode"), 14u);
  EXPECT_EQ(Text(0, "Operation"), "IVarGet");
  EXPECT_EQ(Field(1, "GenCode"), 14u);
  EXPECT_EQ(Text(1, "Operation"), "IVarPut");
}

TEST_F(ErrorBlockTest, SendToNonObjectIsAnError) {
  Send(Value::Long(3), "Anything");
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(Field(0, "GenCode"), 13u);
  EXPECT_EQ(Field(0, "ArgType"), 1u);
}

TEST_F(ErrorBlockTest, RetryAnswerReallyRetries) {
  // The answer enters the missing function and asks for a retry; the second
  // attempt then finds it.
  answer_ = [](const Value&) {
    RegisterFunction("LateArrival", 0, [](Args) { return Value::String("found"); });
    return Value::Logic(true);
  };
  Value r = CallFunction("LateArrival");
  EXPECT_EQ(r.GetString(), "found");
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(Field(0, "GenCode"), 12u);
}

TEST_F(ErrorBlockTest, RetryCountsTriesUntilTheFailureGoesAway) {
  int attempts = 0;
  answer_ = [](const Value&) { return Value::Logic(true); };
  auto outcome = RunWithErrorProtocol([&]() -> std::optional<ErrorInfo> {
    if (++attempts == 3) return std::nullopt;
    ErrorInfo e;
    e.gen_code = kGenOpen;
    e.can_retry = true;
    return e;
  });
  EXPECT_FALSE(outcome.has_value());
  EXPECT_EQ(attempts, 3);
  ASSERT_EQ(errors_.size(), 2u);
  EXPECT_EQ(Field(0, "Tries"), 1u);
  EXPECT_EQ(Field(1, "Tries"), 2u);
}

TEST_F(ErrorBlockTest, RetryIsNotHonouredWhenTheErrorCannotRetry) {
  int attempts = 0;
  answer_ = [](const Value&) { return Value::Logic(true); };
  auto outcome = RunWithErrorProtocol([&]() -> std::optional<ErrorInfo> {
    ++attempts;
    ErrorInfo e;
    e.gen_code = kGenWrite;
    return e;
  });
  ASSERT_TRUE(outcome.has_value());
  EXPECT_EQ(outcome->answer, ErrorAnswer::kDefault);
  EXPECT_EQ(attempts, 1);
}

TEST_F(ErrorBlockTest, SubstituteValueReachesTheCaller) {
  DeclareCounter();
  answer_ = [](const Value&) { return Value::String("instead"); };
  Value c = CreateInstance(String2Symbol("Counter"));
  EXPECT_EQ(Send(c, "Nope").GetString(), "instead");
  EXPECT_EQ(IVarGet(c, String2Symbol("Nope")).GetString(), "instead");
  EXPECT_EQ(CreateInstance(String2Symbol("NoSuchClass")).GetString(), "instead");
  EXPECT_EQ(CallFunction("NoSuchFunction").GetString(), "instead");
  EXPECT_EQ(Field(2, "GenCode"), 12u);
  EXPECT_EQ(Field(3, "GenCode"), 12u);
}

TEST_F(ErrorBlockTest, ArrayBoundsGoThroughTheProtocol) {
  ArrayRef a = ArrayCreate(2);
  EXPECT_TRUE(ArrayGet(a, 3).IsNil());
  ArrayPut(a, 0, Value::Long(1));
  ASSERT_EQ(errors_.size(), 2u);
  EXPECT_EQ(Field(0, "GenCode"), 2u);
}

TEST_F(ErrorBlockTest, RecordCarriesEveryFieldToTheErrorObject) {
  ErrorInfo e;
  e.subsystem = "DBFCDX";
  e.sub_code = 1001;
  e.gen_code = kGenOpen;
  e.os_code = 32;
  e.severity = 2;
  e.can_default = true;
  e.can_retry = true;
  e.operation = "DBServer:Init";
  e.description = "Open error";
  e.file_name = "C:\\data\\tarif.dbf";
  e.args = std::vector<Value>{Value::String("a"), Value::Long(2)};
  e.func_sym = String2Symbol("DBSERVER");
  e.arg_num = 3;
  e.sub_code_text = "sharing";
  e.arg = "x";
  e.arg_type = 7;
  e.arg_type_req = 1;
  e.max_size = 10;
  e.substitute_type = 18;
  e.choice = 4;
  e.call_func_sym = String2Symbol("CALLER");
  RaiseError(e);
  ASSERT_EQ(errors_.size(), 1u);
  const ObjectRef& o = errors_[0].GetObject();
  EXPECT_EQ(o->Get("SubSystem").GetString(), "DBFCDX");
  EXPECT_EQ(o->Get("SubCode").GetDword(), 1001u);
  EXPECT_EQ(o->Get("GenCode").GetDword(), 21u);
  EXPECT_EQ(o->Get("OsCode").GetDword(), 32u);
  EXPECT_TRUE(o->Get("CanDefault").GetLogic());
  EXPECT_TRUE(o->Get("CanRetry").GetLogic());
  EXPECT_FALSE(o->Get("CanSubstitute").GetLogic());
  EXPECT_EQ(o->Get("FileName").GetString(), "C:\\data\\tarif.dbf");
  ASSERT_TRUE(o->Get("Args").IsArray());
  EXPECT_EQ(o->Get("Args").GetArray()->size(), 2u);
  EXPECT_EQ(o->Get("ArgNum").GetDword(), 3u);
  EXPECT_EQ(o->Get("SubCodeText").GetString(), "sharing");
  EXPECT_EQ(o->Get("SubstituteType").GetDword(), 18u);
  EXPECT_EQ(o->Get("Choice").GetDword(), 4u);
  EXPECT_EQ(o->Get("CallFuncSym").GetSymbol(), String2Symbol("CALLER"));
  EXPECT_EQ(o->Get("Operation").GetString(), "DBServer:Init");
}

TEST_F(ErrorBlockTest, NoArgumentListGivesAnEmptyArray) {
  ErrorInfo e;
  e.gen_code = 1;
  RaiseError(e);
  ASSERT_EQ(errors_.size(), 1u);
  Value args = errors_[0].GetObject()->Get("Args");
  ASSERT_TRUE(args.IsArray());
  EXPECT_EQ(args.GetArray()->size(), 0u);
}

TEST(ErrorStructure, LayoutIsLittleEndian32BitFields) {
  ErrorInfo e;
  e.gen_code = 0x01020304;
  e.severity = 2;
  e.can_retry = true;
  ErrorRecord rec(e);
  const auto& b = rec.raw().bytes;
  EXPECT_EQ(b.size(), 100u);
  EXPECT_EQ(b[8], 0x04);
  EXPECT_EQ(b[11], 0x01);
  EXPECT_EQ(rec.raw().Get(es::kSeverity), 2u);
  EXPECT_EQ(rec.raw().Get(es::kCanRetry), 1u);
  EXPECT_EQ(rec.raw().Get(es::kSubSystem), 0u);  // empty text: null reference
  rec.SetText(es::kSubSystem, "X");
  EXPECT_EQ(RecordText(rec.raw(), es::kSubSystem), "X");
  uint32_t ref = rec.raw().Get(es::kSubSystem);
  rec.Clear();
  EXPECT_EQ(ResolveRef(ref), nullptr);
}

TEST(Recovery, JumpUnwindsNestedFramesToTheInnermostPoint) {
  EXPECT_FALSE(CanBreak());
  uint32_t depth = ActivationDepth();
  std::vector<std::string> seen;
  auto outer = BeginSequence([&] {
    RT_ROUTINE("OUTER", "Test");
    EXPECT_TRUE(CanBreak());
    auto inner = BeginSequence([&] {
      RT_ROUTINE("INNER", "Test");
      seen.push_back(ProcName(0));
      LabelJump(Value::Long(1));
    });
    ASSERT_TRUE(inner.has_value());
    EXPECT_EQ(inner->GetLong(), 1);
    EXPECT_EQ(ProcName(0), "OUTER");  // INNER's frame left with the jump
    std::function<void(int)> dive = [&](int n) {
      RT_ROUTINE("DIVE", "Test");
      if (n == 0) LabelJump(Value::String("deep"));
      dive(n - 1);
    };
    dive(5);
    ADD_FAILURE() << "not reached";
  });
  ASSERT_TRUE(outer.has_value());
  EXPECT_EQ(outer->GetString(), "deep");
  EXPECT_EQ(ActivationDepth(), depth);
  EXPECT_FALSE(CanBreak());
  EXPECT_EQ(seen, std::vector<std::string>{"INNER"});
  EXPECT_FALSE(BeginSequence([] {}).has_value());
}

TEST(Activation, NamesLinesAndModulesAcrossNestedCalls) {
  ClassBuilder("Probe")
      .Method("Look",
              [](const ObjectRef&, Args) {
                RT_ROUTINE("PROBE:LOOK", "Dialog");
                RT_LINE();
                uint32_t line = __LINE__ - 1;
                EXPECT_EQ(ProcName(0), "PROBE:LOOK");
                EXPECT_EQ(ProcFile(0), "Dialog");
                EXPECT_EQ(ProcLine(0), line);
                EXPECT_EQ(ProcName(1), "CALLER");
                EXPECT_EQ(ProcLine(1), 7u);
                return Value::Long(ActivationDepth());
              })
      .Register();
  uint32_t base = ActivationDepth();
  Value depth_inside;
  {
    RT_ROUTINE("CALLER", "Start");
    rt_routine_.SetLine(7);
    depth_inside = Send(CreateInstance(String2Symbol("Probe")), "Look");
  }
  EXPECT_EQ(depth_inside.GetLong(), static_cast<int32_t>(base + 2));
  EXPECT_EQ(ActivationDepth(), base);
  EXPECT_EQ(ProcName(base + 5), "");
  EXPECT_EQ(ProcLine(base + 5), 0u);
}

TEST(Functions, CallByNameWithAnArgumentArray) {
  RegisterFunction("AddTwo", 2, [](Args a) {
    return Value::Long(a.size() == 2 ? a[0].GetLong() + a[1].GetLong() : -1);
  });
  EXPECT_TRUE(IsFunction(String2Symbol("ADDTWO")));
  EXPECT_EQ(FunctionParams(String2Symbol("addtwo")), 2);
  EXPECT_EQ(FunctionParams(String2Symbol("nothere")), -1);
  EXPECT_EQ(
      CallClipFunc(String2Symbol("AddTwo"), ArrayInit({Value::Long(40), Value::Long(2)})).GetLong(),
      42);
}

TEST(Startup, RunsTheChainInOrderAndFailsOnAnUnhandledError) {
  std::vector<std::string> order;
  Program p;
  p.symbols = {"STARTUP_FIRST"};
  p.functions.push_back({"StartupFn", 0, [](Args) { return Value::Long(1); }});
  p.class_declarations.push_back([&] { order.push_back("class"); });
  p.global_initializers.push_back([&] { order.push_back("global"); });
  p.init_procedures.push_back({"First", [&] { order.push_back("init1"); }});
  p.init_procedures.push_back({"Second", [&] { order.push_back("init2"); }});
  p.library_setups.push_back([&] { order.push_back("library"); });
  Value old = ErrorBlock(Value());
  std::string failure;
  uint32_t count = GetRTCount();
  EXPECT_TRUE(StartRuntime(p, &failure)) << failure;
  EXPECT_EQ(GetRTCount(), count + 1);
  EXPECT_EQ(order, (std::vector<std::string>{"class", "global", "init1", "init2", "library"}));
  EXPECT_TRUE(IsFunction(String2Symbol("StartupFn")));
  EXPECT_FALSE(FindSymbol("STARTUP_FIRST").null());

  Program bad;
  bad.init_procedures.push_back({"Broken", [] {
                                   ErrorInfo e;
                                   e.gen_code = kGenOpen;
                                   e.description = "cannot";
                                   RaiseError(e);
                                 }});
  bad.init_procedures.push_back({"Never", [&] { order.push_back("never"); }});
  EXPECT_FALSE(StartRuntime(bad, &failure));
  EXPECT_NE(failure.find("Broken"), std::string::npos) << failure;
  EXPECT_NE(failure.find("cannot"), std::string::npos) << failure;
  EXPECT_EQ(order.back(), "library");
  ErrorBlock(old);
}

}  // namespace
}  // namespace rt
