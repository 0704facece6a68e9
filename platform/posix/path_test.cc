// Windows paths onto the Linux tree: drive and UNC mappings, case, the blanks
// and dots Windows strips from names, Windows-1252 names, current directory.
#include "platform/path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/file.h"
#include "testing/scratch_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class PathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = testsupport::MakeScratchDir("path_test");
    ASSERT_FALSE(root_.empty());
    fs::create_directories(root_ + "/c/Data/Comm");
    fs::create_directories(root_ + "/c/doc01");
    fs::create_directories(root_ + "/c/doc02");
    fs::create_directories(root_ + "/c/doc02 ");
    fs::create_directories(root_ + "/c/doc   ");
    fs::create_directories(root_ + "/share/Tarifs");
    std::ofstream(root_ + "/c/Data/Comm/doc.dbf") << "x";
    ClearPathMappings();
    AddPathMapping("C:", root_ + "/c/");
    AddPathMapping("\\\\Server\\Share", root_ + "/share");
    saved_cwd_ = fs::current_path().string();
  }
  void TearDown() override {
    fs::current_path(saved_cwd_);
    ClearPathMappings();
    fs::remove_all(root_);
  }
  std::string root_;
  std::string saved_cwd_;
};

TEST_F(PathTest, DriveLettersAndCase) {
  EXPECT_EQ(root_ + "/c/Data/Comm/doc.dbf", MapPath("C:\\Data\\Comm\\doc.dbf"));
  EXPECT_EQ(root_ + "/c/Data/Comm/doc.dbf", MapPath("c:\\DATA\\comm\\DOC.DBF"));
  EXPECT_EQ(root_ + "/c/Data/Comm/", MapPath("c:\\data\\comm\\"));
  EXPECT_EQ(root_ + "/c/", MapPath("C:\\"));
  // Mixed separators are accepted as Windows does.
  EXPECT_EQ(root_ + "/c/Data/Comm/doc.dbf", MapPath("C:/data\\comm/doc.dbf"));
  // A later mapping of the same drive replaces the first.
  AddPathMapping("c:", root_ + "/share");
  EXPECT_EQ(root_ + "/share/Tarifs", MapPath("C:\\TARIFS"));
}

TEST_F(PathTest, MissingComponentsAreKeptAsGiven) {
  EXPECT_EQ(root_ + "/c/Data/Comm/New File.DBF", MapPath("C:\\data\\comm\\New File.DBF"));
  EXPECT_EQ(root_ + "/c/Data/Nowhere/Sub/x.ini", MapPath("C:\\DATA\\Nowhere\\Sub\\x.ini"));
}

TEST_F(PathTest, TrailingBlanksAndDots) {
  // "doc01 " does not exist: Windows strips the blank and finds "doc01".
  EXPECT_EQ(root_ + "/c/doc01/Velmora.ini", MapPath("C:\\doc01 \\Velmora.ini"));
  EXPECT_EQ(root_ + "/c/doc01/", MapPath("C:\\DOC01..\\"));
  // An exactly named "doc02 " directory is used when it exists.
  EXPECT_EQ(root_ + "/c/doc02 /x", MapPath("C:\\doc02 \\x"));
  EXPECT_EQ(root_ + "/c/doc02/x", MapPath("C:\\doc02\\x"));
  EXPECT_EQ(root_ + "/c/doc   /", MapPath("C:\\doc   \\"));
  // A name made only of blanks matches nothing.
  EXPECT_EQ(root_ + "/c/   /x", MapPath("C:\\   \\x"));
}

