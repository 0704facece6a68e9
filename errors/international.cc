#include "errors/international.h"

#include <array>
#include <string>

#include "errors/error_object.h"
#include "platform/locale.h"
#include "runtime/activation.h"
#include "runtime/convert.h"
#include "runtime/error.h"
#include "runtime/recovery.h"
#include "runtime/settings.h"

namespace errors {
namespace {

constexpr char kModule[] = "International";

class PlatformLocale : public LocaleSource {
 public:
  uint32_t UserDefaultLcid() override { return platform::GetUserDefaultLCID(); }
  int LocaleInfo(uint32_t lcid, uint32_t lctype, char* buffer, int size) override {
    return platform::GetLocaleInfoA(lcid, lctype, buffer, size);
  }
};

std::shared_ptr<LocaleSource>& Source() {
  static auto* source = new std::shared_ptr<LocaleSource>(std::make_shared<PlatformLocale>());
  return *source;
}

rt::Symbol Windows() { return rt::String2Symbol("WINDOWS"); }
rt::Symbol Legacy() { return rt::String2Symbol("LEGACY"); }
rt::Symbol Binary() { return rt::String2Symbol("BINARY"); }

// One locale value read into the 64-byte buffer; false when the call failed.
class LocaleReader {
 public:
  LocaleReader(LocaleSource& source, uint32_t lcid) : source_(source), lcid_(lcid) {}
  bool Read(uint32_t lctype) {
    buffer_.fill(0);
    int n = source_.LocaleInfo(lcid_, lctype, buffer_.data(), static_cast<int>(buffer_.size()));
    if (n <= 0) return false;
    buffer_.back() = 0;  // a source that filled the buffer must not run us past it
    return true;
  }
  uint32_t FirstChar() const { return static_cast<unsigned char>(buffer_[0]); }
  std::string Text() const { return std::string(buffer_.data()); }
  // The text after one blank, as the AM/PM suffixes want it.
  std::string Suffix() const {
    std::string s(1, ' ');
    s.append(buffer_.data());
    return s;
  }
  int32_t Number() const { return rt::Val(Text()).GetLong(); }

 private:
  LocaleSource& source_;
  uint32_t lcid_;
  std::array<char, 64> buffer_{};
};

void ApplyWindows(LocaleSource& source) {
  rt::SetIntl(1);
  LocaleReader r(source, source.UserDefaultLcid());
  rt::SetDecimalSep(r.Read(platform::kLocaleSDecimal) ? r.FirstChar() : 46);
  rt::SetThousandSep(r.Read(platform::kLocaleSThousand) ? r.FirstChar() : 44);
  rt::SetTimeSep(r.Read(platform::kLocaleSTime) ? r.FirstChar() : 58);
  // A failed read counts as 0, which is the 12-hour clock.
  rt::SetAmPm((r.Read(platform::kLocaleITime) ? r.Number() : 0) == 0);
  rt::SetAMExt(r.Read(platform::kLocaleS1159) ? r.Suffix() : std::string(" am"));
  rt::SetPMExt(r.Read(platform::kLocaleS2359) ? r.Suffix() : std::string(" pm"));
  int16_t order = r.Read(platform::kLocaleIDate) ? static_cast<int16_t>(r.Number()) : 0;
  std::string sep = r.Read(platform::kLocaleSDate) ? r.Text().substr(0, 1) : std::string("/");
  // The fallback stays in small letters, so its year part counts as "YY".
  std::string picture =
      r.Read(platform::kLocaleSShortDate) ? rt::Upper(r.Text()) : std::string("mm/dd/yy");
  std::string year = picture.find("YYYY") != std::string::npos ? "YYYY" : "YY";
  // Date order 1 is day-month-year, 2 year-month-day, anything else month-day-year.
  const std::string first = order == 1 ? "DD" : order == 2 ? year : "MM";
  const std::string middle = order == 1 || order == 2 ? "MM" : "DD";
  const std::string last = order == 2 ? "DD" : year;
  std::string format = first;
  format.append(sep).append(middle).append(sep).append(last);
  rt::SetDateFrmt(format);
  rt::SetDecimal(r.Read(platform::kLocaleIDigits) ? static_cast<uint32_t>(r.Number()) : 2);
  rt::SetDict(1);
  rt::SetCentury(true);
  rt::SetEpoch(1910);
}

void ApplyFixed(bool binary) {
  rt::SetDecimalSep(46);
  rt::SetThousandSep(44);
  rt::SetTimeSep(58);
  rt::SetAmPm(false);
  rt::SetAMExt("");
  rt::SetPMExt("");
  rt::SetDateFrmt("MM/DD/YY");
  rt::SetDecimal(2);
  rt::SetDict(binary ? 2 : 0);
  rt::SetIntl(binary ? 2 : 0);
  rt::SetCentury(false);
}

// Puts the remembered error block back however the protected work ends.
class ErrorBlockSwap {
 public:
  explicit ErrorBlockSwap(rt::Value block) : saved_(rt::ErrorBlock(std::move(block))) {}
  ~ErrorBlockSwap() { rt::ErrorBlock(saved_); }
  ErrorBlockSwap(const ErrorBlockSwap&) = delete;
  ErrorBlockSwap& operator=(const ErrorBlockSwap&) = delete;

