// The "MAINDIALOG" template as data, made from the lines maindialog.rc is made from: the
// headless back-end's resource, and what tests expect the real dialog to show.
#include <cstdint>
#include <string>
#include <tuple>

#include "resources/maindialog.h"
#include "shell/shell.h"

namespace shell {
namespace {

// The Windows headers' names of the styles the template is written with.
namespace styles {
using namespace gui::style;
constexpr uint32_t WS_POPUP = kWsPopup, WS_CHILD = kWsChild, WS_VISIBLE = kWsVisible,
                   WS_CAPTION = kWsCaption, WS_SYSMENU = kWsSysMenu, WS_VSCROLL = kWsVScroll,
                   WS_MINIMIZEBOX = kWsMinimizeBox, WS_TABSTOP = kWsTabStop;
constexpr uint32_t DS_CENTER = kDsCenter, DS_MODALFRAME = kDsModalFrame, DS_SETFONT = kDsSetFont,
                   DS_3DLOOK = kDs3dLook;
constexpr uint32_t BS_PUSHBUTTON = kBsPushButton;
constexpr uint32_t SS_CENTER = kSsCenter, SS_CENTERIMAGE = kSsCenterImage;
constexpr uint32_t LBS_NOTIFY = kLbsNotify, LBS_NOINTEGRALHEIGHT = kLbsNoIntegralHeight,
                   LBS_DISABLENOSCROLL = kLbsDisableNoScroll;
constexpr uint32_t WS_EX_CLIENTEDGE = kWsExClientEdge;
}  // namespace styles

gui::DialogTemplate Make() {
  using namespace styles;
  gui::DialogTemplate t;
  t.caption = MAINDIALOG_CAPTION;
  std::tie(t.x, t.y, t.cx, t.cy) = std::tuple(MAINDIALOG_RECT);
  t.style = MAINDIALOG_STYLE;
  std::tie(t.font_points, t.font_face, t.font_weight, t.font_italic, t.font_charset) =
      std::tuple<int, std::string, int, bool, int>(MAINDIALOG_FONT);
#define SHELL_CONTROL(text, id, class_name, style, x, y, cx, cy, ex_style) \
  t.controls.push_back({id, class_name, text, x, y, cx, cy, style, ex_style});
  MAINDIALOG_CONTROLS(SHELL_CONTROL)
#undef SHELL_CONTROL
  return t;
}

}  // namespace

const gui::DialogTemplate& MainDialogTemplate() {
  static const gui::DialogTemplate kTemplate = Make();
  return kTemplate;
}

}  // namespace shell
