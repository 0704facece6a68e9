// The headless back-end's window for tests and the Linux console runner.
//
// Dialogs made by the headless back-end keep every control's state in memory; this header
// reads it back and feeds input through the portable message queue, so a click takes the
// same road as on Windows (mouse messages to the button, WM_COMMAND to the dialog, the
// method named by the button's label). When a modal loop finds the queue empty it asks the
// idle handler for more input; without one, or when it answers false, the dialog ends with
// -1 instead of waiting for ever. Linux only; one thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "gui/backend.h"

namespace gui::headless {

struct ControlState {
  platform::WindowHandle handle = nullptr;
  int id = 0;
  std::string class_name;
  std::string text;
  uint32_t style = 0, ex_style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units, from the template
  bool enabled = true;
  std::optional<FontSpec> font;  // unset: the dialog's font
  std::optional<Rgb> text_color, background;
  std::vector<std::string> items;  // list boxes
  int selected = -1;
  int top_index = 0;
  int visible_lines = 0;
  int paint_count = 0;
  bool ScrollBarEnabled() const { return static_cast<int>(items.size()) > visible_lines; }
};

struct DialogState {
  platform::WindowHandle handle = nullptr;
  std::string template_name;
  std::string caption;
  uint32_t style = 0;
  const void* icon = nullptr;
  const void* icon_small = nullptr;
  bool visible = false;
  bool running = false;
  int result = 0;
  int paint_count = 0;
  std::vector<ControlState> controls;
  const ControlState* Control(int id) const;
};

// The state of a live headless dialog; null for an unknown handle.
const DialogState* FindDialog(platform::WindowHandle dialog);
// The innermost dialog whose modal loop runs; null when none.
const DialogState* ActiveDialog();

// Posts a mouse click (button down and up) on the control: a push button that is enabled
// then sends BN_CLICKED to its dialog.
void PostClick(platform::WindowHandle dialog, int control_id);
// Posts WM_CLOSE to the dialog (the close box).
void PostClose(platform::WindowHandle dialog);
// Posts a key press (WM_KEYDOWN, virtual key) to the dialog.
void PostKey(platform::WindowHandle dialog, uint32_t virtual_key);

using IdleHandler = std::function<bool(platform::WindowHandle dialog)>;
void SetIdleHandler(IdleHandler handler);

}  // namespace gui::headless