 private:
  rt::Value saved_;
};

}  // namespace

std::shared_ptr<LocaleSource> SetLocaleSource(std::shared_ptr<LocaleSource> source) {
  std::shared_ptr<LocaleSource> old = Source();
  Source() = source ? std::move(source) : std::make_shared<PlatformLocale>();
  return old;
}

rt::Symbol CurrentInternationalMode() {
  uint32_t mode = rt::SetIntl();
  return mode == 1 ? Windows() : mode == 2 ? Binary() : Legacy();
}

rt::Value SetInternational(rt::Args args) {
  RT_ROUTINE("SETINTERNATIONAL", kModule);
  rt::Symbol previous = CurrentInternationalMode();
  if (args.empty() || args[0].IsNil()) return rt::Value::Sym(previous);
  rt::Symbol mode = args[0].IsSymbol()   ? args[0].GetSymbol()
                    : args[0].IsString() ? rt::String2Symbol(args[0].GetString())
                                         : rt::Symbol();
  if (mode != Windows() && mode != Legacy() && mode != Binary()) {
    RT_LINE();
    RaiseInternationalError(rt::Value::Sym(mode));
    return rt::Value::Sym(previous);
  }
  std::shared_ptr<LocaleSource> source = Source();
  {
    // Any runtime error while the settings are applied ends the work quietly;
    // what was set until then stays.
    ErrorBlockSwap swap(rt::Value::FromBlock(rt::MakeBlock(
        [](rt::Args a) -> rt::Value { rt::LabelJump(a.empty() ? rt::Value() : a[0]); }, 1)));
    RT_LINE();
    rt::BeginSequence([&] {
      if (mode == Windows()) {
        ApplyWindows(*source);
      } else {
        ApplyFixed(mode == Binary());
      }
    });
  }
  return rt::Value::Sym(previous);
}

rt::Value SetInternational(rt::Symbol mode) {
  rt::Value arg[] = {rt::Value::Sym(mode)};
  return SetInternational(rt::Args(arg));
}

void RaiseInternationalError(const rt::Value& mode) {
  RT_ROUTINE("RAISEINTERNATIONALERROR", kModule);
  rt::Value error = NewError(1);
  RT_LINE();
  SetField(error, "SubSystem", rt::Value::String("International"));
  SetField(error, "GenCode", rt::Value::Dword(rt::kGenUnsupported));
  SetField(error, "CanDefault", rt::Value::Logic(true));
  SetField(error, "Arg", rt::Value::String(rt::AsString(mode)));
  RT_LINE();
  rt::Value block = rt::ErrorBlock();
  if (!block.IsBlock()) {
    rt::ThrowError(error);
    return;
  }
  rt::Value arg[] = {error};
  rt::Eval(block, arg);
}

}  // namespace errors
