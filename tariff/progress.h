// The three progress actions of a run: post a line to ListBox1, pump the
// dialog's messages, show the last line; and the stop request of a dialog
// closed while the run is under way.
#pragma once

#include <string>

#include "runtime/value.h"

namespace tariff {

class Progress {
 public:
  explicit Progress(rt::Value dialog);
  void Post(const std::string& line) const;  // AddItem(line, 0, 0)
  void Pump() const;                         // YieldMessageLoop(dialog)
  void ShowLast() const;                     // CurrentItemNo := ItemCount
  // True once the user asked to close the dialog during the run.
  bool StopRequested() const;

 private:
  rt::Value dialog_;
  rt::Value list_;
};

}  // namespace tariff
