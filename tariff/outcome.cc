#include "tariff/outcome.h"

namespace tariff {
namespace {
RunTally tally;
}  // namespace

const RunTally& LastRun() { return tally; }

int ExitCodeOf(const RunTally& t) {
  if (!t.started) return kExitPracticeFailed;
  if (!t.config_found) return kExitConfigNotFound;
  if (!t.finished || t.steps_failed > 0 || t.practices_skipped > 0) return kExitPracticeFailed;
  return kExitOk;
}

void NoteRunStarted() {
  tally = RunTally();
  tally.started = true;
}
void NoteConfigFound() { tally.config_found = true; }
void NoteRunFinished() { tally.finished = true; }
void NoteStepOk() { ++tally.steps_ok; }
void NoteStepFailed() { ++tally.steps_failed; }
void NotePracticeSkipped() { ++tally.practices_skipped; }

}  // namespace tariff
