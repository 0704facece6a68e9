// Argument and result conversions shared by the INI classes: how a runtime
// value reaches a profile call (a null text or NIL as a null pointer), and how
// a filled buffer comes back. Internal to ini/.
#pragma once

#include <cstddef>
#include <string>

#include "runtime/object.h"
#include "runtime/value.h"

namespace ini {

constexpr const char* kModule = "IniFileSpec_Class";
// Read buffers of the profile calls: values and key lists up to 1023 characters.
constexpr size_t kReadBuffer = 1024;

// A text argument of a profile call.
class TextArg {
 public:
  explicit TextArg(const rt::Value& v);
  const char* get() const { return null_ ? nullptr : text_.c_str(); }

 private:
  std::string text_;
  bool null_ = false;
};

// Argument i, or NIL when the caller passed fewer.
inline rt::Value Arg(rt::Args args, size_t i) { return i < args.size() ? args[i] : rt::Value(); }

// The object's current full path.
std::string FullPathOf(const rt::ObjectRef& self);
// The decimal text that WriteInt writes.
std::string NumberText(const rt::Value& v);
// Registers WINIFILESPEC (after INIFILESPEC).
void DeclareWinIniFileSpec();

}  // namespace ini
