// The "MAINDIALOG" template and the "AITEMICON" name, as data: the headless back-end's
// resources, and what tests expect the real template (resources/maindialog.rc) to hold.
#include "shell/shell.h"

namespace shell {

const gui::DialogTemplate& MainDialogTemplate() {
  using namespace gui::style;
  static const gui::DialogTemplate kTemplate = [] {
    gui::DialogTemplate t;
    t.caption = "Modification Tarifs 2017";
    t.x = 11, t.y = 24, t.cx = 206, t.cy = 182;
    t.style = kWsPopup | kWsCaption | kWsSysMenu | kWsMinimizeBox | kDsCenter | kDsModalFrame |
              kDsSetFont | kDs3dLook;
    t.font_points = 8;
    t.font_face = "MS Shell Dlg";
    t.font_charset = 1;
    const uint32_t button = kWsChild | kWsVisible | kWsTabStop | kBsPushButton;
    t.controls = {
        {kIdOkButton, "BUTTON", "OK", 161, 163, 40, 12, button, 0},
        {kIdCancelButton, "BUTTON", "Fermer", 117, 163, 40, 12, button, 0},
        {kIdFixedText1, "STATIC", "Poussez <OK> pour d\xe9marer l'import des tarifs", 9, 5, 191,
         14, kWsChild | kWsVisible | kSsCenter | kSsCenterImage, 0},
        {kIdListBox1, "LISTBOX", "", 9, 30, 191, 124,
         kWsChild | kWsVisible | kWsVScroll | kWsTabStop | kLbsDisableNoScroll |
             kLbsNoIntegralHeight | kLbsNotify,
         kWsExClientEdge},
    };
    return t;
  }();
  return kTemplate;
}

}  // namespace shell
