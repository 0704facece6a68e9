// The error log "XQERROR.LOG" in the program directory: one block of CR LF
// lines per reported error, blocks separated by one empty line, appended,
// never read or truncated. ErrorLogOpen opens it at its end (creating it when
// needed), ErrorLogWrite writes one block reading every field of the error
// object by name, HexText formats the fields of an OS exception. The default
// error handler opens, seeks, writes and closes once per error. One thread.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/os_exception.h"
#include "runtime/value.h"

namespace errors {

constexpr char kErrorLogName[] = "XQERROR.LOG";
// The sub code of an operating-system exception that the runtime caught.
constexpr uint32_t kExceptionSubCode = rt::kExceptionSubCode;

// A handle positioned at the end, after the separating empty line of an
// existing file; -1 when the file can be neither opened nor created. A
// missing directory (OS error 3) clears the runtime's default directory (or
// default path) setting and reports it as an internal error.
int32_t ErrorLogOpen();

// Writes one block at the current position; write failures are ignored.
void ErrorLogWrite(int32_t handle, const std::string& box_text, const rt::Value& error);

// Strings: "41 42 " (each byte, two digits, a blank); floats: 8 or 16
// digits; everything else: its 32-bit payload as 8 digits. Upper case.
std::string HexText(const rt::Value& value);

}  // namespace errors
