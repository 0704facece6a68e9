// Tarif2017.exe: start-up of the runtime with every module of the program, then the GUI
// library's start routine, which runs App:Start (the main dialog, modal). The process ends
// with the runtime's exit code when the dialog has ended, and with -1 when start-up fails.
//
// Unattended runs (a scheduled task, a deployment script, the tests):
//   /auto              presses OK itself and ends the dialog once the update has returned;
//                      the exit code is then the console runner's (0 only when every step of
//                      every practice succeeded or was already done)
//   /log FILE          appends every line of the list box to FILE as it is posted
//                      (Windows-1252, CR LF); a line that cannot be written fails the run
//   /onerror quit|default
//                      answers every error box without a person (quit ends the process with
//                      the error's general code, as the box's own Quit does)
//   /dry-run           the update posts the lines a real run would post and changes nothing
//                      (tables opened read-only, no marker, lock, journal or report written)
//   /report FILE       the change report goes to FILE instead of the program directory's
//                      Tarif2017-changes.csv; with /dry-run, what would change goes there
// Switches are case-insensitive and may start with / or -. Without any of them the command
// line is not looked at, as it never was; with one, a word that is not understood refuses the
// run with exit code 64 before anything is touched.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "apps/program/program.h"
#include "runtime/convert.h"
#include "runtime/error.h"
#include "runtime/error_box.h"
#include "runtime/functions.h"
#include "runtime/startup.h"
#include "runtime/symbol.h"
#include "shell/shell.h"
#include "tariff/outcome.h"
#include "tariff/run_options.h"
#include "tariff/tariff.h"

namespace {

// The log could not be opened or a line could not be written.
constexpr int kExitLogFailed = 74;

struct Options {
  bool any = false;  // one of the switches was given
  bool auto_run = false;
  std::string log;
  uint32_t on_error = 0;  // 0: ask the user; else the error box answer
  tariff::RunOptions run;
  std::string bad;  // why the command line is refused ("" when it is not)
};

Options ParseCommandLine(int argc, char** argv) {
  Options o;
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) words.push_back(argv[i] ? argv[i] : "");
  auto is_switch = [](const std::string& w, const char* name) {
    return (w.size() > 1 && (w[0] == '/' || w[0] == '-') &&
            rt::AsciiUpper(w.substr(1)) == rt::AsciiUpper(name));
  };
  for (const std::string& w : words) {
    if (is_switch(w, "auto") || is_switch(w, "log") || is_switch(w, "onerror") ||
        is_switch(w, "dry-run") || is_switch(w, "report")) {
      o.any = true;
    }
  }
  if (!o.any) return o;
  for (size_t i = 0; i < words.size() && o.bad.empty(); ++i) {
    const std::string& w = words[i];
    if (is_switch(w, "auto")) {
      o.auto_run = true;
    } else if (is_switch(w, "log")) {
      if (i + 1 >= words.size() || words[i + 1].empty()) {
        o.bad = "/log needs a file name";
      } else {
        o.log = words[++i];
      }
    } else if (is_switch(w, "dry-run")) {
      o.run.dry_run = true;
    } else if (is_switch(w, "report")) {
      if (i + 1 >= words.size() || words[i + 1].empty()) {
        o.bad = "/report needs a file name";
      } else {
        o.run.report_path = words[++i];
      }
    } else if (is_switch(w, "onerror")) {
      std::string answer = i + 1 < words.size() ? rt::AsciiUpper(words[++i]) : "";
      if (answer == "QUIT") {
        o.on_error = 3;
      } else if (answer == "DEFAULT") {
        o.on_error = 1;
      } else {
        o.bad = "/onerror takes quit or default";
      }
    } else {
      o.bad = "unknown argument '" + w + "'";
    }
  }
  return o;
}

// Answers every error box with one policy; an answer that is not offered counts as quit.
class PolicyBox : public rt::ErrorBoxFrontEnd {
 public:
  explicit PolicyBox(uint32_t answer) : answer_(answer) {}
  uint32_t Show(const std::string& text, const std::string& caption, uint32_t def, uint32_t retry,
                uint32_t quit) override {
    std::fprintf(stderr, "%s\n%s", caption.c_str(), text.c_str());
    std::fflush(stderr);
    return answer_ == 1 && def == 1 ? 1 : 3;
  }

 private:
  uint32_t answer_;
};

// Appends each line as it is posted and flushes it, so the file follows the list box even
// when the process is ended halfway.
class LineLog {
 public:
  bool Open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "ab");
    return file_ != nullptr;
  }
  ~LineLog() {
    if (file_) std::fclose(file_);
  }
  void Write(const std::string& line) {
    if (!file_) return;
    std::string bytes = line + "\r\n";
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size() ||
        std::fflush(file_) != 0) {
      failed_ = true;
    }
  }
  bool failed() const { return failed_; }

 private:
  std::FILE* file_ = nullptr;
  bool failed_ = false;
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // No console and nobody to answer a box: reasons go to the standard error.
  Options options = ParseCommandLine(__argc, __argv);
  if (!options.bad.empty()) {
    std::fprintf(
        stderr,
        "Tarif2017: %s (usage: /auto /log FILE /onerror quit|default /dry-run /report FILE)\n",
        options.bad.c_str());
    return tariff::kExitUsage;
  }
  LineLog log;
  if (!options.log.empty() && !log.Open(options.log)) {
    std::fprintf(stderr, "Tarif2017: cannot open the log %s\n", options.log.c_str());
    return kExitLogFailed;
  }
  if (options.on_error != 0) rt::SetErrorBoxFrontEnd(std::make_shared<PolicyBox>(options.on_error));

  std::string failure;
  if (!rt::StartRuntime(app::Tarif2017Program(), &failure)) {
    std::fprintf(stderr, "Tarif2017: start-up failed: %s\n", failure.c_str());
    return -1;
  }
  if (!options.log.empty()) {
    tariff::SetLineObserver([&log](const std::string& line) { log.Write(line); });
  }
  tariff::SetRunOptions(options.run);
  if (options.auto_run) {
    shell::RunUnattended();
  } else {
    rt::CallFunction("GuiStart");
  }
  if (!options.auto_run) return log.failed() ? kExitLogFailed : rt::ErrorLevel();
  int code = tariff::ExitCodeOf(tariff::LastRun());
  return code == tariff::kExitOk && log.failed() ? kExitLogFailed : code;
}
