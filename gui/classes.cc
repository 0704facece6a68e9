// Declarations of the GUI library's classes with the runtime's class registry.
#include <string>

#include "gui/gui.h"
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
rt::Factory FactoryOf() {
  return [](const rt::Class* cls) -> ObjectRef { return std::make_shared<T>(cls); };
}

template <class T>
T& Self(const ObjectRef& self) {
  return static_cast<T&>(*self);
}

Value SelfValue(const ObjectRef& self) { return Value::FromObject(self); }

// A resource id given as a ResourceID object, a name or a number.
Value ResourceIdValue(const Value& v) {
  if (auto rid = rt::ObjectAs<ResourceIdObject>(v)) return rid->id;
  return v;
}

uint8_t Component(const Value& v) {
  long n = v.IsNumeric() ? v.GetLong() : 0;
  return static_cast<uint8_t>(n < 0 ? 0 : n > 255 ? 255 : n);
}

Rgb ColorOf(const Value& v) {
  if (auto c = rt::ObjectAs<ColorObject>(v)) return c->rgb;
  if (auto b = rt::ObjectAs<BrushObject>(v)) return b->rgb;
  // A number is a COLORREF: 0x00BBGGRR.
  uint32_t ref = v.IsNumeric() ? v.GetDword() : 0;
  return Rgb{static_cast<uint8_t>(ref & 0xFF), static_cast<uint8_t>((ref >> 8) & 0xFF),
             static_cast<uint8_t>((ref >> 16) & 0xFF)};
}

// HyperLabel: a name with its caption, description and help context.
void DeclareHyperLabel() {
  rt::ClassBuilder("HyperLabel")
      .MakeWith(FactoryOf<HyperLabelObject>())
      .Method("Init",
              [](const ObjectRef& self, Args args) {
                auto& l = Self<HyperLabelObject>(self);
                Value name = Arg(args, 0);
                l.name = name.IsSymbol() ? name.GetSymbol() : rt::String2Symbol(name.GetString());
                l.caption = Arg(args, 1);
                l.description = Arg(args, 2);
                l.help = Arg(args, 3);
                return SelfValue(self);
              })
      .Access("NameSym", [](const ObjectRef& self,
                            Args) { return Value::Sym(Self<HyperLabelObject>(self).name); })
      .Access("Caption",
              [](const ObjectRef& self, Args) { return Self<HyperLabelObject>(self).caption; })
      .Access("Description",
              [](const ObjectRef& self, Args) { return Self<HyperLabelObject>(self).description; })
      .Access("HelpContext",
              [](const ObjectRef& self, Args) { return Self<HyperLabelObject>(self).help; })
      .Register();
}

// ResourceID: a resource named or numbered.
void DeclareResourceId() {
  rt::ClassBuilder("ResourceID")
      .MakeWith(FactoryOf<ResourceIdObject>())
      .Method("Init",
              [](const ObjectRef& self, Args args) {
                Self<ResourceIdObject>(self).id = Arg(args, 0);
                return SelfValue(self);
              })
      .Access("ID", [](const ObjectRef& self, Args) { return Self<ResourceIdObject>(self).id; })
      .Register();
}

// Font: family, point size and face name.
void DeclareFont() {
  rt::ClassBuilder("Font")
      .MakeWith(FactoryOf<FontObject>())
      .Method("Init",
              [](const ObjectRef& self, Args args) {
                auto& f = Self<FontObject>(self).spec;
                f.family = Arg(args, 0).IsNumeric() ? Arg(args, 0).GetLong() : 0;
                f.points = Arg(args, 1).IsNumeric() ? Arg(args, 1).GetLong() : 0;
                f.face = Arg(args, 2).GetString();
                return SelfValue(self);
              })
      .Access("PointSize", [](const ObjectRef& self,
                              Args) { return Value::Long(Self<FontObject>(self).spec.points); })
      .Access("FaceName", [](const ObjectRef& self,
                             Args) { return Value::String(Self<FontObject>(self).spec.face); })
      .Register();
}

// Color: red, green and blue, each clamped to 0..255.
void DeclareColor() {
  rt::ClassBuilder("Color")
      .MakeWith(FactoryOf<ColorObject>())
      .Method("Init",
              [](const ObjectRef& self, Args args) {
                Self<ColorObject>(self).rgb =
                    Rgb{Component(Arg(args, 0)), Component(Arg(args, 1)), Component(Arg(args, 2))};
                return SelfValue(self);
              })
      .Access("Red", [](const ObjectRef& self,
                        Args) { return Value::Long(Self<ColorObject>(self).rgb.red); })
      .Access("Green", [](const ObjectRef& self,
                          Args) { return Value::Long(Self<ColorObject>(self).rgb.green); })
      .Access("Blue", [](const ObjectRef& self,
                         Args) { return Value::Long(Self<ColorObject>(self).rgb.blue); })
      .Register();
}

// Brush: a solid colour (a Color, a Brush or a COLORREF).
void DeclareBrush() {
  rt::ClassBuilder("Brush")
      .MakeWith(FactoryOf<BrushObject>())
      .Method("Init",
              [](const ObjectRef& self, Args args) {
                Self<BrushObject>(self).rgb = ColorOf(Arg(args, 0));
                return SelfValue(self);
              })
      .Register();
}

// Icon: loaded from the program's resources; a missing one raises an error.
void DeclareIcon() {
  rt::ClassBuilder("Icon")
      .MakeWith(FactoryOf<IconObject>())
      .Method("Init",
              [](const ObjectRef& self, Args args) {
                RT_ROUTINE("ICON:INIT", "Gui");
                auto& icon = Self<IconObject>(self);
                Value id = ResourceIdValue(Arg(args, 0));
                icon.resource = id.IsString() ? id.GetString() : "#" + std::to_string(id.GetLong());
                icon.handle = LoadIconResource(icon.resource);
                if (!icon.handle) {
                  RaiseGuiError(rt::kGenOpen, "Icon:Init", "No icon resource " + icon.resource, id);
                }
                return SelfValue(self);
              })
      .Method("Handle",
              [](const ObjectRef& self, Args) { return Value::Ptr(Self<IconObject>(self).handle); })
      .Register();
}

void DeclareSupportClasses() {
  DeclareHyperLabel();
  DeclareResourceId();
  DeclareFont();
  DeclareColor();
  DeclareBrush();
  DeclareIcon();
}

}  // namespace

void DeclareWindowClasses();  // windows.cc

void DeclareClasses() {
  DeclareSupportClasses();
  DeclareWindowClasses();
}

void DeclareAppClass(rt::Method start) {
  rt::ClassBuilder("App").Method("Start", std::move(start)).Register();
}

rt::Value Start() {
  Value app = rt::CreateInstance(rt::String2Symbol("App"));
  return rt::Send(app, rt::String2Symbol("Start"));
}

void AddToProgram(rt::Program& program) {
  program.class_declarations.push_back(&DeclareClasses);
  program.functions.push_back({"GuiStart", 0, [](Args) { return Start(); }});
}

}  // namespace gui
