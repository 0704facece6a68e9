#include "errors/error_log.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "errors/error_object.h"
#include "runtime/activation.h"
#include "runtime/convert.h"
#include "runtime/error.h"
#include "runtime/files.h"
#include "runtime/program.h"
#include "runtime/settings.h"

namespace errors {
namespace {

constexpr char kModule[] = "ErrorLog";
constexpr uint32_t kWriteAccess = 1;
constexpr uint32_t kArchive = 0x20;
constexpr uint32_t kErrorPathNotFound = 3;

// The internal error raised for a missing log directory is itself reported
// by the handler, which opens the log again; that nested open must not
// raise once more, or a directory that stays missing would never let go.
bool g_reporting_missing_directory = false;

std::string Hex8(uint32_t v) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08" PRIX32, v);
  return buf;
}

void ReportMissingDirectory() {
  if (g_reporting_missing_directory) return;
  // The old value is read before it is cleared, so the text names the culprit.
  std::string text;
  std::string dir = rt::GetDefaultDir();
  if (!dir.empty()) {
    text = std::string("SetDefaultDir: ").append(dir);
    rt::SetDefaultDir("");
  } else {
    text = std::string("SetDefault: ").append(rt::GetDefault());
    rt::SetDefault("");
  }
  g_reporting_missing_directory = true;
  struct Reset {
    ~Reset() { g_reporting_missing_directory = false; }
  } reset;
  rt::IError(1, 0, text);
}

}  // namespace

int32_t ErrorLogOpen() {
  RT_ROUTINE("ERRORLOGOPEN", kModule);
  std::string path = rt::WorkDir() + kErrorLogName;
  int32_t handle = rt::FOpen2(path, kWriteAccess);
  if (handle != rt::kInvalidHandle) {
    RT_LINE();
    rt::FSeek3(handle, 0, 2);
    rt::FPutS3(handle, "", 0);
    return handle;
  }
  RT_LINE();
  handle = rt::FCreate2(path, kArchive);
  if (rt::FError() == kErrorPathNotFound) {
    RT_LINE();
    ReportMissingDirectory();
  }
  return handle;
}

void ErrorLogWrite(int32_t handle, const std::string& box_text, const rt::Value& error) {
  RT_ROUTINE("ERRORLOGWRITE", kModule);
  auto line = [&](const std::string& s) { rt::FPutS(handle, s); };
  auto text = [&](const char* name) { return rt::AsString(Field(error, name)); };
  auto field = [&](const char* label, const std::string& value) {
    line(std::string(label).append(value));
  };
  line("***********************ERROR********************************");
  line(rt::Version());
  line(rt::DToC(rt::Today()).append(" ").append(rt::Time()));
  line(std::string("Application: ").append(rt::ExecName()));
  line(" ");
  line("Error message:");
  line("--------------");
  line(box_text);
  line("Error Object created:");
  line("--------------------");
  RT_LINE();
  field("SubSystem       :", text("SubSystem"));
  field("SubCode         :", text("SubCode"));
  field("GenCode         :", rt::ErrString(Field(error, "GenCode").GetDword()));
  rt::Value sub_code = Field(error, "SubCode");
  if (sub_code.IsNumeric() && sub_code.GetFloat() == kExceptionSubCode) {
    field("ExceptionCode   :", HexText(Field(error, "OsCode")));
    field("ExceptionFlags  :", HexText(Field(error, "ArgType")));
    field("ExceptionAddress:", HexText(Field(error, "FuncPtr")));
    field("ParamNumber     :", text("ArgNum"));
    field("ExceptionInfo   :", HexText(Field(error, "FuncSym")));
  } else {
    field("OsCode          :", text("OsCode"));
    field("ArgType         :", rt::TypeString(Field(error, "ArgType").GetDword()));
    field("FuncPtr         :", text("FuncPtr"));
    field("ArgNum          :", text("ArgNum"));
    field("FuncSym         :", text("FuncSym"));
  }
  field("Severity        :", text("Severity"));
  field("CanDefault      :", text("CanDefault"));
  field("CanRetry        :", text("CanRetry"));
  field("CanSubstitute   :", text("CanSubstitute"));
  field("Operation       :", text("Operation"));
  field("Description     :", text("Description"));
  field("FileName        :", text("FileName"));
  field("Tries           :", text("Tries"));
  field("FileHandle      :", text("FileHandle"));
  field("SubCodeText     :", text("SubCodeText"));
  field("Arg             :", text("Arg"));
  field("ArgTypeReq      :", rt::TypeString(Field(error, "ArgTypeReq").GetDword()));
  field("MaxSize         :", text("MaxSize"));
  field("SubstituteType  :", rt::TypeString(Field(error, "SubstituteType").GetDword()));
  field("CallFuncSym     :", text("CallFuncSym"));
  line("--------------------");
}

std::string HexText(const rt::Value& value) {
  switch (value.type()) {
    case rt::Type::kString: {
      std::string out;
      for (unsigned char c : value.GetString()) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02X ", c);
        out += buf;
      }
      return out;
    }
    case rt::Type::kFloat: {
      double d = value.GetFloat();
      bool wide =
          rt::Str(value).find('.') != std::string::npos || d > 4294967295.0 || d < -2147483647.0;
      if (wide) {
        uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        return Hex8(static_cast<uint32_t>(bits >> 32)) + Hex8(static_cast<uint32_t>(bits));
      }
      if (d > 0) return Hex8(static_cast<uint32_t>(d));
      return Hex8(static_cast<uint32_t>(static_cast<int32_t>(d)));
    }
    case rt::Type::kLong:
      return Hex8(static_cast<uint32_t>(value.GetLong()));
    case rt::Type::kDword:
      return Hex8(value.GetDword());
    case rt::Type::kLogic:
      return Hex8(value.GetLogic() ? 1 : 0);
    case rt::Type::kDate:
      return Hex8(static_cast<uint32_t>(value.GetDate().julian));
    case rt::Type::kSymbol:
      return Hex8(value.GetSymbol().id());
    case rt::Type::kPtr:
    case rt::Type::kPsz:
      return Hex8(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(value.GetPtr())));
    default:
      return Hex8(0);  // NIL; references have no 32-bit payload of their own
  }
}

}  // namespace errors
