// The native state behind the GUI library's objects.
//
// Every class of the library is registered with the runtime (classes.cc) and reached by
// name; these C++ types hold what the runtime objects carry besides instance variables. A
// dialog owns its back-end and keeps its bound controls by id; a control holds only a weak
// reference to its dialog, so a dialog and its controls go together with the dialog's last
// reference. One thread only.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "gui/backend.h"
#include "runtime/object.h"

namespace gui {

class HyperLabelObject : public rt::Object {
 public:
  using Object::Object;
  rt::Symbol name;
  rt::Value caption, description, help;
};

class ResourceIdObject : public rt::Object {
 public:
  using Object::Object;
  rt::Value id;  // a name (string) or a number
  // The id as a resource name ("MainDialog", or "#100" for a number).
  std::string Name() const;
  int Number() const;  // 0 when the id is a name
};

class FontObject : public rt::Object {
 public:
  using Object::Object;
  FontSpec spec;
};

class ColorObject : public rt::Object {
 public:
  using Object::Object;
  Rgb rgb;
};

class BrushObject : public rt::Object {
 public:
  using Object::Object;
  Rgb rgb;
};

class IconObject : public rt::Object {
 public:
  using Object::Object;
  std::string resource;
  void* handle = nullptr;
};

class ControlObject;

class DialogWindowObject : public rt::Object {
 public:
  using Object::Object;
  // Creates the back-end dialog; raises a runtime error when the template cannot be used.
  void Create(const rt::Value& owner, const std::string& template_name);
  DialogBackend* backend() const { return backend_.get(); }
  void Bind(int id, const std::shared_ptr<ControlObject>& control);
  std::shared_ptr<ControlObject> ControlById(int id) const;
  // A click or close request from the back-end: routed to the method named by the
  // control's label, or to EndDialog for a close request.
  void OnCommand(int id, uint32_t notification);

  rt::Value label;
  rt::Value icon, icon_small;
  int result = 0;

 private:
  std::unique_ptr<DialogBackend> backend_;
  std::map<int, std::weak_ptr<ControlObject>> controls_;
};

class ControlObject : public rt::Object {
 public:
  using Object::Object;
  // Binds to control id of the owner's template; raises a runtime error when it is absent.
  void Bind(const rt::Value& owner, int id);
  ControlBackend* backend() const;  // null once the dialog is gone
  int id() const { return id_; }

  rt::Value label;
  rt::Value font, text_color, background;

 private:
  std::weak_ptr<DialogWindowObject> dialog_;
  int id_ = 0;
};

// Raises a runtime error of the GUI library (through the error protocol).
void RaiseGuiError(uint32_t gen_code, const std::string& operation, const std::string& description,
                   const rt::Value& arg = {});

}  // namespace gui
