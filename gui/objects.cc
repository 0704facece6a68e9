#include "gui/objects.h"

#include "runtime/error.h"

namespace gui {

void RaiseGuiError(uint32_t gen_code, const std::string& operation, const std::string& description,
                   const rt::Value& arg) {
  rt::ErrorInfo e;
  e.subsystem = "GUI";
  e.gen_code = gen_code;
  e.operation = operation;
  e.description = description;
  e.can_default = true;
  if (!arg.IsNil()) {
    e.args = std::vector<rt::Value>{arg};
    e.arg_num = 1;
    e.arg_type = static_cast<uint32_t>(arg.type());
  }
  rt::RaiseError(e);
}

std::string ResourceIdObject::Name() const {
  if (id.IsString()) return id.GetString();
  return "#" + std::to_string(id.GetLong());
}

int ResourceIdObject::Number() const { return id.IsNumeric() ? id.GetLong() : 0; }

void DialogWindowObject::Create(const rt::Value& owner, const std::string& template_name) {
  platform::WindowHandle owner_handle = nullptr;
  if (auto owner_dialog = rt::ObjectAs<DialogWindowObject>(owner)) {
    if (owner_dialog->backend()) owner_handle = owner_dialog->backend()->handle();
  }
  auto backend = MakeDialogBackend();
  std::weak_ptr<DialogWindowObject> weak =
      std::static_pointer_cast<DialogWindowObject>(shared_from_this());
  DialogEvents events;
  events.command = [weak](int id, uint32_t notification) {
    if (auto self = weak.lock()) self->OnCommand(id, notification);
  };
  std::string failure;
  if (!backend->Create(template_name, owner_handle, std::move(events), &failure)) {
    RaiseGuiError(rt::kGenCreate, "DialogWindow:Init",
                  "Cannot create the dialog " + template_name + ": " + failure,
                  rt::Value::String(template_name));
    return;
  }
  backend_ = std::move(backend);
}

void DialogWindowObject::Bind(int id, const std::shared_ptr<ControlObject>& control) {
  controls_[id] = control;
}

std::shared_ptr<ControlObject> DialogWindowObject::ControlById(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second.lock();
}

void DialogWindowObject::OnCommand(int id, uint32_t notification) {
  rt::Value self = rt::Value::FromObject(shared_from_this());
  if (auto control = ControlById(id)) {
    if (notification != platform::kBnClicked) return;
    auto label = rt::ObjectAs<HyperLabelObject>(control->label);
    if (!label || label->name.null()) return;
    // A click runs the dialog's method that bears the button's name, if it has one.
    if (cls()->FindMethod(label->name)) rt::Send(self, label->name);
    return;
  }
  if (id == kIdCancel) {
    rt::Value result[] = {rt::Value::Long(kIdCancel)};
    rt::Send(self, rt::String2Symbol("EndDialog"), result);
  }
}

void ControlObject::Bind(const rt::Value& owner, int id) {
  auto dialog = rt::ObjectAs<DialogWindowObject>(owner);
  if (!dialog || !dialog->backend()) {
    RaiseGuiError(rt::kGenArg, "Control:Init", "The owner is not a dialog window", owner);
    return;
  }
  if (!dialog->backend()->Control(id)) {
    RaiseGuiError(rt::kGenCreate, "Control:Init", "The dialog has no control " + std::to_string(id),
                  rt::Value::Long(id));
    return;
  }
  dialog_ = dialog;
  id_ = id;
  dialog->Bind(id, std::static_pointer_cast<ControlObject>(shared_from_this()));
}

ControlBackend* ControlObject::backend() const {
  auto dialog = dialog_.lock();
  if (!dialog || !dialog->backend()) return nullptr;
  return dialog->backend()->Control(id_);
}

}  // namespace gui
