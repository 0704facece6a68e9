// What stands in the way of a profile write, found without writing: each
// obstacle with its Windows code, and no file left behind by the probe. Also
// profile writes and reads in directories whose names are not ASCII, reached
// through Windows-1252 paths.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/profile.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class ProfileObstacleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/profile_obstacle_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    AddPathMapping("P:", dir_);
  }
  void TearDown() override {
    ClearPathMappings();
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }
  size_t Entries() const {
    size_t n = 0;
    for (auto& e : fs::recursive_directory_iterator(dir_)) n += e.is_regular_file();
    return n;
  }
  std::string dir_;
};

TEST_F(ProfileObstacleTest, EachObstacleHasItsCodeAndTheProbeLeavesNothing) {
  struct Case {
    const char* name;
    std::function<std::shared_ptr<void>(const std::string& dir)> setup;
    const char* path;
    uint32_t code;
    bool needs_non_root;  // root writes into any directory
  };
  auto file = [](const std::string& native) {
    std::ofstream(native, std::ios::binary) << "[2017]\r\ntarif=1\r\n";
  };
  const Case cases[] = {
      {"existing file",
       [&](const std::string& d) {
         file(d + "/Velmora.ini");
         return nullptr;
       },
       "P:\\Velmora.ini", 0, false},
      {"new file in an existing directory", [](const std::string&) { return nullptr; },
       "P:\\Velmora.ini", 0, false},
      {"read-only file",
       [&](const std::string& d) {
         file(d + "/Velmora.ini");
         chmod((d + "/Velmora.ini").c_str(), 0444);
         return nullptr;
       },
       "P:\\Velmora.ini", kErrorAccessDenied, false},
      {"directory of that name",
       [](const std::string& d) {
         fs::create_directory(d + "/Velmora.ini");
         return nullptr;
       },
       "P:\\Velmora.ini", kErrorAccessDenied, false},
      {"missing directory", [](const std::string&) { return nullptr; }, "P:\\doc01\\Velmora.ini",
       kErrorPathNotFound, false},
      {"another opener denies writing",
       [&](const std::string& d) -> std::shared_ptr<void> {
         file(d + "/Velmora.ini");
         std::unique_ptr<File> f;
         EXPECT_TRUE(OpenFile("P:\\Velmora.ini", Access::kRead, Share::kDenyWrite,
                              Disposition::kOpenExisting, 0, &f)
                         .ok());
         return std::shared_ptr<File>(f.release());
       },
       "P:\\Velmora.ini", kErrorSharingViolation, false},
      {"directory that takes no new file",
       [&](const std::string& d) {
         file(d + "/Velmora.ini");
         chmod(d.c_str(), 0555);
         return nullptr;
       },
       "P:\\Velmora.ini", kErrorAccessDenied, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_non_root && geteuid() == 0) continue;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
    fs::create_directory(dir_);
    std::shared_ptr<void> held = c.setup(dir_);
    const size_t before = Entries();
    EXPECT_EQ(ProfileWriteObstacle(c.path), c.code);
    EXPECT_EQ(Entries(), before);
    // The probe foretells the write.
    EXPECT_EQ(WritePrivateProfileStringA("2017", "index", "1", c.path) != 0, c.code == 0);
  }
}

TEST_F(ProfileObstacleTest, DirectoriesWithAccentedNames) {
  // "Cabinet médical\Dossier à jour" on disk in UTF-8, in the system in Windows-1252.
  fs::create_directories(dir_ +
                         "/Cabinet m\xc3\xa9"
                         "dical/Dossier \xc3\xa0 jour");
  const std::string path =
      "P:\\Cabinet m\xe9"
      "dical\\Dossier \xe0 jour\\Velmora.ini";
  EXPECT_EQ(ProfileWriteObstacle(path.c_str()), 0u);
  ASSERT_NE(WritePrivateProfileStringA("2017", "tarif", "1", path.c_str()), 0);
  char value[16] = {};
  GetPrivateProfileStringA("2017", "tarif", "", value, sizeof value, path.c_str());
  EXPECT_STREQ(value, "1");
  EXPECT_TRUE(fs::exists(dir_ + "/Cabinet m\xc3\xa9"
                                "dical/Dossier \xc3\xa0 jour/Velmora.ini"));
  EXPECT_NE(WritePrivateProfileStringA("2017", "index", "1", path.c_str()), 0);
  EXPECT_EQ(Entries(), 1u);  // no temporary file left anywhere

  // The same file named by its native path, brought to the system's form.
  std::string system;
  ASSERT_TRUE(PathFromNative(dir_ + "/Cabinet m\xc3\xa9"
                                    "dical/Dossier \xc3\xa0 jour/Velmora.ini",
                             &system));
  GetPrivateProfileStringA("2017", "index", "", value, sizeof value, system.c_str());
  EXPECT_STREQ(value, "1");
}

}  // namespace
}  // namespace platform
