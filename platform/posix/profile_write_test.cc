// Byte-level checks of profile writes on a practice-style file (comments,
// blank lines, odd spacing, tabs, other sections, Windows-1252 text) with CRLF,
// LF and CR line ends: each write changes only its target line, or adds one
// line, or a section at the end; every other byte stays. Also the crash-safe
// replacement: a failed write leaves the file as it was and nothing beside it.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "gtest/gtest.h"
#include "platform/file_faults.h"
#include "platform/path.h"
#include "platform/profile.h"
#include "testing/scratch_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const std::string& native) {
  std::ifstream in(native, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string WithLineEnds(std::string crlf_text, const std::string& nl) {
  std::string out;
  for (size_t i = 0; i < crlf_text.size(); ++i) {
    if (crlf_text.compare(i, 2, "\r\n") == 0) {
      out += nl;
      ++i;
    } else {
      out += crlf_text[i];
    }
  }
  return out;
}

class ProfileWriteTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeScratchDir("profile_write");
    ASSERT_FALSE(dir_.empty());
    AddPathMapping("P:", dir_);
    native_ = dir_ + "/Velmora.ini";
    path_ = "P:\\Velmora.ini";
    nl_ = GetParam();
    original_ = WithLineEnds(Slurp(PROJECT_TESTDATA_DIR "/ini/practice.ini"), nl_);
    ASSERT_FALSE(original_.empty());
    std::ofstream(native_, std::ios::binary) << original_;
  }
  void TearDown() override {
    ClearPathMappings();
    fs::remove_all(dir_);
  }
  // The original with `find` (which must occur once) replaced.
  std::string Changed(std::string find, std::string replace) {
    find = WithLineEnds(find, nl_);
    replace = WithLineEnds(replace, nl_);
    size_t at = original_.find(find);
    EXPECT_NE(at, std::string::npos) << find;
    EXPECT_EQ(original_.find(find, at + 1), std::string::npos) << find;
    return original_.substr(0, at) + replace + original_.substr(at + find.size());
  }
  std::string Now() { return Slurp(native_); }
  size_t FilesInDir() {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {}));
  }

  std::string dir_, native_, path_, nl_, original_;
};

TEST_P(ProfileWriteTest, ChangingAValueRewritesOnlyItsLine) {
  ASSERT_TRUE(WritePrivateProfileStringA("2017", "tarif", "1", path_.c_str()));
  EXPECT_EQ(Now(), Changed("  tarif  =  0  \r\n", "tarif=1\r\n"));
  ASSERT_TRUE(WritePrivateProfileStringA("cabinet", "VILLE", "Paris", path_.c_str()));
  std::string want = Changed("  tarif  =  0  \r\n", "tarif=1\r\n");
  want.replace(want.find("\tVille\t=\tLyon"), 13, "Ville=Paris");
  EXPECT_EQ(Now(), want);
}

TEST_P(ProfileWriteTest, NewKeyIsOneLineAfterTheSectionsLastEntry) {
  ASSERT_TRUE(WritePrivateProfileStringA("2017", "index", "1", path_.c_str()));
  EXPECT_EQ(Now(), Changed("  tarif  =  0  \r\n; index", "  tarif  =  0  \r\nindex=1\r\n; index"));
}

TEST_P(ProfileWriteTest, NewSectionGoesAtTheEnd) {
  ASSERT_TRUE(WritePrivateProfileStringA("2018", "tarif", "1", path_.c_str()));
  EXPECT_EQ(Now(), original_ + WithLineEnds("[2018]\r\ntarif=1\r\n", nl_));
}

TEST_P(ProfileWriteTest, DeletionsRemoveOnlyTheirLines) {
  ASSERT_TRUE(WritePrivateProfileStringA("Cabinet", "Nom", nullptr, path_.c_str()));
  std::string want = Changed(
      "Nom=Cabinet du Dr M\xe9"
      "decin\r\n",
      "");
  EXPECT_EQ(Now(), want);
  ASSERT_TRUE(WritePrivateProfileStringA("Path", nullptr, nullptr, path_.c_str()));
  std::string section =
      WithLineEnds("[Path]\r\nCommun=C:\\VELMORA\\DATA\\\r\nSauvegarde =  D:\\SAUVE\\ \r\n", nl_);
  want.erase(want.find(section), section.size());
  EXPECT_EQ(Now(), want);
}

TEST_P(ProfileWriteTest, WindowsTextIsWrittenAsBytes) {
  ASSERT_TRUE(WritePrivateProfileStringA("Cabinet", "Nom",
                                         "Dr \xc9"
                                         "lise \x80",
                                         path_.c_str()));
  EXPECT_EQ(Now(), Changed("Nom=Cabinet du Dr M\xe9"
                           "decin",
                           "Nom=Dr \xc9"
                           "lise \x80"));
  char buffer[64];
  GetPrivateProfileStringA("CABINET", "nom", "", buffer, sizeof buffer, path_.c_str());
  EXPECT_STREQ(buffer,
               "Dr \xc9"
               "lise \x80");
}

