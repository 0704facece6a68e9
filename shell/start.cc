// Module "Start": App:Start and AItemIcon; the shell's part of the program.
#include "gui/gui.h"
#include "runtime/activation.h"
#include "runtime/object.h"
#include "shell/shell.h"

namespace shell {

void DeclareMainDialogClass();                                             // main_dialog.cc
void PostClick(const rt::Value& dialog, std::string_view button, int id);  // main_dialog.cc
bool AutoRun();                                                            // main_dialog.cc

namespace {

using rt::Args;
using rt::ObjectRef;
using rt::Value;

constexpr char kModule[] = "Start";

Value AppStart(const ObjectRef&, Args) {
  RT_ROUTINE("APP:START", kModule);
  Value dialog = rt::CreateInstance(rt::String2Symbol("MainDialog"));
  if (AutoRun()) PostClick(dialog, "OkButton", IDC_OKBUTTON);
  RT_LINE();
  rt::Send(dialog, "Show");
  return Value();
}

Value AItemIconInit(const ObjectRef& self, Args) {
  RT_ROUTINE("AITEMICON:INIT", kModule);
  Value id[] = {rt::CreateInstance(rt::String2Symbol("ResourceID"),
                                   std::initializer_list<Value>{Value::String("AITEMICON")})};
  rt::SendFrom(rt::FindClass(rt::String2Symbol("Icon")), Value::FromObject(self),
               rt::String2Symbol("Init"), id);
  return Value::FromObject(self);
}

}  // namespace

void DeclareClasses() {
  // Resources of the program's own module, for back-ends without a resource section.
  gui::RegisterDialogTemplate("MAINDIALOG", MainDialogTemplate());
  gui::RegisterIconName("AITEMICON");

  gui::DeclareAppClass(&AppStart);
  rt::ClassBuilder("AItemIcon", "Icon").Method("Init", &AItemIconInit).Register();
  DeclareMainDialogClass();
}

void AddToProgram(rt::Program& program) {
  program.class_declarations.push_back(&DeclareClasses);
  program.functions.push_back({"YieldMessageLoop", 1, [](Args args) {
                                 return YieldMessageLoop(args.empty() ? Value() : args[0]);
                               }});
}

}  // namespace shell
