// Process-wide settings of the runtime: deleted-record filter, error log, beep,
// default directory and path, and the international settings. Each setter
// without its argument reads the setting back (getter overload). One thread.
#pragma once

#include <cstdint>
#include <string>

namespace rt {

// SetDeleted: hide records marked deleted in every table (default false).
bool SetDeleted();
bool SetDeleted(bool on);  // returns the previous setting
// SetErrorLog: append reported errors to XQERROR.LOG (default true).
bool SetErrorLog();
bool SetErrorLog(bool on);
// SetBeep: sound on errors (default true).
bool SetBeep();
bool SetBeep(bool on);
// Default directory (SetDefaultDir) and default path (SetDefault); "" when unset.
std::string GetDefaultDir();
void SetDefaultDir(std::string dir);
std::string GetDefault();
void SetDefault(std::string path);

// International settings (setters named as the runtime names them, without
// the leading underscore of _SetIntl and _SetDict).
uint32_t SetIntl();  // 1 WINDOWS, 2 BINARY, other LEGACY; default 0
void SetIntl(uint32_t mode);
uint32_t SetDict();
void SetDict(uint32_t mode);
uint32_t GetDecimalSep();  // character code, default 46
void SetDecimalSep(uint32_t c);
uint32_t GetThousandSep();  // default 44
void SetThousandSep(uint32_t c);
uint32_t GetTimeSep();  // default 58
void SetTimeSep(uint32_t c);
bool GetAmPm();  // 12-hour clock, default false
void SetAmPm(bool on);
std::string GetAMExt();  // default ""
void SetAMExt(std::string s);
std::string GetPMExt();
void SetPMExt(std::string s);
std::string GetDateFrmt();  // default "MM/DD/YY"
void SetDateFrmt(std::string s);
uint32_t GetDecimal();  // default 2
void SetDecimal(uint32_t n);
bool GetCentury();  // default false
void SetCentury(bool on);
uint32_t GetEpoch();  // default 1900
void SetEpoch(uint32_t year);

// Puts every setting back to its default (tests).
void ResetSettings();

}  // namespace rt
