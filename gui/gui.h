// The GUI class library as the program sees it: class declarations for the runtime's
// registry and the library's start routine.
//
// AddToProgram enters the classes (DialogWindow, PushButton, FixedText, ListBox, ResourceID,
// HyperLabel, Font, Color, Brush, Icon) and the start routine "GuiStart" into a Program. The
// application class App belongs to the library but its Start comes from the program, which
// declares it with DeclareAppClass. One thread only (the GUI thread).
#pragma once

#include "runtime/object.h"
#include "runtime/startup.h"

namespace gui {

void AddToProgram(rt::Program& program);
// Declares the library's classes now (AddToProgram's class declaration).
void DeclareClasses();
// Declares App with the program's Start operation.
void DeclareAppClass(rt::Method start);
// The library's start routine: makes the App object and runs its Start; gives Start's result.
rt::Value Start();

}  // namespace gui
