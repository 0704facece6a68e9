// The application shell: module "Start" (App:Start, AItemIcon) and module "Dialog"
// (MainDialog with Init, OkButton, CancelButton, ModTarif06; YieldMessageLoop).
//
// AddToProgram enters the classes, the headless copies of the program's resources and
// YieldMessageLoop (function table). MainDialog:ModTarif06 runs the tariff update
// (tariff::ModTarif06), which registers its own activation; it reaches the dialog late-bound:
// IVarGet(dialog, "ListBox1") for the list box, CallFunction("YieldMessageLoop", {dialog}) to
// pump, and Send(dialog, "UpdateStopRequested"), TRUE once the user asked to close during the
// run: the update then stops at its next safe point and posts nothing more; the dialog ends
// with 1 as soon as the OK handler has returned. One thread only (the GUI thread).
#pragma once

#include <functional>

#include "gui/dialog_template.h"
#include "resources/resource.h"
#include "runtime/startup.h"
#include "runtime/value.h"

namespace shell {

// Tests plant the update MainDialog:ModTarif06 runs instead of the tariff update (empty: the
// tariff update again) to see the dialog around an update of their own; returns the one
// planted before. Nothing but tests calls it.
using PlantedUpdate = std::function<void(const rt::Value& dialog)>;
PlantedUpdate PlantUpdateForTest(PlantedUpdate update);

// Runs the program unattended (Tarif2017.exe /auto, the console runner, the tests of the whole
// program): the GUI library's start routine runs App:Start, which posts a click on OK before
// it shows the dialog, so the update starts as soon as the dialog's loop runs; when the OK
// handler has run the update and disabled OK, `done` (when given) sees the dialog as the user
// would, then a click on "Fermer" is posted and the dialog ends as that button ends it.
// Returns App:Start's result. An update left by an exception leaves the dialog's loop with
// it, as always. Started otherwise, App:Start waits for the user.
using UpdateDone = std::function<void(const rt::Value& dialog)>;
rt::Value RunUnattended(UpdateDone done = {});

void AddToProgram(rt::Program& program);
// Declares App (with Start), AItemIcon and MainDialog, and registers the resources.
void DeclareClasses();

// YieldMessageLoop(window): dispatches what is pending for the window (NIL: for the
// thread) and returns NIL without waiting. A quit message is kept back and posted again
// before it returns, so the loop that owns it still sees it.
rt::Value YieldMessageLoop(const rt::Value& window);

// The dialog template "MAINDIALOG" as the program's resources define it (its control ids:
// IDC_OKBUTTON, IDC_CANCELBUTTON, IDC_FIXEDTEXT1, IDC_LISTBOX1 of resources/resource.h).
const gui::DialogTemplate& MainDialogTemplate();

}  // namespace shell
