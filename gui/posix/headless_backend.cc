// The headless back-end: dialogs from registered templates over the portable queue.
#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "gui/backend.h"
#include "gui/dialog_template.h"
#include "gui/headless.h"

namespace gui {
namespace {

using platform::WindowHandle;

constexpr int kLineHeightDlu = 8;  // one line of the 8-point template font
constexpr uint32_t kVkEscape = 0x1B;

uintptr_t MakeWParam(int low, uint32_t high) {
  return (static_cast<uintptr_t>(high & 0xFFFF) << 16) | static_cast<uintptr_t>(low & 0xFFFF);
}

class HeadlessDialog;

std::map<WindowHandle, HeadlessDialog*>& LiveDialogs() {
  static std::map<WindowHandle, HeadlessDialog*> dialogs;
  return dialogs;
}

std::vector<HeadlessDialog*>& RunningDialogs() {
  static std::vector<HeadlessDialog*> running;
  return running;
}

headless::IdleHandler& Idle() {
  static headless::IdleHandler handler;
  return handler;
}

class HeadlessControl : public ControlBackend {
 public:
  HeadlessControl(headless::ControlState* state) : s_(state) {}
  WindowHandle handle() const override { return s_->handle; }
  std::string Text() const override { return s_->text; }
  void SetText(std::string_view text) override {
    s_->text = text;
    platform::InvalidateWindow(s_->handle);
  }
  bool IsEnabled() const override { return s_->enabled; }
  void Enable(bool on) override {
    s_->enabled = on;
    platform::InvalidateWindow(s_->handle);
  }
  void SetFont(const FontSpec& font, bool redraw) override {
    s_->font = font;
    if (redraw) platform::InvalidateWindow(s_->handle);
  }
  void SetTextColor(Rgb color) override { s_->text_color = color; }
  void SetBackground(Rgb color) override { s_->background = color; }
  int AddItem(std::string_view text, int before) override {
    auto& items = s_->items;
    int index = before < 0 || before > static_cast<int>(items.size())
                    ? static_cast<int>(items.size())
                    : before;
    items.insert(items.begin() + index, std::string(text));
    if (s_->selected >= index) ++s_->selected;
    platform::InvalidateWindow(s_->handle);
    return index;
  }
  int ItemCount() const override { return static_cast<int>(s_->items.size()); }
  std::string ItemText(int index) const override {
    return index >= 0 && index < ItemCount() ? s_->items[index] : std::string();
  }
  void SelectItem(int index) override {
    s_->selected = index >= 0 && index < ItemCount() ? index : -1;
    if (s_->selected >= 0) {
      // Scrolled just far enough for the line to be seen, as a list box does.
      if (s_->selected < s_->top_index) s_->top_index = s_->selected;
      if (s_->selected >= s_->top_index + s_->visible_lines) {
        s_->top_index = s_->selected - s_->visible_lines + 1;
      }
    }
    platform::InvalidateWindow(s_->handle);
  }
  int SelectedItem() const override { return s_->selected; }

 private:
  headless::ControlState* s_;
};

class HeadlessDialog : public DialogBackend {
 public:
  ~HeadlessDialog() override {
    if (state_.handle) {
      LiveDialogs().erase(state_.handle);
      platform::DestroyProcWindow(state_.handle);
    }
  }

  bool Create(std::string_view template_name, WindowHandle owner, DialogEvents events,
              std::string* failure) override {
    const DialogTemplate* t = FindDialogTemplate(template_name);
    if (!t) {
      *failure = "no dialog template " + std::string(template_name);
      return false;
    }
    events_ = std::move(events);
    state_.template_name = std::string(template_name);
    state_.caption = t->caption;
    state_.style = t->style;
    state_.handle = platform::CreateProcWindow(
        nullptr,
        [this](WindowHandle, uint32_t m, uintptr_t w, intptr_t l) { return DialogProc(m, w, l); });
    LiveDialogs()[state_.handle] = this;
    state_.controls.reserve(t->controls.size());  // ControlState addresses stay put
    for (const ControlTemplate& ct : t->controls) {
      headless::ControlState c;
      c.id = ct.id;
      c.class_name = ct.class_name;
      c.text = ct.text;
      c.style = ct.style;
      c.ex_style = ct.ex_style;
      c.x = ct.x, c.y = ct.y, c.cx = ct.cx, c.cy = ct.cy;
      c.visible_lines = std::max(1, ct.cy / kLineHeightDlu);
      state_.controls.push_back(std::move(c));
    }
    for (headless::ControlState& c : state_.controls) {
      headless::ControlState* cs = &c;
      c.handle = platform::CreateProcWindow(
          state_.handle, [this, cs](WindowHandle, uint32_t m, uintptr_t w, intptr_t l) {
            return ControlProc(cs, m, w, l);
          });
      controls_.emplace(c.id, HeadlessControl(cs));
    }
    return true;
  }

