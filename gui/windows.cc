// Declarations of the window classes: DialogWindow and the controls bound to its template.
#include <string>

#include "gui/objects.h"
#include "runtime/activation.h"
#include "runtime/error.h"

namespace gui {
namespace {

using rt::Args;
using rt::ObjectRef;
using rt::Value;

Value Arg(Args args, size_t i) { return i < args.size() ? args[i] : Value(); }

template <class T>
T& Self(const ObjectRef& self) {
  return static_cast<T&>(*self);
}

Value SelfValue(const ObjectRef& self) { return Value::FromObject(self); }

DialogBackend* DialogOf(const ObjectRef& self) { return Self<DialogWindowObject>(self).backend(); }
ControlBackend* ControlOf(const ObjectRef& self) { return Self<ControlObject>(self).backend(); }

Value ResourceIdValue(const Value& v) {
  if (auto rid = rt::ObjectAs<ResourceIdObject>(v)) return rid->id;
  return v;
}

Rgb ColorOf(const Value& v) {
  if (auto c = rt::ObjectAs<ColorObject>(v)) return c->rgb;
  if (auto b = rt::ObjectAs<BrushObject>(v)) return b->rgb;
  return Rgb{};
}

// Creation and the modal loop: Init, Show, EndDialog, Result, Handle.
rt::ClassBuilder& DialogLoopMembers(rt::ClassBuilder& b) {
  return b
      .Method("Init",
              [](const ObjectRef& self, Args args) {
                RT_ROUTINE("DIALOGWINDOW:INIT", "Gui");
                Value id = ResourceIdValue(Arg(args, 1));
                std::string name =
                    id.IsString() ? id.GetString() : "#" + std::to_string(id.GetLong());
                Self<DialogWindowObject>(self).Create(Arg(args, 0), name);
                return SelfValue(self);
              })
      .Method("PreInit", [](const ObjectRef&, Args) { return Value(); })
      .Method("PostInit", [](const ObjectRef&, Args) { return Value(); })
      .Method("Show",
              [](const ObjectRef& self, Args) {
                RT_ROUTINE("DIALOGWINDOW:SHOW", "Gui");
                auto& d = Self<DialogWindowObject>(self);
                if (!d.backend()) {
                  RaiseGuiError(rt::kGenCreate, "DialogWindow:Show", "The dialog was not created");
                  return Value();
                }
                if (d.backend()->Running()) return Value();
                ObjectRef keep = self;  // the dialog lives until its loop has ended
                d.result = d.backend()->RunModal();
                return Value::Long(d.result);
              })
      .Method("EndDialog",
              [](const ObjectRef& self, Args args) {
                RT_ROUTINE("DIALOGWINDOW:ENDDIALOG", "Gui");
                auto& d = Self<DialogWindowObject>(self);
                d.result = Arg(args, 0).IsNumeric() ? Arg(args, 0).GetLong() : 0;
                if (d.backend()) d.backend()->End(d.result);
                return SelfValue(self);
              })
      .Access("Result", [](const ObjectRef& self,
                           Args) { return Value::Long(Self<DialogWindowObject>(self).result); })
      .Method("Handle", [](const ObjectRef& self, Args) {
        DialogBackend* b = DialogOf(self);
        return Value::Ptr(b ? b->handle() : nullptr);
      });
}

// What the dialog shows: caption, hyperlabel and icons.
rt::ClassBuilder& DialogLookMembers(rt::ClassBuilder& b) {
  return b
      .Access("Caption",
              [](const ObjectRef& self, Args) {
                DialogBackend* b = DialogOf(self);
                return b ? Value::String(b->Caption()) : Value::String("");
              })
      .Assign("Caption",
              [](const ObjectRef& self, Args args) {
                if (DialogBackend* b = DialogOf(self)) b->SetCaption(Arg(args, 0).GetString());
                return Arg(args, 0);
              })
      .Access("HyperLabel",
              [](const ObjectRef& self, Args) { return Self<DialogWindowObject>(self).label; })
      .Assign("HyperLabel",
              [](const ObjectRef& self, Args args) {
                return Self<DialogWindowObject>(self).label = Arg(args, 0);
              })
      .Access("Icon",
              [](const ObjectRef& self, Args) { return Self<DialogWindowObject>(self).icon; })
      .Assign("Icon",
              [](const ObjectRef& self, Args args) {
                Self<DialogWindowObject>(self).icon = Arg(args, 0);
                auto icon = rt::ObjectAs<IconObject>(Arg(args, 0));
                if (DialogBackend* b = DialogOf(self))
                  b->SetIcon(icon ? icon->handle : nullptr, false);
                return Arg(args, 0);
              })
      .Access("IconSm",
              [](const ObjectRef& self, Args) { return Self<DialogWindowObject>(self).icon_small; })
      .Assign("IconSm", [](const ObjectRef& self, Args args) {
        Self<DialogWindowObject>(self).icon_small = Arg(args, 0);
        auto icon = rt::ObjectAs<IconObject>(Arg(args, 0));
        if (DialogBackend* b = DialogOf(self)) b->SetIcon(icon ? icon->handle : nullptr, true);
        return Arg(args, 0);
      });
}

void DeclareDialogWindow() {
  rt::ClassBuilder b("DialogWindow");
  b.MakeWith(
      [](const rt::Class* cls) -> ObjectRef { return std::make_shared<DialogWindowObject>(cls); });
  DialogLoopMembers(b);
  DialogLookMembers(b);
  b.Register();
}

rt::ClassBuilder& ControlMembers(rt::ClassBuilder& b) {
  return b
      .Method("Init",
              [](const ObjectRef& self, Args args) {
                RT_ROUTINE("CONTROL:INIT", "Gui");
                Value id = ResourceIdValue(Arg(args, 1));
                Self<ControlObject>(self).Bind(Arg(args, 0), id.GetLong());
                return SelfValue(self);
              })
      .Method("Handle",
              [](const ObjectRef& self, Args) {
                ControlBackend* c = ControlOf(self);
                return Value::Ptr(c ? c->handle() : nullptr);
              })
      .Method("Disable",
              [](const ObjectRef& self, Args) {
                if (ControlBackend* c = ControlOf(self)) c->Enable(false);
                return SelfValue(self);
              })
      .Method("Enable",
              [](const ObjectRef& self, Args) {
                if (ControlBackend* c = ControlOf(self)) c->Enable(true);
                return SelfValue(self);
              })
      .Access("Enabled",
              [](const ObjectRef& self, Args) {
                ControlBackend* c = ControlOf(self);
                return Value::Logic(c && c->IsEnabled());
              })
      .Access("Caption",
              [](const ObjectRef& self, Args) {
                ControlBackend* c = ControlOf(self);
                return Value::String(c ? c->Text() : "");
              })
      .Assign("Caption",
              [](const ObjectRef& self, Args args) {
                if (ControlBackend* c = ControlOf(self)) c->SetText(Arg(args, 0).GetString());
                return Arg(args, 0);
              })
      .Access("HyperLabel",
              [](const ObjectRef& self, Args) { return Self<ControlObject>(self).label; })
      .Assign("HyperLabel",
              [](const ObjectRef& self, Args args) {
                return Self<ControlObject>(self).label = Arg(args, 0);
              })
      .Access("NameSym",
              [](const ObjectRef& self, Args) {
                auto label = rt::ObjectAs<HyperLabelObject>(Self<ControlObject>(self).label);
                return Value::Sym(label ? label->name : rt::Symbol());
              })
      .Method("Font",
              [](const ObjectRef& self, Args args) {
                auto& control = Self<ControlObject>(self);
                auto font = rt::ObjectAs<FontObject>(Arg(args, 0));
                if (!font) return control.font;
                control.font = Arg(args, 0);
                bool redraw = Arg(args, 1).IsLogic() ? Arg(args, 1).GetLogic() : true;
                if (ControlBackend* c = control.backend()) c->SetFont(font->spec, redraw);
                return SelfValue(self);
              })
      .Access("Font", [](const ObjectRef& self, Args) { return Self<ControlObject>(self).font; })
      .Access("TextColor",
              [](const ObjectRef& self, Args) { return Self<ControlObject>(self).text_color; })
      .Assign("TextColor",
              [](const ObjectRef& self, Args args) {
                Self<ControlObject>(self).text_color = Arg(args, 0);
                if (ControlBackend* c = ControlOf(self)) c->SetTextColor(ColorOf(Arg(args, 0)));
                return Arg(args, 0);
              })
      .Access("Background",
              [](const ObjectRef& self, Args) { return Self<ControlObject>(self).background; })
      .Assign("Background", [](const ObjectRef& self, Args args) {
        Self<ControlObject>(self).background = Arg(args, 0);
        if (ControlBackend* c = ControlOf(self)) c->SetBackground(ColorOf(Arg(args, 0)));
        return Arg(args, 0);
      });
}

Value ItemCountOf(const ObjectRef& self, Args) {
  ControlBackend* c = ControlOf(self);
  return Value::Long(c ? c->ItemCount() : 0);
}

void DeclareControls() {
  rt::ClassBuilder control("Control");
  control.MakeWith(
      [](const rt::Class* cls) -> ObjectRef { return std::make_shared<ControlObject>(cls); });
  ControlMembers(control).Register();
  rt::ClassBuilder("PushButton", "Control").Register();
  rt::ClassBuilder("FixedText", "Control").Register();
  rt::ClassBuilder("ListBox", "Control")
      // AddItem(text, position, value): position 0 appends; gives the line's number.
      .Method("AddItem",
              [](const ObjectRef& self, Args args) {
                RT_ROUTINE("LISTBOX:ADDITEM", "Gui");
                ControlBackend* c = ControlOf(self);
                if (!c) return Value::Long(0);
                int position = Arg(args, 1).IsNumeric() ? Arg(args, 1).GetLong() : 0;
                int index = c->AddItem(Arg(args, 0).GetString(), position > 0 ? position - 1 : -1);
                return Value::Long(index + 1);
              })
      .Method("ItemCount", &ItemCountOf)
      .Access("ItemCount", &ItemCountOf)
      .Method("GetItem",
              [](const ObjectRef& self, Args args) {
                ControlBackend* c = ControlOf(self);
                int n = Arg(args, 0).GetLong();
                if (!c || n < 1 || n > c->ItemCount()) return Value::String("");
                return Value::String(c->ItemText(n - 1));
              })
      .Access("CurrentItemNo",
              [](const ObjectRef& self, Args) {
                ControlBackend* c = ControlOf(self);
                return Value::Long(c ? c->SelectedItem() + 1 : 0);
              })
      // Selects line n (1-based) and scrolls it into view; 0 selects nothing.
      .Assign("CurrentItemNo",
              [](const ObjectRef& self, Args args) {
                RT_ROUTINE("LISTBOX:CURRENTITEMNO", "Gui");
                ControlBackend* c = ControlOf(self);
                int n = Arg(args, 0).GetLong();
                if (c) c->SelectItem(n >= 1 && n <= c->ItemCount() ? n - 1 : -1);
                return Arg(args, 0);
              })
      .Register();
}

}  // namespace

void DeclareWindowClasses() {
  DeclareDialogWindow();
  DeclareControls();
}

}  // namespace gui
