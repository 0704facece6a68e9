// make-demo DIR: writes a demo installation of the practice product with our
// own table service, and prints the command that runs the update on it.
//
//   DIR/prog/   Velmora.ini, tarif2017.dbf/.cdx/.fpt, ind_1002017.dbf/.cdx
//   DIR/root/data/comm/doc.dbf   the practice list (01 02 03 04, a blank code,
//                                a deleted practice 09)
//   DIR/root/data/docNN/         per practice: Velmora.ini, tarif.dbf, ind_100.dbf
//
// Practice 01 was never updated; 02 is fully updated; 03 has its coefficients
// only; 04 is updated but one of its key-letter values changed since.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "apps/make_demo/big_tables.h"
#include "apps/make_demo/create_table.h"
#include "platform/path.h"
#include "runtime/convert.h"
#include "runtime/startup.h"
#include "tables/cdx/rollback_journal.h"
#include "tables/dbserver.h"

namespace {

namespace fs = std::filesystem;
using demo::FieldSpec;
using demo::TagDef;

struct Act {
  const char* code;
  const char* label;  // Windows-1252
  double coef;
};

const Act kActs[] = {
    {"C", "Consultation au cabinet", 23.0},
    {"CS",
     "Consultation sp\xe9"
     "cialiste",
     23.0},
    {"V", "Visite \xe0 domicile", 23.0},
    {"G",
     "Consultation m\xe9"
     "decine g\xe9n\xe9rale",
     23.0},
    {"VG",
     "Visite m\xe9"
     "decine g\xe9n\xe9rale",
     23.0},
    {"K", "Acte technique (lettre cl\xe9 K)", 1.80},
    {"KC", "Acte de chirurgie (lettre cl\xe9 KC)", 1.96},
    {"APC", "Avis ponctuel de consultant", 45.12},
    {"MNO", "Majoration nourrisson", 4.70},
    {"ID", "Indemnit\xe9 forfaitaire de d\xe9placement", 2.35},
};

const char* kKeyLetters[] = {"C", "CS", "K", "KC", "V", "VS", "G", "VG", "APC"};

const std::vector<FieldSpec> kTarifFields = {{"CODE", 'C', 5},     {"LIBELLE", 'C', 40},
                                             {"COEF", 'N', 10, 2}, {"DATE_EFF", 'D', 8},
                                             {"ACTIF", 'L', 1},    {"NOTE", 'M', 10}};
const std::vector<TagDef> kTarifTags = {{"CODE", "CODE"}, {"CODEDATE", "CODE+DTOS(DATE_EFF)"}};
const std::vector<FieldSpec> kIndexFields = {
    {"INDEX_TYP", 'C', 4}, {"INDEX_DAT", 'D', 8}, {"INDEX_100", 'N', 10, 2}};
const std::vector<TagDef> kIndexTags = {{"TYPDAT", "INDEX_TYP+DTOS(INDEX_DAT)"},
                                        {"DAT", "INDEX_DAT"}};

rt::Value Str(const std::string& s) { return rt::Value::String(s); }
rt::Value Num(double v) { return rt::Value::Float(v, 2); }
rt::Value Day(int y, int m, int d) { return rt::Value::FromDate(rt::Date::FromYmd(y, m, d)); }

void Fail(const std::string& what) {
  std::cerr << "make-demo: " << what << "\n";
  std::exit(1);
}

// The system's (Windows-1252) form of a native path, as the table service and
// the INI files take it.
std::string Sys(const fs::path& native) {
  std::string path;
  if (!platform::PathFromNative(native.string(), &path)) {
    Fail(native.string() + ": a character of this path has no Windows-1252 form");
  }
  return path;
}

void Create(const std::string& path, const std::vector<FieldSpec>& fields,
            const std::vector<TagDef>& tags) {
  std::string error;
  if (!demo::CreateTable(path, fields, tags, &error)) Fail(error);
}

// Opens a table, runs fill with it, closes it. The tables were just created
// and nobody else has them open: exclusive use spares the lock calls.
template <class F>
void With(const std::string& path, F fill) {
  auto db = tables::DBServer::Open(path, false, false);
  if (!db) Fail("cannot open " + path);
  fill(*db);
  db->Close();
}

void AppendRow(tables::DBServer& db, const std::vector<std::pair<const char*, rt::Value>>& row) {
  if (!db.Append()) Fail("append failed");
  for (const auto& [name, value] : row) {
    if (!db.FieldPut(name, value)) Fail(std::string("cannot write ") + name);
  }
}

void TarifRows(tables::DBServer& db, int year, int month, double raise, bool with_extra) {
  for (const Act& a : kActs) {
    std::vector<std::pair<const char*, rt::Value>> row = {{"CODE", Str(a.code)},
                                                          {"LIBELLE", Str(a.label)},
                                                          {"COEF", Num(a.coef + raise)},
                                                          {"DATE_EFF", Day(year, month, 1)},
                                                          {"ACTIF", rt::Value::Logic(true)}};
    if (with_extra) row.push_back({"PRIX_CAB", Num((a.coef + raise) * 1.2)});
    if (std::string(a.code) == "MNO") {
      row.push_back({"NOTE", Str("Tarif n\xe9goci\xe9 localement " + std::to_string(year))});
    }
    AppendRow(db, row);
  }
}

double KeyLetterValue(const char* code, int year, int step) {
  double base = std::string(code).size() == 1 ? 23.0 : 25.0;
  if (std::string(code)[0] == 'K') base = 1.8;
  if (std::string(code) == "APC") base = 46.0;
  return base + (year - 2015) * (base > 10 ? 0.5 : 0.05) + step * (base > 10 ? 1.0 : 0.02);
}

void IndexRows(tables::DBServer& db, int year, const int (*dates)[2], int n_dates) {
  for (const char* code : kKeyLetters) {
    for (int i = 0; i < n_dates; ++i) {
      AppendRow(db, {{"INDEX_TYP", Str(code)},
                     {"INDEX_DAT", Day(year, dates[i][0], dates[i][1])},
                     {"INDEX_100", Num(KeyLetterValue(code, year, i))}});
    }
  }
}

const int k2017[][2] = {{1, 1}, {5, 1}, {11, 1}};
const int kOld[][2] = {{1, 1}, {7, 1}};

void WriteText(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) Fail("cannot write " + p.string());
}

