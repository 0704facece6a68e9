// Field values of a record as runtime values, both ways.
//
// FieldGet: C → string of full width; N/F → float with the field's decimals
// (blank → 0); D → date (empty → empty date); L → logical (blank → false);
// M/G/P/W → the memo text (binary memos as bytes); I → long (8-byte I →
// float); B, Y → float; T → "YYYY-MM-DD HH:MM:SS.fff" text ("" when empty);
// V/Q → the stored bytes without padding; a nullable field that is NULL → NIL.
// FieldPut: the reverse, with xBase's rules: strings cut or blank-padded,
// numbers rounded to the field's decimals; a number that does not fit is a
// data-width error (34), a value of another kind a data-type error (33).
#pragma once

#include <cstdint>

#include "runtime/value.h"
#include "tables/dbf/status.h"
#include "tables/dbf/table.h"

namespace tables {

Status FieldGetValue(Table& table, size_t field, const uint8_t* record, rt::Value* out);

// Writes value into the record buffer (memo values go to the memo file at
// once; the caller writes the record). On a width error the field holds stars
// ("*") as other engines leave it, and the status says so.
Status FieldPutValue(Table& table, size_t field, const rt::Value& value, uint8_t* record);

// Type of a field as the runtime reports it ("C", "N", "D", "L", "M").
char RuntimeTypeOf(char dbf_type);

}  // namespace tables
