// The tariff update: MainDialog:ModTarif06 brings every practice of the
// installation to the 2017 rates (coefficients appended once, key-letter
// index appended once and reconciled on later runs), writes the "2017"
// markers and posts one progress line per step to the dialog's list box.
//
// It runs on the GUI thread inside the OK handler and reaches everything
// late-bound, as the rest of the program does: the dialog's ListBox1, the
// YieldMessageLoop pump, DBServer tables ("DBFCDX") and IniFileSpec objects.
// Runtime errors go through the error protocol to the default handler.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "runtime/value.h"

namespace tariff {

// The whole run, for the dialog (a MainDialog); returns the dialog.
rt::Value ModTarif06(const rt::Value& dialog);

// How long a step waits for another run that is updating the same practice
// (its update lock, default 10 s) before it gives up on the practice. Returns
// the previous value.
std::chrono::milliseconds SetUpdateLockPatience(std::chrono::milliseconds patience);

// Called with every progress line as it is posted (the Linux console runner
// echoes them); empty: nobody listens. Returns the previous observer.
using LineObserver = std::function<void(const std::string& line)>;
LineObserver SetLineObserver(LineObserver observer);

}  // namespace tariff
