#include "tariff/progress.h"

#include <utility>

#include "runtime/functions.h"
#include "runtime/object.h"
#include "tariff/tariff.h"

namespace tariff {
namespace {

LineObserver& Observer() {
  static auto* observer = new LineObserver;
  return *observer;
}

}  // namespace

LineObserver SetLineObserver(LineObserver observer) {
  return std::exchange(Observer(), std::move(observer));
}

Progress::Progress(rt::Value dialog)
    : dialog_(std::move(dialog)), list_(rt::IVarGet(dialog_, rt::String2Symbol("ListBox1"))) {}

void Progress::Post(const std::string& line) const {
  rt::Send(list_, "AddItem", {rt::Value::String(line), rt::Value::Long(0), rt::Value::Long(0)});
  if (Observer()) Observer()(line);
}

void Progress::Pump() const { rt::CallFunction("YieldMessageLoop", {dialog_}); }

void Progress::ShowLast() const {
  rt::Value count = rt::IVarGet(list_, rt::String2Symbol("ItemCount"));
  rt::IVarPut(list_, rt::String2Symbol("CurrentItemNo"), count);
}

bool Progress::StopRequested() const {
  rt::Symbol query = rt::String2Symbol("UpdateStopRequested");
  rt::ObjectRef o = dialog_.GetObject();
  if (!o || !o->cls()->FindMethod(query)) return false;
  return rt::Send(dialog_, query).GetLogic();
}

}  // namespace tariff
