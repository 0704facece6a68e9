// Resource ids shared by maindialog.rc and the code that binds the dialog's controls.
#pragma once

#define IDC_OKBUTTON 100
#define IDC_CANCELBUTTON 101
#define IDC_FIXEDTEXT1 102
#define IDC_LISTBOX1 103
