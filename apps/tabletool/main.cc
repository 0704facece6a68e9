// tabletool: looking at tables from the command line.
//   tabletool dump <table.dbf>         the table-dump/1 JSON of the table
//   tabletool check <table.dbf>...     every fault of tables, memos and tags;
//                                      exit code 1 when any was found (a
//                                      rollback journal beside a table is one:
//                                      the table is then not opened)
//   tabletool recover [--force] <table.dbf>
//                                      undoes the interrupted transaction whose
//                                      journal lies beside the table and says
//                                      what it did; --force undoes it even when
//                                      the files changed after it; exit 1 when
//                                      the journal was left alone, 2 on errors
//   tabletool check-tree <progdir>     every table the tariff update would
//                                      open (check_tree.h); exit code 1 unless sound
// Paths are native paths or Windows paths (mapped as the system maps them).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "apps/tabletool/check_tree.h"
#include "platform/file.h"
#include "platform/path.h"
#include "runtime/convert.h"
#include "tables/cdx/rollback_journal.h"
#include "tables/dbserver.h"
#include "tables/tools/table_dump.h"

namespace {

// Arguments come in the terminal's encoding; the table service takes paths in
// the system's own.
bool SystemPath(const std::string& arg, std::string* path) {
  if (platform::PathFromNative(arg, path)) return true;
  std::cerr << arg << ": a character of this path has no Windows-1252 form\n";
  return false;
}

// Each command below returns the program's exit code.

int CheckTreeCommand(const std::string& tree_dir, const std::vector<std::string>& maps) {
  for (const std::string& m : maps) {
    size_t eq = m.find('=');
    if (eq == std::string::npos || eq == 0) {
      std::cerr << "--map " << m << ": expected PREFIX=/native/dir\n";
      return 2;
    }
    std::string prefix = m.substr(0, eq);
    if (prefix.size() > 2 && prefix.back() == ':') prefix.pop_back();
    platform::AddPathMapping(prefix, m.substr(eq + 1));
  }
  std::string dir;
  if (!SystemPath(tree_dir, &dir)) return 2;
  return tabletool::CheckTree(dir, std::cout);
}

int RecoverCommand(const std::string& recover_path, bool force) {
  std::string path;
  if (!SystemPath(recover_path, &path)) return 2;
  tables::RecoveryResult result = tables::RecoveryResult::kNone;
  std::string detail;
  tables::Status st =
      tables::DBServer::Recover(path, true, tables::LockSchemeId::kVfp, force, &result, &detail);
  if (!detail.empty()) std::cout << rt::Ansi2Utf8(detail) << "\n";
  if (result == tables::RecoveryResult::kNone && st.ok()) {
    std::cout << recover_path << ": no journal\n";
  }
  if (!st.ok()) {
    std::cerr << rt::Ansi2Utf8(st.text()) << " (code " << st.code() << ", os " << st.os_code()
              << ")\n";
    return 2;
  }
  return result == tables::RecoveryResult::kLive || result == tables::RecoveryResult::kRefused ? 1
                                                                                               : 0;
}

int DumpCommand(const std::string& dump_path) {
  std::string path;
  if (!SystemPath(dump_path, &path)) return 2;
  tables::Status st = tables::DumpTable(path, std::cout);
  if (!st.ok()) {
    std::cerr << rt::Ansi2Utf8(st.text()) << " (code " << st.code() << ", os " << st.os_code()
              << ")\n";
    return 2;
  }
  return 0;
}

int CheckCommand(const std::vector<std::string>& check_paths) {
  int rc = 0;
  for (const std::string& arg : check_paths) {
    std::vector<std::string> faults;
    std::string path;
    if (!SystemPath(arg, &path)) return 2;
    const std::string journal = tables::JournalPath(path);
    if (platform::FileExists(journal)) {
      // Opening would recover it: only a report here.
      faults.push_back(
          journal + ": a rollback journal: a transaction is " +
          (tables::JournalInUse(path) ? "running" : "unfinished (run tabletool recover)"));
    } else {
      tables::Status st = tables::CheckTable(path, &faults);
      if (!st.ok()) faults.push_back(st.text());
    }
    for (const std::string& f : faults) std::cout << rt::Ansi2Utf8(f) << "\n";
    std::cout << arg << ": "
              << (faults.empty() ? "ok" : std::to_string(faults.size()) + " fault(s)") << "\n";
    if (!faults.empty()) rc = 1;
  }
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("tabletool: dump and check DBF tables with their memo and index files");
  app.require_subcommand(1);
  std::string dump_path;
  std::vector<std::string> check_paths;
  auto* dump = app.add_subcommand("dump", "write the table's dump (JSON) to stdout");
  dump->add_option("table", dump_path, "the .dbf file")->required();
  auto* check = app.add_subcommand("check", "validate tables; exit 1 on any fault");
  check->add_option("tables", check_paths, "the .dbf files")->required();
  std::string tree_dir;
  std::vector<std::string> maps;
  auto* tree =
      app.add_subcommand("check-tree", "check every table of an installation; exit 1 unless sound");
  tree->add_option("progdir", tree_dir, "the program directory (Velmora.ini)")->required();
  tree->add_option("--map", maps,
                   "X:=/path or \\\\server\\share=/path: where a drive or UNC prefix of the "
                   "configuration's paths lives (repeatable)");
  std::string recover_path;
  bool force = false;
  auto* recover = app.add_subcommand("recover", "undo an interrupted transaction of a table");
  recover->add_option("table", recover_path, "the .dbf file")->required();
  recover->add_flag("--force", force, "undo even when the files changed after the transaction");
  CLI11_PARSE(app, argc, argv);
  if (*tree) return CheckTreeCommand(tree_dir, maps);
  if (*recover) return RecoverCommand(recover_path, force);
  if (*dump) return DumpCommand(dump_path);
  return CheckCommand(check_paths);
}
