#include "apps/program/program.h"

#include "errors/errors.h"
#include "gui/gui.h"
#include "ini/ini_file_spec.h"
#include "macro/macro_support.h"
#include "shell/shell.h"
#include "tables/dbserver.h"

namespace app {

rt::Program Tarif2017Program() {
  rt::Program p;
  // The symbols the program names, in the order of its symbol table; this
  // order fixes their numbers.
  p.symbols = {"APP",        "MAINDIALOG", "AITEMICON",   "OKBUTTON",     "CANCELBUTTON",
               "FIXEDTEXT1", "LISTBOX1",   "MODTARIF06",  "INIT",         "SHOW",
               "ENDDIALOG",  "DISABLE",    "CABINET",     "INDEX_TYP",    "INDEX_DAT",
               "INDEX_100",  "DBSERVER",   "INIFILESPEC", "WINIFILESPEC", "FILESPEC",
               "ERROR",      "WINDOWS",    "LEGACY",      "BINARY",       "DEFERROR",
               "THROW",      "GETSTRING",  "WRITESTRING"};
  rt::AddRuntimeToProgram(p);
  tables::AddTablesToProgram(p);
  ini::AddToProgram(p);
  errors::AddToProgram(p);
  macro::AddToProgram(p);
  gui::AddToProgram(p);
  shell::AddToProgram(p);
  return p;
}

}  // namespace app
