// tabletool check-tree: every table the tariff update would open, checked
// before an update (or after one that was stopped). The data root comes from
// the program directory's Velmora.ini exactly as the update reads it ("Path"/
// "Commun", replaced by "Laptop"/"pathserver" when "options"/"laptop" is "1");
// the practices are the visible records of doc.dbf with a non-blank CABINET.
// Each table gets the full check of `tabletool check` (header against file
// size, records, memo blocks, every tag against every record) plus what the
// update itself needs: no journal left behind by an interrupted write, and for
// the key-letter tables the three fields of the right kinds and the lookup
// order. Nothing is written.
#include "apps/tabletool/check_tree.h"

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/path.h"
#include "platform/profile.h"
#include "runtime/convert.h"
#include "runtime/value.h"
#include "tables/cdx/rollback_journal.h"
#include "tables/dbf/table.h"
#include "tables/dbf_value.h"
#include "tables/dbserver.h"
#include "tables/tools/table_dump.h"

namespace tabletool {
namespace {

namespace fs = std::filesystem;

// The update reads its configuration through IniFileSpec:GetString: a
// 1024-byte buffer, a one-blank default, trailing blanks removed.
std::string IniString(const std::string& file, const char* section, const char* key) {
  std::vector<char> buffer(1024, '\0');
  platform::GetPrivateProfileStringA(section, key, " ", buffer.data(),
                                     static_cast<uint32_t>(buffer.size()), file.c_str());
  return rt::RTrim(buffer.data());
}

// A code the update refuses because it would lead outside the data root.
bool InvalidCode(const std::string& code) {
  if (code.find("..") != std::string::npos) return true;
  for (unsigned char c : code) {
    if (c == '\\' || c == '/' || c == ':' || c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

std::string NormalKey(const std::string& expression) {
  std::string upper = rt::Upper(expression);
  std::string out;
  for (size_t i = 0; i < upper.size(); ++i) {
    if (upper.compare(i, 7, "FIELD->") == 0) {
      i += 6;
      continue;
    }
    if (upper[i] != ' ') out.push_back(upper[i]);
  }
  return out;
}

bool Exists(const std::string& windows_path) {
  std::error_code ec;
  return fs::is_regular_file(platform::MapPath(windows_path), ec);
}

// Fields and order the key-letter steps rely on.
void CheckKeyLetterShape(const std::string& path, bool needs_order,
                         std::vector<std::string>* faults) {
  std::unique_ptr<tables::DBServer> s;
  tables::Status st =
      tables::DBServer::TryOpen(path, true, true, "DBFCDX", tables::LockSchemeId::kVfp, &s);
  if (!st.ok()) return;  // CheckTable already said why
  const struct {
    const char* name;
    char type;
  } wanted[] = {{"INDEX_TYP", 'C'}, {"INDEX_DAT", 'D'}, {"INDEX_100", 'N'}};
  for (const auto& w : wanted) {
    int f = s->table().FieldIndex(w.name);
    if (f < 0) {
      faults->push_back(std::string("field ") + w.name + " missing");
    } else if (s->table().fields()[f].type != w.type) {
      faults->push_back(std::string("field ") + w.name + " is of type " +
                        s->table().fields()[f].type + ", expected " + w.type);
    }
  }
  if (needs_order) {
    const std::string lookup = NormalKey("INDEX_TYP+DTOS(INDEX_DAT)");
    bool found = false;
    if (tables::CdxIndex* index = s->index()) {
      for (size_t t = 0; t < index->tag_count() && !found; ++t) {
        found = NormalKey(index->tag(t).key_expr) == lookup && index->tag(t).for_expr.empty();
      }
    }
    if (!found) faults->push_back("no order keyed on INDEX_TYP+DTOS(INDEX_DAT)");
  }
  s->Close();
}

// The faults of one table ("" prefixes of the path removed), none when sound.
std::vector<std::string> CheckOne(const std::string& path, bool key_letters, bool needs_order) {
  std::vector<std::string> faults;
  if (!Exists(path)) {
    faults.push_back("missing");
    return faults;
  }
  if (Exists(tables::JournalPath(path))) {
    // Opening the table would replay the journal: a check only reports it.
    faults.push_back("journal left behind (" +
                     rt::Utf82Ansi(platform::MapPath(tables::JournalPath(path))) +
                     "): a write was interrupted; not checked further: run tabletool recover");
    return faults;
  }
  std::vector<std::string> found;
  tables::Status st = tables::CheckTable(path, &found);
  if (!st.ok()) found.push_back("cannot open: " + st.text());
  for (std::string& f : found) {
    if (f.compare(0, path.size() + 2, path + ": ") == 0) f.erase(0, path.size() + 2);
    faults.push_back(std::move(f));
  }
  if (key_letters && st.ok()) CheckKeyLetterShape(path, needs_order, &faults);
  return faults;
}

// The practice codes of doc.dbf the update would visit, in record order.
tables::Status PracticeCodes(const std::string& path, std::vector<std::string>* codes) {
  std::unique_ptr<tables::Table> t;
  tables::OpenOptions options;
  options.read_only = true;
  tables::Status st = tables::Table::Open(path, options, &t);
  if (!st.ok()) return st;
  int field = t->FieldIndex("CABINET");
  if (field < 0) return tables::Status(tables::Status::kCorruption, "no field CABINET", 0, path);
  std::vector<uint8_t> rec(t->record_length());
  for (uint32_t n = 1; n <= t->RecordCount(); ++n) {
    st = t->ReadRecord(n, rec.data());
    if (!st.ok()) return st;
    if (rec[0] == '*') continue;
    rt::Value v;
    st = tables::FieldGetValue(*t, static_cast<size_t>(field), rec.data(), &v);
    if (!st.ok()) return st;
    std::string code = rt::AsString(v);
    if (code.find_first_not_of(' ') == std::string::npos) continue;
    codes->push_back(code);
  }
  return tables::Status::Ok();
}

}  // namespace

int CheckTree(const std::string& program_dir, std::ostream& out) {
  std::string prog = program_dir;
  if (!prog.empty() && prog.back() != '/' && prog.back() != '\\') prog.push_back('/');
  const std::string ini = prog + "Velmora.ini";
  std::string root = IniString(ini, "Path", "Commun");
  std::string server_root;
  if (IniString(ini, "options", "laptop") == "1") {
    server_root = IniString(ini, "Laptop", "pathserver");
  }
  if (!server_root.empty()) root = server_root;
  if (root.empty()) {
    out << rt::Ansi2Utf8(ini) << ": no data root (Path/Commun, Laptop/pathserver)\n"
        << "check-tree: configuration not found, nothing checked\n";
    return 1;
  }
  out << "data root: " << rt::Ansi2Utf8(root) << (server_root.empty() ? "" : " (laptop)") << "\n";

  int tables_checked = 0, tables_faulty = 0, practices = 0, problems = 0;
  std::set<std::string> seen;
  auto report = [&](const std::string& path, bool key_letters, bool needs_order) {
    if (!seen.insert(rt::Upper(path)).second) return;
    ++tables_checked;
    std::vector<std::string> faults = CheckOne(path, key_letters, needs_order);
    out << platform::MapPath(path) << ": ";  // native: already the terminal's encoding
    if (faults.empty()) {
      out << "ok\n";
      return;
    }
    ++tables_faulty;
    for (size_t i = 0; i < faults.size(); ++i) out << (i ? "; " : "") << rt::Ansi2Utf8(faults[i]);
    out << "\n";
  };

  report(prog + "tarif2017.dbf", false, false);
  report(prog + "ind_1002017.dbf", true, false);
  const std::string doc = root + "data\\comm\\doc.dbf";
  report(doc, false, false);
  std::vector<std::string> codes;
  tables::Status st = Exists(doc) ? PracticeCodes(doc, &codes) : tables::Status::Ok();
  if (!st.ok()) {
    out << rt::Ansi2Utf8(doc) << ": practices not read: " << rt::Ansi2Utf8(st.text()) << "\n";
    ++problems;
  }
  for (const std::string& code : codes) {
    if (InvalidCode(code)) {
      out << "practice \"" << rt::Ansi2Utf8(code)
          << "\": invalid code, the update passes it over\n";
      ++problems;
      continue;
    }
    ++practices;
    const std::string dir = root + "Data\\doc" + code + "\\";
    report(dir + "tarif.dbf", false, false);
    report(dir + "ind_100.dbf", true, true);
  }
  const bool sound = tables_faulty == 0 && problems == 0;
  out << "check-tree: " << practices << " practice(s), " << tables_checked << " table(s), "
      << tables_faulty << " with faults"
      << (problems ? ", " + std::to_string(problems) + " other problem(s)" : "") << ": "
      << (sound ? "sound" : "NOT sound") << "\n";
  return sound ? 0 : 1;
}

}  // namespace tabletool
