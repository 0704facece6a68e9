// The seam between the GUI class library and the window system.
//
// The classes of gui/ (DialogWindow, PushButton, ...) keep the object side; a back-end
// creates the dialog from a template of the program's own module, reaches its controls by id
// and runs the modal loop. gui/win32 makes real windows, gui/posix (headless) keeps the same
// state in memory over the portable message queue. Back-ends report clicks and close requests
// through DialogEvents and never let an exception cross a window procedure of the OS.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/message_queue.h"

namespace gui {

struct Rgb {
  uint8_t red = 0, green = 0, blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct FontSpec {
  std::string face;
  int points = 0;
  int family = 0;  // 0: default family
  friend bool operator==(const FontSpec&, const FontSpec&) = default;
};

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;  // Esc and the close box

class ControlBackend {
 public:
  virtual ~ControlBackend() = default;
  virtual platform::WindowHandle handle() const = 0;
  virtual std::string Text() const = 0;
  virtual void SetText(std::string_view text) = 0;
  virtual bool IsEnabled() const = 0;
  virtual void Enable(bool on) = 0;
  virtual void SetFont(const FontSpec& font, bool redraw) = 0;
  // Colours a static control is drawn with (text colour; background brush colour).
  virtual void SetTextColor(Rgb color) = 0;
  virtual void SetBackground(Rgb brush_color) = 0;
  // List boxes. Indexes are 0-based; -1 means no line.
  // Inserts before line `before` (-1: appends); gives the new line's index.
  virtual int AddItem(std::string_view text, int before) = 0;
  virtual int ItemCount() const = 0;
  virtual std::string ItemText(int index) const = 0;
  virtual void SelectItem(int index) = 0;  // selects and scrolls it into view
  virtual int SelectedItem() const = 0;
};

struct DialogEvents {
  // WM_COMMAND from a control (or kIdCancel for Esc and the close box).
  std::function<void(int id, uint32_t notification)> command;
};

class DialogBackend {
 public:
  virtual ~DialogBackend() = default;
  // Creates the dialog, hidden, from the named template; false with a reason when it cannot.
  virtual bool Create(std::string_view template_name, platform::WindowHandle owner,
                      DialogEvents events, std::string* failure) = 0;
  virtual platform::WindowHandle handle() const = 0;
  virtual ControlBackend* Control(int id) = 0;  // null when the template has no such id
  virtual std::string Caption() const = 0;
  virtual void SetCaption(std::string_view text) = 0;
  // icon: a handle from LoadIconResource.
  virtual void SetIcon(void* icon, bool small) = 0;
  // Shows the dialog and runs its modal loop until End; returns End's result.
  virtual int RunModal() = 0;
  virtual void End(int result) = 0;
  virtual bool Running() const = 0;
};

std::unique_ptr<DialogBackend> MakeDialogBackend();
// Loads an icon resource of the program's own module; null when there is none.
void* LoadIconResource(std::string_view name);

}  // namespace gui
