// tarif2017: the tariff update run unattended from a console (Linux, or
// Windows as tarif2017.exe).
//
// Starts the program as the Windows program does, builds the main dialog (on
// the headless GUI back-end under Linux, a real window under Windows), presses
// OK, echoes every progress line as it is posted (UTF-8), then ends the dialog
// as "Fermer" does.
//
// A standard output that goes away (a closed pipe, `| head`) does not stop the
// update half-way: SIGPIPE is ignored and the lines that cannot be written are
// dropped; the exit status still tells how the update went.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "apps/program/program.h"
#include "platform/dialogs.h"
#include "platform/path.h"
#include "runtime/convert.h"
#include "runtime/error_box.h"
#include "runtime/program.h"
#include "shell/shell.h"
#include "tariff/outcome.h"
#include "tariff/run_options.h"
#include "tariff/tariff.h"

namespace {

// Answers every error box with one policy, after printing the report.
class PolicyBox : public rt::ErrorBoxFrontEnd {
 public:
  explicit PolicyBox(uint32_t answer) : answer_(answer) {}
  uint32_t Show(const std::string& text, const std::string& caption, uint32_t def, uint32_t retry,
                uint32_t quit) override {
    std::cerr << rt::Ansi2Utf8(caption) << "\n" << rt::Ansi2Utf8(text) << std::flush;
    if (answer_ == 1 && def == 1) {
      std::cerr << "-> default\n";
      return 1;
    }
    // Retrying a failure that does not go away would never end.
    if (answer_ == 2 && retry == 2 && ++retries_ <= kMaxRetries) {
      std::cerr << "-> retry\n";
      return 2;
    }
    std::cerr << "-> quit\n";
    return 3;
  }

