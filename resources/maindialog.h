// The main dialog's template "MAINDIALOG", written once: maindialog.rc makes the resource of
// Tarif2017.exe from these lines, and the shell makes from the same lines the template that
// the headless back-end, which has no resource section, shows (shell/main_dialog_template.cc).
// Style names are those of the Windows headers; the including file gives them their values.
// Texts are Windows-1252 bytes, written as escapes. Ids come from resource.h.
#pragma once

#include "resource.h"

// Position and size in dialog units: x, y, width, height.
#define MAINDIALOG_RECT 11, 24, 206, 182
#define MAINDIALOG_STYLE                                                                         \
  WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_CENTER | DS_MODALFRAME | DS_SETFONT | \
      DS_3DLOOK
#define MAINDIALOG_CAPTION "Modification Tarifs 2017"
// Points, face, weight, italic, character set.
#define MAINDIALOG_FONT 8, "MS Shell Dlg", 0, 0, 1

// The controls in template order, which is the tab order: CONTROL_(text, id, class, style, x,
// y, width, height, extended style) for each.
#define MAINDIALOG_CONTROLS(CONTROL_)                                                             \
  CONTROL_("OK", IDC_OKBUTTON, "BUTTON", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 161, \
           163, 40, 12, 0)                                                                        \
  CONTROL_("Fermer", IDC_CANCELBUTTON, "BUTTON",                                                  \
           WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 117, 163, 40, 12, 0)               \
  CONTROL_("Poussez <OK> pour d\xe9marer l'import des tarifs", IDC_FIXEDTEXT1, "STATIC",          \
           WS_CHILD | WS_VISIBLE | SS_CENTER | SS_CENTERIMAGE, 9, 5, 191, 14, 0)                  \
  CONTROL_("", IDC_LISTBOX1, "LISTBOX",                                                           \
           WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | LBS_DISABLENOSCROLL |                \
               LBS_NOINTEGRALHEIGHT | LBS_NOTIFY,                                                 \
           9, 30, 191, 124, WS_EX_CLIENTEDGE)
