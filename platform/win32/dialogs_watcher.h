// Test helper for the Windows builds: a thread that waits for a top-level
// dialog box of its own process with a given caption, notes what it shows, and answers it the
// way a user would, so that tests of modal boxes can run unattended (also
// under Wine). Windows only; the header keeps <windows.h> to itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace platform {

// Control ids of the error box built by ShowErrorBox.
constexpr int kErrorBoxReportId = 100;
constexpr int kErrorBoxDefaultId = 1001;
constexpr int kErrorBoxRetryId = 1002;
constexpr int kErrorBoxQuitId = 1003;

class BoxWatcher {
 public:
  // Presses the control `press_id` of the first box of this process
  // captioned `caption`; 0 closes the box with its close box instead. Gives
  // up after timeout_ms, then closes any box this process shows for a few
  // seconds, so a test whose box does not come fails instead of hanging.
  BoxWatcher(std::string caption, int press_id, int timeout_ms = 10000);
  ~BoxWatcher();  // waits for the thread
  BoxWatcher(const BoxWatcher&) = delete;
  BoxWatcher& operator=(const BoxWatcher&) = delete;

  // Valid after Join (or destruction): whether the box was seen, the text of
  // its report field, and which of the error box buttons it had.
  void Join();
  bool found() const;
  const std::string& report() const;
  const std::vector<int>& buttons() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
