// The application shell: module "Start" (App:Start, AItemIcon) and module "Dialog"
// (MainDialog with Init, OkButton, CancelButton, ModTarif06; YieldMessageLoop).
//
// AddToProgram enters the classes, the headless copies of the program's resources and
// YieldMessageLoop (function table). The tariff update is a C++ hook run by
// MainDialog:ModTarif06, which registers its own activation; it reaches the dialog late-bound:
// IVarGet(dialog, "ListBox1") for the list box, CallFunction("YieldMessageLoop", {dialog}) to
// pump, and Send(dialog, "UpdateStopRequested"), TRUE once the user asked to close during the
// run: the update then stops at its next safe point and posts nothing more; the dialog ends
// with 1 as soon as the OK handler has returned. One thread only (the GUI thread).
#pragma once

#include <functional>

#include "gui/dialog_template.h"
#include "runtime/startup.h"
#include "runtime/value.h"

namespace shell {

using TariffUpdate = std::function<void(const rt::Value& dialog)>;
// Installs the update run by MainDialog:ModTarif06 (empty: none); returns the old one.
TariffUpdate SetTariffUpdate(TariffUpdate update);

// Unattended runs (Tarif2017.exe /auto, the console runner, the tests of the whole update):
// once set, App:Start posts a click on OK before it shows the dialog, so the update starts as
// soon as the dialog's loop runs; when the OK handler has run the update and disabled OK,
// `done` (when given) sees the dialog as the user would, then a click on "Fermer" is posted
// and the dialog ends as that button ends it. An update left by an exception leaves the
// dialog's loop with it, as always. Off (the default) the dialog waits for the user.
using UpdateDone = std::function<void(const rt::Value& dialog)>;
void SetAutoRun(bool on, UpdateDone done = {});
bool AutoRun();

void AddToProgram(rt::Program& program);
// Declares App (with Start), AItemIcon and MainDialog, and registers the resources.
void DeclareClasses();

// YieldMessageLoop(window): dispatches what is pending for the window (NIL: for the
// thread) and returns NIL without waiting. A quit message is kept back and posted again
// before it returns, so the loop that owns it still sees it.
rt::Value YieldMessageLoop(const rt::Value& window);

// The dialog template "MAINDIALOG" as the program's resources define it.
const gui::DialogTemplate& MainDialogTemplate();

// Control ids of the template.
constexpr int kIdOkButton = 100;
constexpr int kIdCancelButton = 101;
constexpr int kIdFixedText1 = 102;
constexpr int kIdListBox1 = 103;

}  // namespace shell
