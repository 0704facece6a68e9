// Dialog templates and icon names of the program's own module, as data.
//
// The Windows program carries them as resources (resources/maindialog.rc); the headless
// back-end has no resource section and finds them here, registered by their owner at
// start-up. The same data states what the real template must contain, so tests compare the
// windows made from the .rc with it. Names are matched without regard to case, as resource
// names are. One thread only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gui {

// Window and control styles used by templates (the values of the Windows headers).
namespace style {
constexpr uint32_t kWsPopup = 0x80000000, kWsChild = 0x40000000, kWsVisible = 0x10000000,
                   kWsCaption = 0x00C00000, kWsSysMenu = 0x00080000, kWsVScroll = 0x00200000,
                   kWsMinimizeBox = 0x00020000, kWsTabStop = 0x00010000;
constexpr uint32_t kDsCenter = 0x0800, kDsModalFrame = 0x0080, kDsSetFont = 0x0040,
                   kDs3dLook = 0x0004;
constexpr uint32_t kBsPushButton = 0x0000, kBsDefPushButton = 0x0001, kBsTypeMask = 0x000F;
constexpr uint32_t kSsCenter = 0x0001, kSsCenterImage = 0x0200;
constexpr uint32_t kLbsNotify = 0x0001, kLbsSort = 0x0002, kLbsNoIntegralHeight = 0x0100,
                   kLbsDisableNoScroll = 0x1000;
constexpr uint32_t kWsExClientEdge = 0x0200;
}  // namespace style

struct ControlTemplate {
  int id = 0;
  std::string class_name;            // "BUTTON", "STATIC", "LISTBOX"
  std::string text;                  // Windows-1252
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  uint32_t style = 0, ex_style = 0;
};

struct DialogTemplate {
  std::string caption;
  int x = 0, y = 0, cx = 0, cy = 0;
  uint32_t style = 0, ex_style = 0;
  int font_points = 0;
  std::string font_face;
  int font_weight = 0;
  bool font_italic = false;
  int font_charset = 0;
  std::vector<ControlTemplate> controls;  // template order = tab order
  const ControlTemplate* Control(int id) const;
};

void RegisterDialogTemplate(std::string_view name, DialogTemplate t);
const DialogTemplate* FindDialogTemplate(std::string_view name);  // null when unknown
void RegisterIconName(std::string_view name);
// A stable token for a registered icon name; null when unknown.
const void* FindIconName(std::string_view name);

}  // namespace gui
