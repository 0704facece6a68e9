// Tarif2017.exe: start-up of the runtime with every module of the program, then the GUI
// library's start routine, which runs App:Start (the main dialog, modal). The process ends
// with the runtime's exit code when the dialog has ended, and with -1 when start-up fails.
#include <windows.h>

#include <cstdio>
#include <string>

#include "apps/program/program.h"
#include "runtime/error.h"
#include "runtime/functions.h"
#include "runtime/startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::string failure;
  if (!rt::StartRuntime(app::Tarif2017Program(), &failure)) {
    // No console and nobody to answer a box: the reason goes to the standard error.
    std::fprintf(stderr, "Tarif2017: start-up failed: %s\n", failure.c_str());
    return -1;
  }
  rt::CallFunction("GuiStart");
  return rt::ErrorLevel();
}
