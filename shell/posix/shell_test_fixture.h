// Test fixture for the shell on the headless back-end: the classes declared, an error block
// that records every error and answers "default", and a driver that runs a modal dialog with
// a script of inputs, one per idle turn of its loop.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "errors/error_object.h"
#include "gui/gui.h"
#include "gui/headless.h"
#include "platform/message_queue.h"
#include "runtime/error.h"
#include "runtime/functions.h"
#include "runtime/object.h"
#include "shell/shell.h"

namespace shell::testing {

using Input = std::function<void(platform::WindowHandle dialog)>;

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Drain();
    errors::DeclareErrorClass();
    gui::DeclareClasses();
    shell::DeclareClasses();
    rt::Program program;
    shell::AddToProgram(program);
    for (const rt::FunctionEntry& f : program.functions) {
      rt::RegisterFunction(f.name, f.declared_params, f.fn);
    }
    old_block_ = rt::ErrorBlock(rt::Value::FromBlock(rt::MakeBlock(
        [this](rt::Args args) {
          rt::Value code =
              args.empty() ? rt::Value() : rt::IVarGet(args[0], rt::String2Symbol("GenCode"));
          error_codes_.push_back(code.GetDword());
          return rt::Value::Logic(false);
        },
        1)));
  }

  void TearDown() override {
    gui::headless::SetIdleHandler(nullptr);
    PlantUpdateForTest(nullptr);
    rt::ErrorBlock(old_block_);
    Drain();
  }

  static void Drain() {
    platform::Message m;
    while (platform::PeekMessageA(&m, nullptr, 0, 0, platform::kPmRemove)) {
      // Painting stays pending until it is dispatched.
      if (m.message == platform::kWmPaint) platform::DispatchMessageA(m);
    }
  }

  static rt::Value NewDialog() { return rt::CreateInstance(rt::String2Symbol("MainDialog")); }

  static platform::WindowHandle HandleOf(const rt::Value& dialog) {
    return rt::Send(dialog, "Handle").GetPtr();
  }

  static const gui::headless::DialogState& StateOf(const rt::Value& dialog) {
    const gui::headless::DialogState* s = gui::headless::FindDialog(HandleOf(dialog));
    EXPECT_NE(s, nullptr);
    return *s;
  }

  static const gui::headless::ControlState& Control(const rt::Value& dialog, int id) {
    return *StateOf(dialog).Control(id);
  }

  // Runs Show; each time the loop finds the queue empty the next input is given. When
  // they are used up the dialog ends with -1.
  int ShowWith(const rt::Value& dialog, std::vector<Input> inputs) {
    size_t next = 0;
    gui::headless::SetIdleHandler([&](platform::WindowHandle h) {
      ++idle_turns_;
      if (next >= inputs.size()) return false;
      inputs[next++](h);
      return true;
    });
    rt::Value r = rt::Send(dialog, "Show");
    gui::headless::SetIdleHandler(nullptr);
    return r.GetLong();
  }

  static Input Click(int id) {
    return [id](platform::WindowHandle h) { gui::headless::PostClick(h, id); };
  }

  static rt::Value ListBox(const rt::Value& dialog) {
    return rt::IVarGet(dialog, rt::String2Symbol("ListBox1"));
  }

  // The update's three progress actions.
  static void PostLine(const rt::Value& dialog, const std::string& line) {
    rt::Send(ListBox(dialog), "AddItem",
             {rt::Value::String(line), rt::Value::Long(0), rt::Value::Long(0)});
  }
  static void Pump(const rt::Value& dialog) { rt::CallFunction("YieldMessageLoop", {dialog}); }
  static void ShowLastLine(const rt::Value& dialog) {
    rt::Value lb = ListBox(dialog);
    rt::IVarPut(lb, rt::String2Symbol("CurrentItemNo"),
                rt::IVarGet(lb, rt::String2Symbol("ItemCount")));
  }

  std::vector<uint32_t> error_codes_;
  int idle_turns_ = 0;
  rt::Value old_block_;
};

}  // namespace shell::testing
