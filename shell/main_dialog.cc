// Module "Dialog": MainDialog and the message pump YieldMessageLoop.
#include <string>
#include <string_view>
#include <utility>

#include "gui/gui.h"
#include "platform/message_queue.h"
#include "runtime/activation.h"
#include "runtime/error.h"
#include "runtime/object.h"
#include "shell/shell.h"
#include "tariff/tariff.h"

namespace shell {

void PostClick(const rt::Value& dialog, std::string_view button, int id);
bool AutoRun();

namespace {

using rt::Args;
using rt::ObjectRef;
using rt::Value;

constexpr char kModule[] = "Dialog";
constexpr char kCaption[] = "Modification Tarifs 2017";
constexpr char kPrompt[] = "Poussez <OK> pour d\xe9marer l'import des tarifs";

PlantedUpdate& Planted() {
  static PlantedUpdate update;
  return update;
}

struct AutoRunState {
  bool on = false;
  UpdateDone done;
};
AutoRunState& Auto() {
  static AutoRunState state;
  return state;
}

Value Arg(Args args, size_t i) { return i < args.size() ? args[i] : Value(); }
rt::Symbol Sym(std::string_view name) { return rt::String2Symbol(name); }

Value New(std::string_view cls, std::initializer_list<Value> args = {}) {
  return rt::CreateInstance(Sym(cls), Args(args.begin(), args.size()));
}

Value Label(std::string_view name, Value caption) {
  return New("HyperLabel",
             {Value::Sym(Sym(name)), std::move(caption), Value::NullString(), Value::NullString()});
}

const rt::Class* DialogWindowClass() { return rt::FindClass(Sym("DialogWindow")); }

bool Flag(const ObjectRef& self, std::string_view ivar) { return self->Get(ivar).GetLogic(); }
void SetFlag(const ObjectRef& self, std::string_view ivar, bool on) {
  self->Set(ivar, Value::Logic(on));
}

Value Init(const ObjectRef& self, Args args) {
  RT_ROUTINE("MAINDIALOG:INIT", kModule);
  Value me = Value::FromObject(self);
  Value owner = Arg(args, 0), extra = Arg(args, 1);
  rt::Send(me, "PreInit", {owner, extra});
  RT_LINE();
  Value base_args[] = {owner, New("ResourceID", {Value::String("MainDialog")}), Value::Logic(true)};
  rt::SendFrom(DialogWindowClass(), me, Sym("Init"), base_args);

  RT_LINE();
  Value font = New("Font", {Value(), Value::Long(10), Value::String("Microsoft Sans Serif")});
  Value brush = New("Brush", {New("Color", {Value::Long(128), Value::Long(255), Value::Long(0)})});

  RT_LINE();
  Value ok = New("PushButton", {me, New("ResourceID", {Value::Long(IDC_OKBUTTON)})});
  self->Set("OkButton", ok);
  rt::IVarPut(ok, Sym("HyperLabel"), Label("OkButton", Value::String("OK")));

  RT_LINE();
  Value cancel = New("PushButton", {me, New("ResourceID", {Value::Long(IDC_CANCELBUTTON)})});
  self->Set("CancelButton", cancel);
  rt::IVarPut(cancel, Sym("HyperLabel"), Label("CancelButton", Value::String("Fermer")));

  RT_LINE();
  Value prompt = New("FixedText", {me, New("ResourceID", {Value::Long(IDC_FIXEDTEXT1)})});
  self->Set("FixedText1", prompt);
  rt::IVarPut(prompt, Sym("HyperLabel"), Label("FixedText1", Value::String(kPrompt)));
  rt::Send(prompt, "Font", {font, Value::Logic(false)});
  rt::IVarPut(prompt, Sym("TextColor"),
              New("Color", {Value::Long(0), Value::Long(0), Value::Long(0)}));
  rt::IVarPut(prompt, Sym("Background"), brush);

  RT_LINE();
  Value list = New("ListBox", {me, New("ResourceID", {Value::Long(IDC_LISTBOX1)})});
  self->Set("ListBox1", list);
  rt::IVarPut(list, Sym("HyperLabel"), Label("ListBox1", Value::NullString()));

  RT_LINE();
  rt::IVarPut(me, Sym("Caption"), Value::String(kCaption));
  rt::IVarPut(me, Sym("HyperLabel"), Label("MainDialog", Value::String(kCaption)));
  rt::IVarPut(me, Sym("Icon"), New("AItemIcon"));
  rt::IVarPut(me, Sym("IconSm"), New("AItemIcon"));

  RT_LINE();
  rt::Send(me, "PostInit", {owner, extra});
  return me;
}

void EndNow(const ObjectRef& self, int result) {
  Value args[] = {Value::Long(result)};
  rt::SendFrom(DialogWindowClass(), Value::FromObject(self), Sym("EndDialog"), args);
}

// The update runs inside this handler and pumps messages, so a second click on OK can
// arrive while it runs: it is ignored. A close asked for meanwhile waits for the update
// to stop at its next safe point, then ends the dialog with 1.
Value OkButton(const ObjectRef& self, Args) {
  RT_ROUTINE("MAINDIALOG:OKBUTTON", kModule);
  if (Flag(self, "UpdateRunning")) return Value();
  Value me = Value::FromObject(self);
  SetFlag(self, "UpdateRunning", true);
  try {
    RT_LINE();
    rt::Send(me, "ModTarif06");
  } catch (...) {
    SetFlag(self, "UpdateRunning", false);
    if (Flag(self, "CloseRequested")) EndNow(self, 1);
    throw;
  }
  SetFlag(self, "UpdateRunning", false);
  RT_LINE();
  rt::Send(self->Get("OkButton"), "Disable");
  if (Flag(self, "CloseRequested")) {
    EndNow(self, 1);
    return Value();
  }
  if (Auto().on) {
    UpdateDone done = Auto().done;
    if (done) done(me);
    PostClick(me, "CancelButton", IDC_CANCELBUTTON);
  }
  return Value();
}

Value CancelButton(const ObjectRef& self, Args) {
  RT_ROUTINE("MAINDIALOG:CANCELBUTTON", kModule);
  rt::Send(Value::FromObject(self), "EndDialog", {Value::Long(1)});
  return Value();
}

// Ending the dialog ("Fermer", the close box, Esc) while the update runs only asks the
// update to stop; the OK handler ends the dialog once the update has returned.
Value EndDialog(const ObjectRef& self, Args args) {
  if (Flag(self, "UpdateRunning")) {
    SetFlag(self, "CloseRequested", true);
    return Value::FromObject(self);
  }
  rt::SendFrom(DialogWindowClass(), Value::FromObject(self), Sym("EndDialog"), args);
  return Value::FromObject(self);
}

// The update registers its own MAINDIALOG:MODTARIF06 activation.
Value ModTarif06(const ObjectRef& self, Args) {
  Value me = Value::FromObject(self);
  if (!Planted()) return tariff::ModTarif06(me);
  PlantedUpdate update = Planted();  // a test may plant another one while it runs
  update(me);
  return me;
}

}  // namespace

// A click as the button would send it: WM_COMMAND (BN_CLICKED) to the dialog, through the
// queue, so it is handled by the dialog's own loop once the current handler has returned.
void PostClick(const Value& dialog, std::string_view button, int id) {
  platform::WindowHandle window = rt::Send(dialog, "Handle").GetPtr();
  platform::WindowHandle control = rt::Send(rt::IVarGet(dialog, Sym(button)), "Handle").GetPtr();
  platform::PostMessageA(window, platform::kWmCommand,
                         static_cast<uintptr_t>(id) | (uintptr_t{platform::kBnClicked} << 16),
                         reinterpret_cast<intptr_t>(control));
}

bool AutoRun() { return Auto().on; }

rt::Value RunUnattended(UpdateDone done) {
  struct On {
    explicit On(UpdateDone done) { Auto() = {true, std::move(done)}; }
    ~On() { Auto() = {}; }
  } on(std::move(done));
  return gui::Start();
}

PlantedUpdate PlantUpdateForTest(PlantedUpdate update) {
  return std::exchange(Planted(), std::move(update));
}

void DeclareMainDialogClass() {
  rt::ClassBuilder("MainDialog", "DialogWindow")
      .IVar("OkButton")
      .IVar("CancelButton")
      .IVar("FixedText1")
      .IVar("ListBox1")
      .IVar("UpdateRunning")
      .IVar("CloseRequested")
      .Method("Init", &Init)
      .Method("OkButton", &OkButton)
      .Method("CancelButton", &CancelButton)
      .Method("EndDialog", &EndDialog)
      .Method("ModTarif06", &ModTarif06)
      .Method(
          "UpdateStopRequested",
          [](const ObjectRef& self, Args) { return Value::Logic(Flag(self, "CloseRequested")); })
      .Register();
}

rt::Value YieldMessageLoop(const rt::Value& window) {
  RT_ROUTINE("YIELDMESSAGELOOP", kModule);
  platform::WindowHandle filter = nullptr;
  if (!window.IsNil()) filter = rt::Send(window, "Handle").GetPtr();
  // A quit taken here belongs to the loop that owns the program: it goes back into the
  // queue when the pump returns, however it returns.
  struct QuitKeeper {
    bool seen = false;
    int code = 0;
    ~QuitKeeper() {
      if (seen) platform::PostQuitMessage(code);
    }
  } quit;
  platform::Message m;
  while (platform::PeekMessageA(&m, filter, 0, 0, platform::kPmRemove)) {
    if (m.message == platform::kWmQuit) {
      quit.seen = true;
      quit.code = static_cast<int>(m.wparam);
      continue;
    }
    RT_LINE();
    platform::TranslateMessage(m);
    platform::DispatchMessageA(m);
  }
  return Value();
}

}  // namespace shell