void Practice(const fs::path& data, const std::string& code, bool tarif_done, bool index_done,
              bool changed_since) {
  fs::path dir = data / ("doc" + code);
  fs::create_directories(dir);
  std::string ini = "[Cabinet]\r\nCode=" + code + "\r\n\r\n[options]\r\nlaptop=0\r\n";
  if (tarif_done || index_done) ini += "\r\n[2017]\r\n";
  if (tarif_done) ini += "tarif=1\r\n";
  if (index_done) ini += "index=1\r\n";
  WriteText(dir / "Velmora.ini", ini);

  std::vector<FieldSpec> tarif_fields = kTarifFields;
  tarif_fields.insert(tarif_fields.begin() + 3, {"PRIX_CAB", 'N', 10, 2});
  std::string tarif = Sys(dir / "tarif.dbf");
  Create(tarif, tarif_fields, kTarifTags);
  With(tarif, [&](tables::DBServer& db) {
    TarifRows(db, 2015, 1, 0, true);
    TarifRows(db, 2016, 1, 0.5, true);
    if (tarif_done) TarifRows(db, 2017, 5, 1.0, false);
  });

  std::string index = Sys(dir / "ind_100.dbf");
  Create(index, kIndexFields, kIndexTags);
  With(index, [&](tables::DBServer& db) {
    IndexRows(db, 2015, kOld, 2);
    IndexRows(db, 2016, kOld, 2);
    if (index_done) IndexRows(db, 2017, k2017, 3);
    if (changed_since) {
      // The practice keyed in its own value for K on 1 May 2017.
      if (!db.Seek(Str("K   20170501"))) Fail("K 20170501 not found");
      db.RLock();
      db.FieldPut("INDEX_100", Num(1.99));
      db.Unlock();
    }
  });
}

