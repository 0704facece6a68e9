#include "gui/dialog_template.h"

#include <map>
#include <memory>

#include "runtime/symbol.h"

namespace gui {
namespace {

std::map<std::string, DialogTemplate>& Templates() {
  static std::map<std::string, DialogTemplate> templates;
  return templates;
}

std::map<std::string, std::unique_ptr<std::string>>& Icons() {
  static std::map<std::string, std::unique_ptr<std::string>> icons;
  return icons;
}

}  // namespace

const ControlTemplate* DialogTemplate::Control(int id) const {
  for (const ControlTemplate& c : controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

void RegisterDialogTemplate(std::string_view name, DialogTemplate t) {
  Templates()[rt::AsciiUpper(name)] = std::move(t);
}

const DialogTemplate* FindDialogTemplate(std::string_view name) {
  auto it = Templates().find(rt::AsciiUpper(name));
  return it == Templates().end() ? nullptr : &it->second;
}

void RegisterIconName(std::string_view name) {
  auto& slot = Icons()[rt::AsciiUpper(name)];
  if (!slot) slot = std::make_unique<std::string>(name);
}

const void* FindIconName(std::string_view name) {
  auto it = Icons().find(rt::AsciiUpper(name));
  return it == Icons().end() ? nullptr : it->second.get();
}

}  // namespace gui