 private:
  static constexpr int kMaxRetries = 5;
  uint32_t answer_;
  int retries_ = 0;
};

std::string WithSeparator(std::string dir) {
  if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir.push_back('/');
  return dir;
}

// The command line's settings, as parsed.
struct CommandLine {
  std::string program_dir;
  std::vector<std::string> maps;
  std::string on_error = "quit";
  double lock_wait = 10;
  tariff::RunOptions run_options;
};

// The options and their help texts, bound to cmd.
void AddOptions(CLI::App& cli, CommandLine* cmd) {
  cli.add_option("--program-dir", cmd->program_dir,
                 "the program directory (Velmora.ini, tarif2017.dbf, ind_1002017.dbf, "
                 "XQERROR.LOG); default: the executable's directory");
  cli.add_option("--map", cmd->maps,
                 "X:=/path or \\\\server\\share=/path: where a drive letter or UNC prefix "
                 "of the configuration's Windows paths lives (repeatable)");
  cli.add_option("--on-error", cmd->on_error,
                 "how runtime error boxes are answered: ask (prompt; needs a terminal), "
                 "default, retry or quit")
      ->check(CLI::IsMember({"ask", "default", "retry", "quit"}));
  cli.add_flag("--dry-run", cmd->run_options.dry_run,
               "print the lines a real run would print and change nothing (tables, memos, "
               "indexes, INI files, locks and journals are only read)");
  cli.add_option("--report", cmd->run_options.report_path,
                 "write the change report (CSV) to this file instead of the program "
                 "directory's Tarif2017-changes.csv; with --dry-run, the rows of what would "
                 "change go there (and nowhere without it)");
  cli.add_option("--lock-wait", cmd->lock_wait,
                 "seconds a step waits for another run that is updating the same practice "
                 "(default 10); the step then fails")
      ->check(CLI::Range(0.0, 3600.0));
}

// The steps below apply one setting; a setting that cannot be used is
// reported on standard error and the step returns false.

// Every --map: a drive letter or UNC prefix and its native directory.
bool AddMappings(const std::vector<std::string>& maps) {
  for (const std::string& m : maps) {
    size_t eq = m.find('=');
    if (eq == std::string::npos || eq == 0) {
      std::cerr << "--map " << m << ": expected PREFIX=/native/dir\n";
      return false;
    }
    std::string prefix;
    if (!platform::PathFromNative(m.substr(0, eq), &prefix)) {
      std::cerr << "--map " << m << ": the prefix has no Windows-1252 form\n";
      return false;
    }
    if (prefix.size() > 1 && prefix.back() == ':' && prefix.size() > 2) prefix.pop_back();
    platform::AddPathMapping(prefix, m.substr(eq + 1));
  }
  return true;
}

// --program-dir as the working directory ("" keeps the executable's).
bool SetProgramDir(const std::string& program_dir) {
  if (program_dir.empty()) return true;
  std::string dir;
  if (!platform::PathFromNative(program_dir, &dir)) {
    std::cerr << "--program-dir " << program_dir
              << ": a character of this path has no Windows-1252 form\n";
    return false;
  }
  rt::SetWorkDir(WithSeparator(dir));
  return true;
}

// --report made absolute, as a Windows path.
bool ResolveReportPath(tariff::RunOptions* options) {
  if (options->report_path.empty()) return true;
  std::error_code ec;
  std::filesystem::path report = std::filesystem::absolute(options->report_path, ec);
  std::string path;
  if (ec || !platform::PathFromNative(report.string(), &path)) {
    std::cerr << "--report " << options->report_path
              << ": a character of this path has no Windows-1252 form\n";
    return false;
  }
  options->report_path = path;
  return true;
}

// --on-error: error boxes asked on the terminal, or answered by policy.
bool SetErrorAnswers(const std::string& on_error) {
  if (on_error == "ask") {
    if (!isatty(STDIN_FILENO)) {
      std::cerr << "--on-error ask needs a terminal on standard input\n";
      return false;
    }
    return true;
  }
  uint32_t answer = on_error == "default" ? 1 : on_error == "retry" ? 2 : 3;
  platform::SetErrorBoxPolicy(answer);
  rt::SetErrorBoxFrontEnd(std::make_shared<PolicyBox>(answer));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App cli{
      "Brings every practice of an installation to the 2017 tariffs, as the Windows program "
      "Tarif2017.exe does when OK is pressed, and prints the progress lines.\n"
      "Exit status: 0 when every step of every practice succeeded or was already done; "
      "64 for a bad command line; 70 when the configuration (Velmora.ini with a data root) was "
      "not found; 71 when a step failed (a table or a marker that could not be written, a "
      "practice being updated by another run), a practice was passed over or the run did not "
      "end; the error's general code (1 to 41) when an error box was answered with quit; 255 "
      "when start-up failed.\n"
      "Paths are taken in the terminal's encoding (UTF-8) and must have a Windows-1252 form."};
  CommandLine cmd;
  AddOptions(cli, &cmd);
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = cli.exit(e);
    return code == 0 ? 0 : tariff::kExitUsage;
  }

  if (!AddMappings(cmd.maps) || !SetProgramDir(cmd.program_dir)) return tariff::kExitUsage;
  tariff::SetUpdateLockPatience(
      std::chrono::milliseconds(static_cast<int64_t>(cmd.lock_wait * 1000)));
#ifdef SIGPIPE
  signal(SIGPIPE, SIG_IGN);
#endif
  if (!ResolveReportPath(&cmd.run_options)) return tariff::kExitUsage;
  tariff::SetRunOptions(cmd.run_options);
  if (!SetErrorAnswers(cmd.on_error)) return tariff::kExitUsage;

  std::string failure;
  if (!rt::StartRuntime(app::Tarif2017Program(), &failure)) {
    std::cerr << "start-up failed: " << failure << "\n";
    return 255;
  }
  tariff::SetLineObserver(
      [](const std::string& line) { std::cout << rt::Ansi2Utf8(line) << std::endl; });

  // OK is pressed as the dialog's loop starts, "Fermer" once the update has returned.
  shell::RunUnattended();
  return tariff::ExitCodeOf(tariff::LastRun());
}
