// Encodings of DBF field values, as other engines read and write them:
// numbers as right-aligned ASCII with exactly `decimals` digits (stars when
// too wide), dates as YYYYMMDD, logicals T/F, memo pointers as 10 ASCII digits
// or a 4-byte LE number, I/B/Y/T binary, _NullFlags bits. Pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tables/dbf/dbf_header.h"

namespace tables {

// Parses N/F text: blanks = 0 (*blank set); '-' before the digits; a decimal
// point; F fields may carry e±nn. False for anything else (stars included).
bool ParseNumeric(std::string_view raw, double* out, bool* blank);
// Writes v right-aligned into len bytes with dec decimals, rounded half away
// from zero. False (and len stars) when it does not fit.
bool FormatNumeric(double v, uint32_t len, uint32_t dec, char* out);

// Julian day numbers (the runtime's date representation; 0 = empty).
int32_t JulianFromYmd(int year, int month, int day);  // 0 when invalid
void YmdFromJulian(int32_t julian, int* year, int* month, int* day);
// "YYYYMMDD" → Julian day; 8 blanks (or NULs) → 0. False for anything else.
bool ParseDate(std::string_view raw, int32_t* julian);
void FormatDate(int32_t julian, char* out8);  // 8 blanks for 0

// Logical byte: 1 true, 0 false, -1 not set (blank or '?'), -2 invalid byte.
int ParseLogical(uint8_t b);

// Block number held by a memo field (0 = none); false when the pointer text is
// not a number.
bool MemoBlock(const FieldDesc& f, const uint8_t* field_bytes, uint32_t* block);
void PutMemoBlock(const FieldDesc& f, uint8_t* field_bytes, uint32_t block);

// _NullFlags bit k of a record (false when the table has none).
bool NullBit(const DbfHeader& h, const uint8_t* record, int bit);
void SetNullBit(const DbfHeader& h, uint8_t* record, int bit, bool on);

// Signed little-endian integer of 1..8 bytes.
int64_t ReadLeInt(const uint8_t* p, uint32_t n);
void WriteLeInt(uint8_t* p, uint32_t n, int64_t v);
double ReadLeDouble(const uint8_t* p);
void WriteLeDouble(uint8_t* p, double v);

// T fields: Julian day and milliseconds; "YYYY-MM-DD HH:MM:SS.fff" or "".
std::string FormatTimestamp(int32_t julian, int32_t millis);
bool ParseTimestamp(std::string_view text, int32_t* julian, int32_t* millis);

}  // namespace tables
