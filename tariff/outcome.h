// What the last run came to, for the exit code of the programs that run it
// unattended (the console runner, Tarif2017.exe /auto): every step and every
// practice passed over is tallied as its line is posted.
#pragma once

namespace tariff {

// Exit codes of an unattended run. A runtime error answered with "quit" ends
// the process with the error's general code instead (1 to 41, or 5333 for an
// operating-system exception), so these stay clear of that range.
inline constexpr int kExitOk = 0;               // every step: réussi, Modifié or déjà faite
inline constexpr int kExitUsage = 64;           // bad command line
inline constexpr int kExitConfigNotFound = 70;  // no data root: "IniFile non trouvé"
inline constexpr int kExitPracticeFailed = 71;  // a step failed, a practice was passed over,
                                                // or the run was stopped or did not end
struct RunTally {
  bool started = false;
  bool config_found = false;
  bool finished = false;  // the closing lines were posted
  int steps_ok = 0;       // réussi, Modifié, déjà faite
  int steps_failed = 0;   // raté, a marker that did not stick, a refused step
  int practices_skipped = 0;
};

// The tally of the run under way or of the last one.
const RunTally& LastRun();
// The exit code the tally stands for (kExitOk only for a finished run in
// which nothing failed and no practice was passed over).
int ExitCodeOf(const RunTally& tally);

// Called by the update as it goes.
void NoteRunStarted();
void NoteConfigFound();
void NoteRunFinished();
void NoteStepOk();
void NoteStepFailed();
void NotePracticeSkipped();

}  // namespace tariff
