// The class ERROR: the object that carries every runtime error of the system.
//
// 28 exported fields in declaration order, each starting at its type's zero
// value; Init records the call stack and the program's name, Throw hands the
// object to the current error block. Every part reads and writes the fields by
// name (rt::IVarGet/IVarPut); the generic rt::ErrorBuild relies on this class.
// One thread only.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "runtime/value.h"

namespace errors {

// Field names in declaration order, with the type whose zero value a new
// object holds (kUsual: NIL).
struct ErrorField {
  std::string_view name;
  rt::Type type;
};
extern const std::array<ErrorField, 28> kErrorFields;

// Registers the class (class declaration step of start-up).
void DeclareErrorClass();

// CreateInstance(ERROR, start_level): what every creator in the system does.
rt::Value NewError(uint32_t start_level = 1);

// Reads a field as the log and the box text use it; NIL when absent.
rt::Value Field(const rt::Value& error, std::string_view name);
void SetField(const rt::Value& error, std::string_view name, rt::Value v);

}  // namespace errors
