// `tabletool check-tree` over copies of the demo installations: sound trees
// pass, each kind of damage fails and names the table it found it in.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>

#include "apps/program/testing/install.h"
#include "apps/program/testing/posix/update_runs.h"

namespace tariff {
namespace {

namespace fs = std::filesystem;
using testing::Finish;
using testing::Installation;
using testing::Outcome;
using testing::ReadFile;

std::string Tool() {
  return (fs::read_symlink("/proc/self/exe").parent_path() / "tabletool").string();
}

Outcome CheckTree(const Installation& inst) {
  std::string cmd = Tool() + " check-tree '" + inst.prog() + "' 2>&1 </dev/null";
  return Finish(popen(cmd.c_str(), "r"));
}

// The output line about the table whose native path ends in `tail`.
std::string LineOf(const std::string& out, const std::string& tail) {
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find(tail + ": ") != std::string::npos) return line;
  }
  return "";
}

TEST(CheckTree, SoundInstallationsPass) {
  if (!fs::exists(Tool())) GTEST_SKIP() << "tabletool not built";
  for (const char* tree : {"demo-tree", "demo-tree-trim"}) {
    Installation inst(tree);
    const auto before = inst.Snapshot();
    Outcome o = CheckTree(inst);
    EXPECT_EQ(o.status, 0) << tree << "\n" << o.out;
    EXPECT_NE(o.out.find(": sound\n"), std::string::npos) << o.out;
    // Reference tables, practice list, two tables for each of the three practices.
    EXPECT_NE(o.out.find("3 practice(s), 9 table(s), 0 with faults"), std::string::npos) << o.out;
    EXPECT_EQ(LineOf(o.out, "/prog/ind_1002017.dbf"), inst.prog() + "ind_1002017.dbf: ok");
    EXPECT_TRUE(inst.Snapshot() == before) << tree << ": check-tree wrote something";
  }
}

TEST(CheckTree, DamageFailsAndNamesTheTable) {
  if (!fs::exists(Tool())) GTEST_SKIP() << "tabletool not built";
  struct Case {
    const char* what;
    std::function<void(const Installation&)> damage;
    const char* table;  // tail of the native path of the table to be named
    const char* fault;  // a piece of its fault text
  };
  const Case cases[] = {
      {"truncated table",
       [](const Installation& i) {
         fs::resize_file(i.data("doc01 /tarif.dbf"), fs::file_size(i.data("doc01 /tarif.dbf")) - 7);
       },
       "doc01 /tarif.dbf", "partial record"},
      {"journal left behind",
       [](const Installation& i) { i.WriteFile(i.data("doc02 /ind_100.jnl"), "x"); },
       "doc02 /ind_100.dbf", "journal left behind"},
      {"record changed behind the index's back",
       [](const Installation& i) {
         // Record 1's INDEX_TYP (header 130 bytes, then the deletion flag).
         const std::string dbf = i.data("doc03 /ind_100.dbf");
         std::string bytes = ReadFile(dbf);
         bytes[130 + 1] = 'Z';
         i.WriteFile(dbf, bytes);
       },
       "doc03 /ind_100.dbf", "key"},
      {"memo file cut short",
       [](const Installation& i) { fs::resize_file(i.data("doc02 /tarif.fpt"), 512); },
       "doc02 /tarif.dbf", "memo"},
      {"reference table missing",
       [](const Installation& i) { fs::remove(i.prog() + "tarif2017.dbf"); }, "/prog/tarif2017.dbf",
       "missing"},
      {"key-letter value made a character field",
       [](const Installation& i) {
         // The field descriptors start at byte 32, 32 bytes each; the type is byte 11.
         const std::string dbf = i.prog() + "ind_1002017.dbf";
         std::string bytes = ReadFile(dbf);
         for (size_t d = 32; d + 32 <= bytes.size() && bytes[d] != '\r'; d += 32) {
           if (bytes.compare(d, 9, "INDEX_100") == 0) {
             bytes[d + 11] = 'C';
             bytes[d + 17] = 0;  // a character field's decimals byte is its high length byte
           }
         }
         i.WriteFile(dbf, bytes);
       },
       "/prog/ind_1002017.dbf", "INDEX_100 is of type C"},
      {"laptop server root without the tables",
       [](const Installation& i) {
         i.WriteFile(i.prog() + "Velmora.ini", "[Path]\r\nCommun=" + i.root() +
                                                   "\r\n[options]\r\nlaptop=1\r\n[Laptop]\r\n"
                                                   "pathserver=" +
                                                   i.dir() + "/elsewhere/\r\n");
       },
       "/elsewhere/data/comm/doc.dbf", "missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Installation inst("demo-tree");
    c.damage(inst);
    const auto damaged = inst.Snapshot();
    Outcome o = CheckTree(inst);
    EXPECT_TRUE(inst.Snapshot() == damaged) << "check-tree wrote (or recovered) something";
    EXPECT_EQ(o.status, 1) << o.out;
    EXPECT_NE(o.out.find("NOT sound"), std::string::npos) << o.out;
    std::string line = LineOf(o.out, c.table);
    ASSERT_NE(line, "") << o.out;
    EXPECT_EQ(line.find(": ok"), std::string::npos) << line;
    EXPECT_NE(line.find(c.fault), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace tariff
