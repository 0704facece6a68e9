// The Windows error box and message box, answered by a watcher thread.
#include "platform/dialogs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/dialogs_watcher.h"

namespace platform {
namespace {

std::string LongReport() {
  std::string text =
      "Error Code:  21 [ OPEN ERROR ]\r\nDescription: fichier d\xe9j\xe0 ouvert\r\n"
      "CallStack:\r\n";
  for (int i = 0; i < 200; ++i)
    text += "FRAME" + std::to_string(i) + " (Line:" + std::to_string(i) + ")\r\n";
  return text;
}

TEST(ErrorBoxWin32Test, ShowsTheWholeReportAndEveryOfferedButton) {
  const std::string text = LongReport();
  BoxWatcher watcher("ERROR", kErrorBoxRetryId);
  EXPECT_EQ(ShowErrorBox(text, "ERROR", 1, 2, 0x80000000u), kErrorBoxRetry);
  watcher.Join();
  ASSERT_TRUE(watcher.found());
  EXPECT_EQ(watcher.report(), text);
  EXPECT_EQ(watcher.buttons(),
            (std::vector<int>{kErrorBoxDefaultId, kErrorBoxRetryId, kErrorBoxQuitId}));
}

TEST(ErrorBoxWin32Test, OnlyTheOfferedButtonsExist) {
  BoxWatcher watcher("WARNING", kErrorBoxQuitId);
  EXPECT_EQ(ShowErrorBox("Error Code:  1 [ ARGUMENT ERROR ]\r\n", "WARNING", 0, 0, 0x80000003u),
            kErrorBoxQuit);
  watcher.Join();
  ASSERT_TRUE(watcher.found());
  EXPECT_EQ(watcher.buttons(), (std::vector<int>{kErrorBoxQuitId}));
}

TEST(ErrorBoxWin32Test, DefaultButtonAndCloseBox) {
  {
    BoxWatcher watcher("ERROR", kErrorBoxDefaultId);
    EXPECT_EQ(ShowErrorBox("x\r\n", "ERROR", 1, 0, 0x80000000u), kErrorBoxDefault);
  }
  BoxWatcher watcher("ERROR", 0);
  EXPECT_EQ(ShowErrorBox("x\r\n", "ERROR", 1, 2, 0x80000000u), kErrorBoxQuit);
}

TEST(MessageBoxWin32Test, RealMessageBoxIsAnswered) {
  BoxWatcher watcher("FROM DefErrorGen", kIdOk);
  EXPECT_EQ(MessageBoxA("Error structure has wrong tag", "FROM DefErrorGen", kMbOk), kIdOk);
  watcher.Join();
  EXPECT_TRUE(watcher.found());
}

}  // namespace
}  // namespace platform