// Resolved directories are remembered; every change that would resolve a path
// otherwise is seen.
TEST_F(PathTest, RememberedDirectoriesFollowChanges) {
  const std::string c = root_ + "/c";
  // Directories changed within the last seconds are never remembered: age them.
  auto settle = [&] {
    for (const auto& e : fs::recursive_directory_iterator(c)) {
      if (e.is_directory()) {
        fs::last_write_time(e.path(), fs::file_time_type::clock::now() - std::chrono::hours(1));
      }
    }
    fs::last_write_time(c, fs::file_time_type::clock::now() - std::chrono::hours(1));
  };
  struct Step {
    const char* what;
    const char* path;
    std::function<void()> change;
    std::string expected;
  };
  const Step steps[] = {
      {"unchanged", "C:\\DATA\\comm\\doc.dbf", [] {}, c + "/Data/Comm/doc.dbf"},
      {"a missing file", "C:\\DATA\\comm\\new.dbf", [] {}, c + "/Data/Comm/new.dbf"},
      {"a directory of the exact case appears", "C:\\DATA\\comm\\doc.dbf",
       [&] { fs::create_directories(c + "/DATA/comm"); }, c + "/DATA/comm/doc.dbf"},
      {"and goes", "C:\\DATA\\comm\\doc.dbf", [&] { fs::remove_all(c + "/DATA"); },
       c + "/Data/Comm/doc.dbf"},
      {"an exact name renamed to another case", "C:\\Data\\Comm\\doc.dbf",
       [&] { fs::rename(c + "/Data", c + "/data"); }, c + "/data/Comm/doc.dbf"},
      {"a trailing blank's directory appears", "C:\\doc01 \\x.ini",
       [&] { fs::create_directories(c + "/doc01 "); }, c + "/doc01 /x.ini"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    settle();
    MapPath(step.path);  // resolved and remembered
    step.change();
    EXPECT_EQ(step.expected, MapPath(step.path));
    EXPECT_EQ(step.expected, MapPath(step.path));
  }
}

TEST_F(PathTest, UncAndNativeAndUnmapped) {
  EXPECT_EQ(root_ + "/share/Tarifs/t.dbf", MapPath("\\\\server\\SHARE\\tarifs\\t.dbf"));
  EXPECT_EQ(root_ + "/c/Data/Comm/doc.dbf", MapPath(root_ + "/c/data/COMM/doc.dbf"));
  // Unmapped drives and shares lead nowhere, so nothing can be created there.
  std::unique_ptr<File> f;
  EXPECT_EQ(kErrorPathNotFound, OpenFile("Q:\\x.dbf", Access::kReadWrite, Share::kDenyNone,
                                         Disposition::kOpenAlways, 0, &f)
                                    .code());
  EXPECT_EQ(kErrorPathNotFound, OpenFile("\\\\other\\s\\x.dbf", Access::kReadWrite,
                                         Share::kDenyNone, Disposition::kOpenAlways, 0, &f)
                                    .code());
  // Z: is the native root, as under Wine.
  EXPECT_EQ(root_ + "/c/Data", MapPath("Z:" + root_ + "/c/data"));
}

TEST_F(PathTest, Windows1252NamesAreUtf8OnDisk) {
  fs::create_directories(root_ + "/c/R\xc3\xa9sum\xc3\xa9");  // "Résumé" in UTF-8
  EXPECT_EQ(root_ + "/c/R\xc3\xa9sum\xc3\xa9/a", MapPath("C:\\R\xe9sum\xe9\\a"));
  EXPECT_EQ(root_ + "/c/R\xc3\xa9sum\xc3\xa9/a", MapPath("C:\\R\xc9SUM\xc9\\a"));
  EXPECT_EQ(root_ + "/c/\xc3\xa9t\xc3\xa9", MapPath("C:\\\xe9t\xe9"));  // created with UTF-8 name
}

TEST_F(PathTest, CurrentDirectoryShowsTheMapping) {
  ASSERT_TRUE(SetCurrentDirectory("c:\\data\\COMM"));
  EXPECT_EQ("C:\\Data\\Comm", CurrentDirectory());
  EXPECT_EQ("doc.dbf", MapPath("DOC.DBF"));
  EXPECT_TRUE(FileExists("Doc.Dbf"));
  ASSERT_TRUE(SetCurrentDirectory("C:\\"));
  EXPECT_EQ("C:\\", CurrentDirectory());
  ClearPathMappings();
  std::string shown = "Z:" + root_ + "/c";
  for (char& c : shown) c = c == '/' ? '\\' : c;
  EXPECT_EQ(shown, CurrentDirectory());
  EXPECT_FALSE(SetCurrentDirectory("C:\\nowhere"));
}

TEST_F(PathTest, NativeNamesComeBackInTheSystemsForm) {
  struct Case {
    std::string native;
    bool ok;
    std::string system;
  };
  const Case cases[] = {
      {"/tmp/plain/doc01", true, "/tmp/plain/doc01"},
      {"/tmp/Cabinet m\xc3\xa9"
       "dical/\xc3\x89t\xc3\xa9 \xe2\x82\xac",
       true,
       "/tmp/Cabinet m\xe9"
       "dical/\xc9t\xe9 \x80"},
      {"relative/\xc3\xa0", true, "relative/\xe0"},
      {"/tmp/\xc5\x82\xc3\xb3"
       "d\xc5\xba",
       false, ""},                    // no Windows-1252 form
      {"/tmp/\xe9t\xe9", false, ""},  // not UTF-8
      {"/tmp/\xc1\x81", false, ""},   // "A" in an overlong form: no name has two spellings
      {"/tmp/caf\xc3", false, ""},    // cut short
  };
  for (const Case& c : cases) {
    std::string got = "untouched";
    EXPECT_EQ(PathFromNative(c.native, &got), c.ok) << c.native;
    EXPECT_EQ(got, c.ok ? c.system : "untouched") << c.native;
  }
  // Round trip through MapPath, for a directory that exists and one that does not.
  fs::create_directories(root_ + "/c/Caf\xc3\xa9");
  for (const std::string& native : {root_ + "/c/Caf\xc3\xa9", root_ + "/c/Caf\xc3\xa9/n\xc3\xa9"}) {
    std::string system;
    ASSERT_TRUE(PathFromNative(native, &system));
    EXPECT_EQ(MapPath(system), native);
  }
}

TEST_F(PathTest, ExecutablePathIsNative) {
  std::string exe = ExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ('/', exe[0]);
  EXPECT_TRUE(fs::exists(exe));
}

}  // namespace
}  // namespace platform
