#include "apps/program/testing/posix/update_runs.h"

#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "apps/program/program.h"
#include "apps/program/testing/install.h"
#include "platform/path.h"
#include "runtime/error_box.h"
#include "runtime/program.h"
#include "runtime/settings.h"

namespace tariff::testing {

namespace fs = std::filesystem;

fs::path BinDir() { return fs::read_symlink("/proc/self/exe").parent_path(); }

std::string DiskState(const std::string& root) {
  std::vector<fs::path> files;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  std::string out;
  for (const fs::path& f : files) {
    std::string name = fs::relative(f, root).string();
    if (f.extension() == ".dbf") {
      out += "table " + name + "\n";
      std::string path;
      EXPECT_TRUE(platform::PathFromNative(f.string(), &path)) << f;
      for (const Row& row : testing::ReadTable(path)) {
        out += row.deleted ? "  *" : "   ";
        for (const auto& [field, value] : row.fields) out += " " + field + "=" + value;
        out += "\n";
      }
    } else if (f.filename() == "Velmora.ini") {
      out += "ini " + name + "\n" + ReadFile(f.string()) + "\n";
    }
  }
  return out;
}

std::string FirstDifference(const std::string& a, const std::string& b) {
  if (a == b) return "";
  size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  size_t begin = a.rfind('\n', at == 0 ? 0 : at - 1);
  begin = begin == std::string::npos ? 0 : begin + 1;
  auto line = [begin](const std::string& s) {
    size_t end = s.find('\n', begin);
    return s.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
  };
  size_t table = a.rfind("table ", begin);
  return (table == std::string::npos ? "" : a.substr(table, a.find('\n', table) - table)) +
         "\n  got:  " + line(a) + "\n  want: " + line(b);
}

FILE* StartRunner(const std::string& args) {
  std::string cmd = (BinDir() / "tarif2017").string() + " " + args + " 2>/dev/null </dev/null";
  return popen(cmd.c_str(), "r");
}

Outcome Finish(FILE* p) {
  Outcome o;
  if (!p) return o;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) o.out.append(buf.data(), n);
  int st = pclose(p);
  o.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return o;
}

Outcome RunRunner(const std::string& args) { return Finish(StartRunner(args)); }

void UpdateSafety::SetUpTestSuite() {
  std::string failure;
  ASSERT_TRUE(rt::StartRuntime(app::Tarif2017Program(), &failure)) << failure;
}

void UpdateSafety::SetUp() {
  if (!fs::exists(BinDir() / "tarif2017")) GTEST_SKIP() << "runner not built";
  rt::SetBeep(false);
}

void UpdateSafety::TearDown() {
  rt::SetErrorBoxFrontEnd(nullptr);
  rt::SetWorkDir("");
}

}  // namespace tariff::testing
