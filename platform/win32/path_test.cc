// Directory names that end in blanks, as paths built from untrimmed codes
// carry them, reach the directory Windows made without the blanks.
#include "platform/path.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/file.h"

namespace platform {
namespace {

std::string TempDir() {
  char buffer[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof buffer, buffer);
  std::string dir(buffer, n);
  dir += "pathmap" + std::to_string(GetCurrentProcessId()) + "\\";
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

TEST(Win32MapPath, TrailingBlanksOfDirectoryNames) {
  std::string base = TempDir();
  ASSERT_TRUE(CreateDirectoryA((base + "doc01").c_str(), nullptr));
  EXPECT_EQ(MapPath(base + "doc01 \\tarif.dbf"), base + "doc01\\tarif.dbf");
  EXPECT_EQ(MapPath(base + "doc01 . \\x"), base + "doc01\\x");
  EXPECT_EQ(MapPath(base + "doc01\\tarif.dbf"), base + "doc01\\tarif.dbf");
  // Nothing to match: unchanged.
  EXPECT_EQ(MapPath(base + "doc02 \\x"), base + "doc02 \\x");
  EXPECT_EQ(MapPath("\\\\server \\share \\x"), "\\\\server \\share \\x");

  std::unique_ptr<File> f;
  ASSERT_TRUE(OpenFile(base + "doc01 \\t.txt", Access::kReadWrite, Share::kDenyNone,
                       Disposition::kCreateAlways, 0x80, &f)
                  .ok());
  f.reset();
  EXPECT_NE(GetFileAttributesA((base + "doc01\\t.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  DeleteFileA((base + "doc01\\t.txt").c_str());
  RemoveDirectoryA((base + "doc01").c_str());
  RemoveDirectoryA(base.c_str());
}

}  // namespace
}  // namespace platform
