// Process-wide runtime settings. Plain variables: the runtime is used from one
// thread, and every setting lives until the process ends.
#include "runtime/settings.h"

#include <utility>

namespace rt {
namespace {

struct Settings {
  bool deleted = false;
  bool error_log = true;
  bool beep = true;
  std::string default_dir;
  std::string default_path;
  uint32_t intl = 0;
  uint32_t dict = 0;
  uint32_t decimal_sep = '.';
  uint32_t thousand_sep = ',';
  uint32_t time_sep = ':';
  bool am_pm = false;
  std::string am_ext;
  std::string pm_ext;
  std::string date_format = "MM/DD/YY";
  uint32_t decimals = 2;
  bool century = false;
  uint32_t epoch = 1900;
};

Settings& Current() {
  static Settings settings;
  return settings;
}

bool Swap(bool& setting, bool on) {
  bool old = setting;
  setting = on;
  return old;
}

}  // namespace

bool SetDeleted() { return Current().deleted; }
bool SetDeleted(bool on) { return Swap(Current().deleted, on); }
bool SetErrorLog() { return Current().error_log; }
bool SetErrorLog(bool on) { return Swap(Current().error_log, on); }
bool SetBeep() { return Current().beep; }
bool SetBeep(bool on) { return Swap(Current().beep, on); }

std::string GetDefaultDir() { return Current().default_dir; }
void SetDefaultDir(std::string dir) { Current().default_dir = std::move(dir); }
std::string GetDefault() { return Current().default_path; }
void SetDefault(std::string path) { Current().default_path = std::move(path); }

uint32_t SetIntl() { return Current().intl; }
void SetIntl(uint32_t mode) { Current().intl = mode; }
uint32_t SetDict() { return Current().dict; }
void SetDict(uint32_t mode) { Current().dict = mode; }

uint32_t GetDecimalSep() { return Current().decimal_sep; }
void SetDecimalSep(uint32_t c) { Current().decimal_sep = c; }
uint32_t GetThousandSep() { return Current().thousand_sep; }
void SetThousandSep(uint32_t c) { Current().thousand_sep = c; }
uint32_t GetTimeSep() { return Current().time_sep; }
void SetTimeSep(uint32_t c) { Current().time_sep = c; }

bool GetAmPm() { return Current().am_pm; }
void SetAmPm(bool on) { Current().am_pm = on; }
std::string GetAMExt() { return Current().am_ext; }
void SetAMExt(std::string s) { Current().am_ext = std::move(s); }
std::string GetPMExt() { return Current().pm_ext; }
void SetPMExt(std::string s) { Current().pm_ext = std::move(s); }

std::string GetDateFrmt() { return Current().date_format; }
void SetDateFrmt(std::string s) { Current().date_format = std::move(s); }
uint32_t GetDecimal() { return Current().decimals; }
void SetDecimal(uint32_t n) { Current().decimals = n; }
bool GetCentury() { return Current().century; }
void SetCentury(bool on) { Current().century = on; }
uint32_t GetEpoch() { return Current().epoch; }
void SetEpoch(uint32_t year) { Current().epoch = year; }

void ResetSettings() { Current() = Settings{}; }

}  // namespace rt
