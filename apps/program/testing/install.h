// A copy of a demo installation in a temporary directory, and what the tests
// read back from it: progress lines of a run, table contents, file bytes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tariff::testing {

// Kill tests run the update once per write it makes. They keep their
// installations in memory while alive (a process death, unlike a power cut,
// leaves what was written, flushed or not, so a flush there costs nothing),
// and under the sanitizers, whose runs are several times slower, they try
// every KillStride()-th write only: the plain builds try every one.
class KillTestScope {
 public:
  KillTestScope();
  ~KillTestScope();
  KillTestScope(const KillTestScope&) = delete;
  KillTestScope& operator=(const KillTestScope&) = delete;

 private:
  std::string saved_;
  bool had_ = false;
};
uint64_t KillStride();

class Installation {
 public:
  // Copies testdata/tariff/<tree> and points prog/Velmora.ini at the copy's root.
  explicit Installation(const std::string& tree);
  ~Installation();
  const std::string& dir() const { return dir_; }
  std::string prog() const { return dir_ + "/prog/"; }
  std::string root() const { return dir_ + "/root/"; }
  // data root + "data/" + name, as this system names it: on Windows without the trailing
  // blanks of its directories (Windows drops them, see the constructor).
  std::string data(const std::string& name) const;
  void WriteFile(const std::string& path, const std::string& bytes) const;
  // Every file below dir, name -> bytes.
  std::map<std::string, std::string> Snapshot(const std::string& sub = "") const;

 private:
  std::string dir_;
};

std::string ReadFile(const std::string& path);

// One record: deletion flag then every field as text, for comparisons.
struct Row {
  bool deleted = false;
  std::map<std::string, std::string> fields;
};
// Every record of a table in physical order, deleted ones included.
std::vector<Row> ReadTable(const std::string& path);
// Checks every tag of every table below the installation against its
// records; returns the faults found ("" when none).
std::string CheckAllIndexes(const std::string& dir);

}  // namespace tariff::testing