TEST_P(ProfileWriteTest, SameValueLeavesTheFileAlone) {
  struct stat before, after;
  ASSERT_EQ(stat(native_.c_str(), &before), 0);
  ASSERT_TRUE(WritePrivateProfileStringA("options", "laptop", "0", path_.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("options", "absent", nullptr, path_.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("absent", nullptr, nullptr, path_.c_str()));
  ASSERT_EQ(stat(native_.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);  // not even replaced by an equal copy
  EXPECT_EQ(Now(), original_);
}

TEST_P(ProfileWriteTest, FileWithoutFinalLineEnd) {
  original_.erase(original_.size() - nl_.size());
  std::ofstream(native_, std::ios::binary | std::ios::trunc) << original_;
  ASSERT_TRUE(WritePrivateProfileStringA("options", "new", "1", path_.c_str()));
  EXPECT_EQ(Now(), original_ + nl_ + "new=1" + nl_);
}

TEST_P(ProfileWriteTest, FailedWriteLeavesTheFileAsItWas) {
  const struct {
    const char* what;
    FaultPlan plan;
  } faults[] = {
      {"the first write fails",
       [] {
         FaultPlan p;
         p.fail_write_at = 1;
         return p;
       }()},
      {"every write fails",
       [] {
         FaultPlan p;
         p.fail_write_at = 1;
         p.persistent = true;
         return p;
       }()},
      {"the temporary file cannot be made",
       [] {
         FaultPlan p;
         p.fail_open_at = 2;
         return p;
       }()},
      {"the original cannot be opened",
       [] {
         FaultPlan p;
         p.fail_open_at = 1;
         p.open_code = 32;
         return p;
       }()},
  };
  for (const auto& f : faults) {
    SCOPED_TRACE(f.what);
    FaultPlan plan = f.plan;
    {
      FaultScope scope(&plan);
      EXPECT_FALSE(WritePrivateProfileStringA("2017", "tarif", "1", path_.c_str()));
    }
    EXPECT_EQ(Now(), original_);
    EXPECT_EQ(FilesInDir(), 1u) << "a temporary file was left behind";
  }
  ASSERT_TRUE(WritePrivateProfileStringA("2017", "tarif", "1", path_.c_str()));
  EXPECT_EQ(FilesInDir(), 1u);
}

TEST_P(ProfileWriteTest, ReplacementKeepsModeAndSymlinks) {
  ASSERT_EQ(chmod(native_.c_str(), 0640), 0);
  fs::create_symlink(native_, dir_ + "/link.ini");
  ASSERT_TRUE(WritePrivateProfileStringA("2017", "tarif", "1", "P:\\link.ini"));
  EXPECT_TRUE(fs::is_symlink(dir_ + "/link.ini"));
  EXPECT_EQ(Now(), Changed("  tarif  =  0  ", "tarif=1"));
  struct stat st;
  ASSERT_EQ(stat(native_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_P(ProfileWriteTest, ReadOnlyFileIsRefusedEvenForRoot) {
  ASSERT_EQ(chmod(native_.c_str(), 0444), 0);
  EXPECT_FALSE(WritePrivateProfileStringA("2017", "tarif", "1", path_.c_str()));
  EXPECT_EQ(Now(), original_);
}

INSTANTIATE_TEST_SUITE_P(LineEnds, ProfileWriteTest, ::testing::Values("\r\n", "\n", "\r"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           std::string n = info.param;
                           return n == "\r\n" ? std::string("Crlf")
                                  : n == "\n" ? std::string("Lf")
                                              : std::string("Cr");
                         });

TEST(ProfileUtf16Test, WriteKeepsTheEncodingAndOtherBytes) {
  testsupport::ScratchDir scratch("profile_utf16");
  ASSERT_FALSE(scratch.path().empty());
  const std::string& dir = scratch.path();
  AddPathMapping("P:", dir);
  // "[s]\r\n k = v \r\n" in UTF-16LE with a BOM, plus a character outside Windows-1252.
  std::string file("\xFF\xFE[\0s\0]\0\r\0\n\0 \0k\0 \0=\0 \0v\0 \0\r\0\n\0;\0\x42\x04\r\0\n\0", 36);
  std::ofstream(dir + "/u.ini", std::ios::binary) << file;
  ASSERT_TRUE(WritePrivateProfileStringA("s", "n", "\xe9", "P:\\u.ini"));
  EXPECT_EQ(Slurp(dir + "/u.ini"),
            file.substr(0, 30) + std::string("n\0=\0\xe9\0\r\0\n\0", 10) + file.substr(30));
  char buffer[16];
  GetPrivateProfileStringA("s", "k", "", buffer, sizeof buffer, "P:\\u.ini");
  EXPECT_STREQ(buffer, "v");
  ClearPathMappings();
}

}  // namespace
}  // namespace platform
