#include "apps/program/testing/install.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/path.h"
#include "runtime/convert.h"
#include "runtime/settings.h"
#include "tables/dbf/table.h"
#include "tables/dbserver.h"
#include "tables/tools/cdx_check.h"
#include "testing/scratch_dir.h"

namespace tariff::testing {

namespace fs = std::filesystem;

KillTestScope::KillTestScope() {
  const char* saved = std::getenv("TMPDIR");
  had_ = saved != nullptr;
  if (had_) saved_ = saved;
#if !defined(_WIN32)
  if (std::filesystem::is_directory("/dev/shm")) setenv("TMPDIR", "/dev/shm", 1);
#endif
}

KillTestScope::~KillTestScope() {
#if !defined(_WIN32)
  if (had_) {
    setenv("TMPDIR", saved_.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
#endif
}

uint64_t KillStride() {
#if defined(__SANITIZE_ADDRESS__)
  return 3;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return 3;
#else
  return 1;
#endif
#else
  return 1;
#endif
}

Installation::Installation(const std::string& tree) {
  std::string scratch = testsupport::MakeScratchDir("tarif");
  EXPECT_FALSE(scratch.empty());
  fs::path d = scratch;
  const fs::path source = fs::path(PROJECT_TESTDATA_DIR) / "tariff";
#ifdef _WIN32
  // Windows drops trailing blanks from every name of a path, so no Windows disk holds
  // "doc01 ": the tree with blanks is, there, the trimmed tree, its blank practice code
  // reaching "doc" (kept as a trap with a practice's files in it).
  if (tree == "demo-tree") {
    fs::copy(source / "demo-tree-trim", d, fs::copy_options::recursive);
    fs::copy(d / "root" / "data" / "doc01", d / "root" / "data" / "doc",
             fs::copy_options::recursive);
  } else {
    fs::copy(source / tree, d, fs::copy_options::recursive);
  }
#else
  fs::copy(source / tree, d, fs::copy_options::recursive);
#endif
  for (auto& e : fs::recursive_directory_iterator(d)) {
    fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
  }
  dir_ = d.string();
  std::string ini = ReadFile(prog() + "Velmora.ini");
  size_t at = ini.find("ROOT");
  if (at != std::string::npos) ini.replace(at, 4, root());
  WriteFile(prog() + "Velmora.ini", ini);
}

Installation::~Installation() {
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

namespace {

std::string OnThisSystem(const std::string& path) {
#ifdef _WIN32
  std::string out;
  for (char c : path) {
    if (c == '/' || c == '\\') {
      while (!out.empty() && out.back() == ' ') out.pop_back();
    }
    out.push_back(c);
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
#else
  return path;
#endif
}

}  // namespace

std::string Installation::data(const std::string& name) const {
  return OnThisSystem(root() + "data/" + name);
}

void Installation::WriteFile(const std::string& path, const std::string& bytes) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::map<std::string, std::string> Installation::Snapshot(const std::string& sub) const {
  std::map<std::string, std::string> files;
  fs::path base = fs::path(dir_) / OnThisSystem(sub);
  for (auto& e : fs::recursive_directory_iterator(base)) {
    if (!e.is_regular_file()) continue;
    files[fs::relative(e.path(), dir_).string()] = ReadFile(e.path().string());
  }
  return files;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<Row> ReadTable(const std::string& path) {
  bool hide = rt::SetDeleted(false);
  std::vector<Row> rows;
  auto db = tables::DBServer::Open(path, true, true);
  EXPECT_TRUE(db) << path;
  if (db) {
    db->SetOrder(0u);
    for (uint32_t r = 1; r <= db->LastRec(); ++r) {
      db->GoTo(r);
      Row row;
      row.deleted = db->Deleted();
      for (uint32_t f = 1; f <= db->FCount(); ++f) {
        rt::Value v = db->FieldGet(f);
        row.fields[db->FieldName(f)] = v.IsDate() ? rt::DToS(v.GetDate()) : rt::AsString(v);
      }
      rows.push_back(std::move(row));
    }
    db->Close();
  }
  rt::SetDeleted(hide);
  return rows;
}

std::string CheckAllIndexes(const std::string& dir) {
  std::string faults;
  for (auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.path().extension() != ".dbf") continue;
    std::string path;
    if (!platform::PathFromNative(e.path().string(), &path)) {
      faults += e.path().string() + ": no Windows-1252 name\n";
      continue;
    }
    auto db = tables::DBServer::Open(path, true, true);
    if (!db) {
      faults += path + ": cannot open\n";
      continue;
    }
    tables::CdxIndex* index = db->index();
    if (index) {
      tables::Table& table = db->table();
      tables::IndexCheckReport report;
      tables::Status st = tables::CheckIndex(
          *index, db->LastRec(),
          [&](uint32_t recno, std::vector<uint8_t>* record) {
            record->resize(table.record_length());
            tables::Status s = table.ReadRecord(recno, record->data());
            return s.ok() ? tables::Status::Ok() : tables::Status::Corruption(s.text());
          },
          &report);
      if (!st.ok()) faults += path + ": " + st.text() + "\n";
      for (const std::string& f : report.faults) faults += path + ": " + f + "\n";
    }
    db->Close();
  }
  return faults;
}

}  // namespace tariff::testing
