#include "platform/exceptions.h"

#include <cinttypes>
#include <cstdio>

namespace platform {

std::string OsExceptionName(uint32_t code) {
  switch (code) {
    case kExceptionAccessViolation:
      return "Access violation";
    case kExceptionInPageError:
      return "In-page error";
    case kExceptionIllegalInstruction:
      return "Illegal instruction";
    case kExceptionDatatypeMisalignment:
      return "Datatype misalignment";
    case kExceptionFltDivideByZero:
      return "Floating-point divide by zero";
    case kExceptionFltInexactResult:
      return "Floating-point inexact result";
    case kExceptionFltInvalidOperation:
      return "Floating-point invalid operation";
    case kExceptionFltOverflow:
      return "Floating-point overflow";
    case kExceptionFltUnderflow:
      return "Floating-point underflow";
    case kExceptionIntDivideByZero:
      return "Integer divide by zero";
    case kExceptionIntOverflow:
      return "Integer overflow";
    case kExceptionStackOverflow:
      return "Stack overflow";
    default: {
      char buf[24];
      std::snprintf(buf, sizeof buf, "Exception %08" PRIX32, code);
      return buf;
    }
  }
}

}  // namespace platform