// The installation that times the update (big_tables.h): one practice that
// was never updated, with `index_rows` key-letter records and `tarif_rows`
// coefficients; reference tables of 10 000 key letters and 77 coefficients.
// Every table is written in one batch, its CDX built once at the end.
void BigInstallation(const fs::path& prog, const fs::path& data, uint32_t index_rows,
                     uint32_t tarif_rows) {
  std::string error;
  auto check = [&](bool ok) {
    if (!ok) Fail(error);
  };
  // The small demo's reference tables give way to the big ones.
  for (const char* name :
       {"tarif2017.dbf", "tarif2017.cdx", "tarif2017.fpt", "ind_1002017.dbf", "ind_1002017.cdx"}) {
    fs::remove(prog / name);
  }
  check(demo::WriteTarifReference((prog / "tarif2017.dbf").string(), &error));
  check(demo::WriteLetterReference((prog / "ind_1002017.dbf").string(), index_rows, &error));
  fs::path dir = data / "doc01";
  fs::create_directories(dir);
  WriteText(dir / "Velmora.ini", "[Cabinet]\r\nCode=01\r\n");
  check(demo::WriteTarifPractice((dir / "tarif.dbf").string(), tarif_rows, &error));
  check(demo::WriteLetterPractice((dir / "ind_100.dbf").string(), index_rows, &error));
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t big_index = 0, big_tarif = 0;
  if (argc == 5 && std::string(argv[1]) == "--big") {
    big_index = static_cast<uint32_t>(std::stoul(argv[2]));
    big_tarif = static_cast<uint32_t>(std::stoul(argv[3]));
    argv += 3;
    argc -= 3;
  }
  if (argc != 2 || std::string(argv[1]) == "--help") {
    std::cerr << "usage: make-demo [--big INDEX_ROWS TARIF_ROWS] DIR\n"
                 "Writes a demo installation of the practice product into DIR (which must be\n"
                 "empty or absent) and prints the command that runs the 2017 update on it.\n"
                 "--big: one practice only, with large key-letter and coefficient tables,\n"
                 "for timing the update.\n";
    return argc == 2 ? 0 : 2;
  }
  fs::path dir = fs::absolute(argv[1]);
  Sys(dir);  // a path the installation cannot name is refused before anything is made
  if (fs::exists(dir) && !fs::is_empty(dir)) Fail(dir.string() + " is not empty");
  rt::Program p;
  rt::AddRuntimeToProgram(p);
  tables::AddTablesToProgram(p);
  std::string failure;
  if (!rt::StartRuntime(p, &failure)) Fail("start-up failed: " + failure);
  // Every table here is new and nobody else's: a record need not reach the disk before the
  // next one is written (the journal still leaves no half-written record behind).
  tables::SetTransactionFlushes(false);

  fs::path prog = dir / "prog";
  fs::path root = dir / "root";
  fs::path data = root / "data";
  fs::create_directories(prog);
  fs::create_directories(data / "comm");
  std::string root_text = Sys(root) + "/";
  WriteText(prog / "Velmora.ini",
            "[Path]\r\nCommun=" + root_text + "\r\n\r\n[options]\r\nlaptop=0\r\n");

  std::string ref_tarif = Sys(prog / "tarif2017.dbf");
  Create(ref_tarif, kTarifFields, kTarifTags);
  With(ref_tarif, [](tables::DBServer& db) {
    TarifRows(db, 2017, 5, 1.0, false);
    // A withdrawn act: deleted, never to be copied.
    AppendRow(db, {{"CODE", Str("MPC")},
                   {"LIBELLE", Str("Majoration forfaitaire transitoire")},
                   {"COEF", Num(2.0)},
                   {"DATE_EFF", Day(2017, 5, 1)}});
    db.Delete();
  });
  std::string ref_index = Sys(prog / "ind_1002017.dbf");
  Create(ref_index, kIndexFields, kIndexTags);
  With(ref_index, [](tables::DBServer& db) { IndexRows(db, 2017, k2017, 3); });

  std::string doc = Sys(data / "comm" / "doc.dbf");
  Create(doc, {{"CABINET", 'C', 3}, {"NOM", 'C', 30}}, {{"CABINET", "CABINET"}});
  With(doc, [&](tables::DBServer& db) {
    AppendRow(db, {{"CABINET", Str("01")}, {"NOM", Str("Cabinet du Dr Martin")}});
    if (big_index || big_tarif) return;
    AppendRow(db, {{"CABINET", Str("02")}, {"NOM", Str("Cabinet des Tilleuls")}});
    AppendRow(db, {{"CABINET", Str("")}, {"NOM", Str("Fiche incompl\xe8te")}});
    AppendRow(db, {{"CABINET", Str("03")},
                   {"NOM", Str("Maison m\xe9"
                               "dicale du Port")}});
    AppendRow(db, {{"CABINET", Str("04")}, {"NOM", Str("Cabinet Lef\xe8vre")}});
    AppendRow(db, {{"CABINET", Str("09")}, {"NOM", Str("Cabinet ferm\xe9")}});
    db.Delete();
  });
  if (big_index || big_tarif) {
    BigInstallation(prog, data, big_index, big_tarif);
  } else {
    Practice(data, "01", false, false, false);
    Practice(data, "02", true, true, false);
    Practice(data, "03", true, false, false);
    Practice(data, "04", true, true, true);
  }

  std::cout << "Demo installation written to " << dir.string() << "\n"
            << "Run the update on it with:\n  tarif2017 --program-dir '" << prog.string() << "'\n";
  return 0;
}
