// A test of the whole program: started once per test suite as its entry point
// starts it, error boxes answered by a script (1: "default" first), and what a
// test may change (program directory, line observer, run options)
// put back after each test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "apps/program/program.h"
#include "runtime/error.h"
#include "runtime/error_box.h"
#include "runtime/program.h"
#include "runtime/settings.h"
#include "tariff/run_options.h"
#include "tariff/tariff.h"

namespace tariff::testing {

class ProgramFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string failure;
    ASSERT_TRUE(rt::StartRuntime(app::Tarif2017Program(), &failure)) << failure;
  }
  void SetUp() override {
    box_ = std::make_shared<rt::ScriptedErrorBox>(1);
    rt::SetErrorBoxFrontEnd(box_);
    rt::SetBeep(false);
  }
  void TearDown() override {
    rt::SetErrorBoxFrontEnd(nullptr);
    rt::SetWorkDir("");
    SetLineObserver(nullptr);
    SetRunOptions(RunOptions());
  }
  std::shared_ptr<rt::ScriptedErrorBox> box_;
};

}  // namespace tariff::testing
