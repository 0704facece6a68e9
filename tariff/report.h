// The change report: every record a run appends and every field value it
// changes, as CSV rows appended to Tarif2017-changes.csv in the program
// directory (or to the file the run options name). Windows-1252, CR LF,
// ';'-separated, one header line when the file is new:
//
//   run;practice;table;action;recno;field;old;new
//
// run: the run's start, "YYYY-MM-DD HH:MM:SS" (local time); practice: the
// practice code as stored (full field width); table: "tarif.dbf" or
// "ind_100.dbf"; action: "append" (field and old empty, new the record's key:
// CODE+DTOS(DATE_EFF) or INDEX_TYP+DTOS(INDEX_DAT)) or "update" (one row per
// changed field, old and new text); recno: the record number. Texts are the
// stored texts without their padding (character fields trimmed on the right,
// numbers without their leading blanks, dates as DTOS). A cell holding ';',
// '"', CR or LF is enclosed in double quotes with its quotes doubled.
//
// Rows of committed changes are written to the file in batches, at the latest
// at the end of every step, where they are forced to disk (a killed run leaves
// the rows of part of what it changed, never of more); each write takes a lock
// of its own on the file and holds whole lines, so two runs at once never mix
// their lines. A dry run writes the rows of what it would change, and only
// to a file named in the run options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/value.h"
#include "tariff/db.h"

namespace tariff::report {

inline constexpr char kFileName[] = "Tarif2017-changes.csv";
inline constexpr char kHeader[] = "run;practice;table;action;recno;field;old;new";

// One line of cells separated by ';', ended by CR LF, quoted as above.
std::string CsvLine(const std::vector<std::string>& cells);

// Stamps the run's start and opens its report (none for a dry run without a
// file of its own). A report that cannot be opened is raised through the
// runtime's error protocol (retry tries again) and tallies the run as failed;
// the run then goes on without one. Returns whether a report is open.
bool BeginRun(const std::string& program_dir);
// Forces the rows to disk and closes the report.
void EndRun();

void Appended(const std::string& practice, const char* table, uint32_t recno,
              const std::string& key);
void Updated(const std::string& practice, const char* table, uint32_t recno, const char* field,
             const std::string& old_text, const std::string& new_text);
// End of a step (the tables closed): pending rows written, and what was
// written reaches the disk.
void Flush();

// A field value as the report shows it (see above).
std::string Text(const rt::Value& value);
// The key of the current record of db, a "tarif.dbf" or "ind_100.dbf" table
// (or its reference table, which has the same fields).
std::string KeyOf(const Db& db, const char* table);

// One "append" row for every record after `before` up to the last one of db,
// right after db appended them.
void ReportAppended(const std::string& practice, const Db& db, const char* table, uint32_t before);
// The table whose append the marker key ("tarif", "index") commits.
const char* TableOfMarker(const char* key);
// Dry run: one "append" row for every record AppendDB would copy from source
// (the visible ones) into db, numbered from db's last record on; returns their
// count. The source is opened shared and read-only.
uint32_t ReportWouldAppend(const std::string& practice, const Db& db, const char* table,
                           const std::string& source);

}  // namespace tariff::report
