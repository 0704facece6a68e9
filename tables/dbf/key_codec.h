// Byte encodings of CDX keys: numbers, dates and timestamps as sortable
// big-endian doubles (8 bytes, ordered by unsigned byte comparison), logicals as
// "T"/"F", character keys as blank-padded bytes. Also the Julian-day calendar
// that date keys use. Pure functions; no state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tables {

// The type of a tag's key, as the key expression's result type decides it.
enum class KeyType : char { kChar = 'C', kNumber = 'N', kDate = 'D', kLogic = 'L', kTime = 'T' };

// Filler of leaf trailing counts: blank for character keys, zero for the rest.
inline uint8_t KeyFiller(KeyType type) { return type == KeyType::kChar ? 0x20 : 0x00; }

// 8 bytes: the IEEE double big-endian with the sign bit flipped when clear and
// every bit inverted when set; -0.0 is stored as +0.0.
std::string EncodeNumberKey(double v);
double DecodeNumberKey(std::string_view key);

// Julian day number of a proleptic Gregorian date; 0 when invalid.
int32_t DateToJulian(int year, int month, int day);
// The date of a Julian day number (0,0,0 for 0 and below).
void JulianToDate(int32_t julian, int* year, int* month, int* day);
// "YYYYMMDD" to a Julian day; 0 for blanks, zeros and impossible dates.
int32_t JulianFromDtos(std::string_view text);
// Julian day to "YYYYMMDD"; eight blanks for 0.
std::string DtosFromJulian(int32_t julian);

// Compares two keys as the tag orders them: unsigned bytes over the shorter
// length, then the shorter first.
int CompareKeys(std::string_view a, std::string_view b);

}  // namespace tables
