// The frame of a run: the data root, the header lines, the walk over the
// practice list and the closing lines. The two steps that change data are in
// coefficients.cc and key_letters.cc.
#include <string>

#include "ini/ini_file_spec.h"
#include "runtime/activation.h"
#include "runtime/convert.h"
#include "runtime/object.h"
#include "runtime/program.h"
#include "runtime/settings.h"
#include "tariff/db.h"
#include "tariff/outcome.h"
#include "tariff/progress.h"
#include "tariff/report.h"
#include "tariff/run_options.h"
#include "tariff/steps.h"
#include "tariff/tariff.h"
#include "tariff/texts.h"

namespace tariff {
namespace {

// A code that would take the practice directory outside the data root.
bool InvalidCode(const std::string& code) {
  if (code.find("..") != std::string::npos) return true;
  for (unsigned char c : code) {
    if (c == '\\' || c == '/' || c == ':' || c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// The data root Velmora.ini names: a laptop's server path when it has one,
// else Commun ("" when neither is set).
std::string DataRoot(const ini::IniFile& main_ini) {
  std::string root = main_ini.GetString("Path", "Commun");
  std::string server_root;
  if (main_ini.GetString("options", "laptop") == "1") {
    server_root = main_ini.GetString("Laptop", "pathserver");
  }
  if (!server_root.empty()) root = server_root;
  return root;
}

// Both steps for one practice, each told by the practice's markers whether it
// is due, then the separator line; false when a stop was asked for.
bool UpdatePractice(const std::string& code, const std::string& root,
                    const std::string& program_dir, const Progress& progress) {
  Practice p;
  p.code = code;
  p.table_dir = root + "Data\\doc" + code + "\\";
  p.program_dir = program_dir;
  p.config_path = root + "data\\doc" + code + "\\" + "Velmora.ini";
  ini::IniFile config(p.config_path);
  p.config = &config;
  RT_LINE();
  const bool coefficients_due = config.GetString("2017", "tarif") != "1";
  const bool key_letters_due = config.GetString("2017", "index") != "1";

  RT_LINE();
  CoefficientStep(p, coefficients_due, progress);
  if (progress.StopRequested()) return false;
  RT_LINE();
  KeyLetterStep(p, key_letters_due, progress);
  if (progress.StopRequested()) return false;
  progress.Post(text::kSeparator);
  progress.Pump();
  progress.ShowLast();
  return true;
}

}  // namespace

rt::Value ModTarif06(const rt::Value& dialog) {
  RT_ROUTINE("MAINDIALOG:MODTARIF06", "Dialog");
  Progress progress(dialog);
  NoteRunStarted();
  rt::SetDeleted(true);
  const std::string program_dir = rt::WorkDir();

  RT_LINE();
  ini::IniFile main_ini(program_dir + "Velmora.ini");
  const std::string root = DataRoot(main_ini);
  if (root.empty()) {
    progress.Pump();
    progress.Post(text::kIniNotFound + program_dir + text::kIniName);
    return dialog;
  }
  NoteConfigFound();
  report::BeginRun(program_dir);
  const std::string common_dir = root + "data\\comm\\";
  progress.Post(text::kIniOk + program_dir + text::kIniName);
  progress.Post(text::kDataPath + root);
  progress.Post(text::kRule);
  progress.Post(text::kBlank);
  progress.Pump();

  RT_LINE();
  Db practices(common_dir + "doc.dbf", DryRun());
  // A practice list that did not open (reported by the table service) walks
  // no practice: the run ends with its closing lines but is no success.
  if (!practices.opened()) NoteStepFailed();
  RT_LINE();
  practices.GoTop();
  bool stopped = false;
  while (!practices.Eof()) {
    RT_LINE();
    std::string code = rt::AsString(practices.FieldGet("CABINET"));
    if (rt::Empty(rt::Value::String(code))) {
      practices.Skip();
      continue;
    }
    if (InvalidCode(code)) {
      progress.Post(text::kInvalidCodeHead + code + text::kInvalidCodeTail);
      NotePracticeSkipped();
      progress.Pump();
      progress.ShowLast();
      practices.Skip();
      continue;
    }
    if (!UpdatePractice(code, root, program_dir, progress)) {
      stopped = true;
      break;
    }
    RT_LINE();
    practices.Skip();
  }
  RT_LINE();
  practices.Close();
  report::EndRun();
  if (stopped) return dialog;

  progress.Post(text::kRule);
  progress.Post(text::kEnd);
  NoteRunFinished();
  progress.ShowLast();
  progress.Pump();
  return dialog;
}

}  // namespace tariff
