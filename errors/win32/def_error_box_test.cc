// The default handler with the real Windows error box, answered by a watcher.
#include <gtest/gtest.h>

#include "errors/def_error.h"
#include "errors/error_object.h"
#include "errors/testing/error_env.h"
#include "platform/win32/dialogs_watcher.h"
#include "runtime/error.h"
#include "runtime/error_box.h"

namespace errors {
namespace {

class DefErrorBoxTest : public testing::ErrorEnvTest {
 protected:
  void SetUp() override {
    ErrorEnvTest::SetUp();
    rt::SetErrorBoxFrontEnd(nullptr);  // the platform's box
  }
};

TEST_F(DefErrorBoxTest, RetryAndDefaultThroughTheRealBox) {
  rt::Value e = NewError(1);
  SetField(e, "SubSystem", rt::Value::String("DBFCDX"));
  SetField(e, "GenCode", rt::Value::Dword(rt::kGenOpen));
  SetField(e, "CanRetry", rt::Value::Logic(true));
  SetField(e, "CanDefault", rt::Value::Logic(true));
  SetField(e, "Stack", rt::Value::String("APP:START (Line:12)\r\n"));
  {
    platform::BoxWatcher watcher("ERROR", platform::kErrorBoxRetryId);
    EXPECT_EQ(DefError(e), rt::Value::Logic(true));
    watcher.Join();
    ASSERT_TRUE(watcher.found());
    EXPECT_EQ(watcher.report(),
              "Error Code:  21 [ OPEN ERROR ]\r\nSubsystem: DBFCDX\r\n"
              "CallStack:\r\nAPP:START (Line:12)\r\n");
  }
  SetField(e, "Severity", rt::Value::Dword(1));
  platform::BoxWatcher watcher("WARNING", platform::kErrorBoxDefaultId);
  EXPECT_EQ(DefError(e), rt::Value::Logic(false));
  watcher.Join();
  EXPECT_TRUE(watcher.found());
}

}  // namespace
}  // namespace errors
