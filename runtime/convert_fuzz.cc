// libFuzzer target for the runtime's text readers: Val, SToD, CToD under
// several date formats, the code-page conversions and the FileSpec split.
// Besides not crashing, each must keep its promises: every byte string
// survives Windows-1252 -> UTF-8 -> Windows-1252, a split path joins back to
// the same text, and a date read from text prints and reads back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "runtime/convert.h"
#include "runtime/filespec.h"
#include "runtime/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);

  if (rt::Utf82Ansi(rt::Ansi2Utf8(text)) != text) std::abort();
  rt::Utf82Ansi(text);

  rt::FileSpec spec(nullptr);
  spec.SetFullPath(text);
  if (spec.FullPath() != text) std::abort();

  rt::Value v = rt::Val(text);
  rt::Str(v, 20, 4);

  rt::Date d = rt::SToD(text);
  if (!d.empty() && rt::DToS(d) != text) std::abort();

  rt::ResetSettings();
  rt::SetEpoch(1910);
  rt::SetCentury(true);
  for (const char* format : {"MM/DD/YY", "DD.MM.YYYY", "YYYY-MM-DD", "D/M"}) {
    rt::SetDateFrmt(format);
    rt::Date c = rt::CToD(text);
    if (!c.empty() && rt::CToD(rt::DToC(c)) != c) std::abort();
  }
  rt::ResetSettings();
  return 0;
}