  WindowHandle handle() const override { return state_.handle; }
  ControlBackend* Control(int id) override {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
  }
  std::string Caption() const override { return state_.caption; }
  void SetCaption(std::string_view text) override {
    state_.caption = text;
    platform::InvalidateWindow(state_.handle);
  }
  void SetIcon(void* icon, bool small) override {
    (small ? state_.icon_small : state_.icon) = icon;
  }

  int RunModal() override {
    state_.visible = true;
    state_.running = true;
    ended_ = false;
    RunningDialogs().push_back(this);
    struct Leave {
      HeadlessDialog* d;
      ~Leave() {
        d->state_.visible = false;
        d->state_.running = false;
        std::erase(RunningDialogs(), d);
      }
    } leave{this};
    platform::InvalidateWindow(state_.handle);
    for (auto& c : state_.controls) platform::InvalidateWindow(c.handle);
    while (!ended_) {
      platform::Message m;
      if (platform::PeekMessageA(&m, nullptr, 0, 0, platform::kPmRemove)) {
        if (m.message == platform::kWmQuit) {
          // The quit belongs to the loop outside the dialog: leave it there.
          platform::PostQuitMessage(static_cast<int>(m.wparam));
          End(0);
          break;
        }
        if (IsEscape(m)) {
          if (events_.command) events_.command(kIdCancel, 0);
          continue;
        }
        platform::TranslateMessage(m);
        platform::DispatchMessageA(m);
        continue;
      }
      if (!Idle() || !Idle()(state_.handle)) {
        std::fprintf(stderr, "headless dialog %s: no more input, ended with -1\n",
                     state_.template_name.c_str());
        End(-1);
      }
    }
    return state_.result;
  }

  void End(int result) override {
    state_.result = result;
    ended_ = true;
  }
  bool Running() const override { return state_.running; }

  const headless::DialogState& state() const { return state_; }

 private:
  bool IsEscape(const platform::Message& m) const {
    if (m.message != platform::kWmKeyDown || m.wparam != kVkEscape) return false;
    if (m.window == state_.handle) return true;
    return std::any_of(state_.controls.begin(), state_.controls.end(),
                       [&](const headless::ControlState& c) { return c.handle == m.window; });
  }

  intptr_t DialogProc(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    switch (message) {
      case platform::kWmPaint:
        ++state_.paint_count;
        return 0;
      case platform::kWmCommand:
        if (events_.command) {
          events_.command(static_cast<int>(wparam & 0xFFFF), static_cast<uint32_t>(wparam >> 16));
        }
        return 0;
      case platform::kWmClose:
        if (events_.command) events_.command(kIdCancel, 0);
        return 0;
      default:
        return 0;
    }
  }

  intptr_t ControlProc(headless::ControlState* c, uint32_t message, uintptr_t, intptr_t) {
    if (message == platform::kWmPaint) {
      ++c->paint_count;
    } else if (message == platform::kWmLButtonUp && c->enabled && c->class_name == "BUTTON") {
      // Disabled windows take no mouse input; an enabled button tells its dialog.
      platform::SendMessageA(state_.handle, platform::kWmCommand,
                             MakeWParam(c->id, platform::kBnClicked),
                             reinterpret_cast<intptr_t>(c->handle));
    }
    return 0;
  }

  headless::DialogState state_;
  std::map<int, HeadlessControl> controls_;
  DialogEvents events_;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<DialogBackend> MakeDialogBackend() { return std::make_unique<HeadlessDialog>(); }

void* LoadIconResource(std::string_view name) { return const_cast<void*>(FindIconName(name)); }

namespace headless {

const ControlState* DialogState::Control(int id) const {
  for (const ControlState& c : controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

const DialogState* FindDialog(WindowHandle dialog) {
  auto it = LiveDialogs().find(dialog);
  return it == LiveDialogs().end() ? nullptr : &it->second->state();
}

const DialogState* ActiveDialog() {
  return RunningDialogs().empty() ? nullptr : &RunningDialogs().back()->state();
}

void PostClick(WindowHandle dialog, int control_id) {
  const DialogState* d = FindDialog(dialog);
  const ControlState* c = d ? d->Control(control_id) : nullptr;
  if (!c) return;
  platform::PostMessageA(c->handle, platform::kWmLButtonDown, 1, 0);
  platform::PostMessageA(c->handle, platform::kWmLButtonUp, 0, 0);
}

void PostClose(WindowHandle dialog) { platform::PostMessageA(dialog, platform::kWmClose, 0, 0); }

void PostKey(WindowHandle dialog, uint32_t virtual_key) {
  platform::PostMessageA(dialog, platform::kWmKeyDown, virtual_key, 1);
}

void SetIdleHandler(IdleHandler handler) { Idle() = std::move(handler); }

}  // namespace headless
}  // namespace gui
