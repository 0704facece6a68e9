// Conformance of the profile functions, written once: the Linux build runs it
// against our implementation, the Windows builds against the kernel's own
// functions (under Wine in CI). Tests state API behaviour only.
//
// WINE_DIFFERS(what, ...) holds a check of Windows behaviour that Wine 8 is
// known to get wrong: under Wine the check must fail, and a pass is reported
// as a failure ("Wine now behaves as Windows"), so a fixed Wine forces the
// marker out. Elsewhere the check must pass.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/path.h"
#include "platform/profile.h"
#include "testing/scratch_dir.h"

namespace platform {

bool RunningUnderWine();  // profile_host_test.cc of the platform's folder

namespace {

namespace fs = std::filesystem;

template <class Check>
void WineDiffers(const char* what, Check&& check) {
  if (!RunningUnderWine()) {
    check();
    return;
  }
  testing::TestPartResultArray results;
  {
    testing::ScopedFakeTestPartResultReporter reporter(
        testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
    check();
  }
  if (results.size() == 0) ADD_FAILURE() << "Wine now behaves as Windows: " << what;
}
#define WINE_DIFFERS(what, ...) WineDiffers(what, [&] { __VA_ARGS__; })

class ProfileConformance : public ::testing::Test {
 protected:
  void SetUp() override {
    native_ = testsupport::MakeScratchDir("profile_conf");
    ASSERT_FALSE(native_.empty());
#ifdef _WIN32
    base_ = native_;
#else
    AddPathMapping("T:", native_);
    base_ = "T:";
    fs::create_directories(native_ + "/windows");
    SetWindowsDirectory("T:\\windows");
#endif
    path_ = base_ + "\\test.ini";
  }
  void TearDown() override {
#ifndef _WIN32
    ClearPathMappings();
    SetWindowsDirectory("C:\\windows");
#endif
    std::error_code ec;
    fs::remove_all(native_, ec);
  }

  void WriteBytes(const std::string& bytes) {
    std::ofstream(native_ + "/test.ini", std::ios::binary) << bytes;
  }
  std::string ReadBytes() {
    std::ifstream in(native_ + "/test.ini", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  // A read with a sentinel-filled buffer: the bytes written, checked to stop
  // where the call says, with nothing touched past `size`.
  struct Read {
    uint32_t ret;
    std::string bytes;  // buffer[0 .. last written byte]
  };
  Read Get(const char* section, const char* key, const char* dflt, uint32_t size) {
    std::string buffer(size + 16, '\x0c');
    uint32_t ret = GetPrivateProfileStringA(section, key, dflt, buffer.data(), size, path_.c_str());
    size_t last = buffer.find_last_not_of('\x0c');
    EXPECT_TRUE(last == std::string::npos || last < size) << "wrote past nSize";
    return {ret, last == std::string::npos ? "" : buffer.substr(0, last + 1)};
  }
  std::string Value(const char* section, const char* key) {
    return Get(section, key, "dflt", 256).bytes.c_str();
  }

  std::string native_, base_, path_;
};

const char kFile[] =
    "[section1]\r\nname1=val1\r\nname2=\"val2\"\r\nname3\r\nname4=a\r\n[section2]\r\n";

TEST_F(ProfileConformance, ValueLookupRules) {
  WriteBytes(
      "[Sec]\r\nKey=MiXeD\r\n  spaced  =  in  ner  \r\nq='quoted'\r\ne=\r\neq=a=b\r\n"
      "dup=first\r\ndup=second\r\n;c=comment\r\nnoeq\r\n[Sec]\r\nlater=1\r\n");
  struct Row {
    const char* section;
    const char* key;
    const char* want;
  };
  const Row rows[] = {
      {"sec", "KEY", "MiXeD"},  {" Sec ", " spaced ", "in  ner"},
      {"Sec", "q", "quoted"},   {"Sec", "e", ""},
      {"Sec", "eq", "a=b"},     {"Sec", "dup", "first"},
      {"Sec", "c", "dflt"},     {"Sec", "noeq", "dflt"},
      {"Sec", "later", "dflt"}, {"none", "Key", "dflt"},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(testing::Message() << "row " << i);
    EXPECT_EQ(Value(rows[i].section, rows[i].key), rows[i].want);
  }
}

TEST_F(ProfileConformance, ValueTruncationAndSizes) {
  WriteBytes(kFile);
  const struct {
    uint32_t size;
    uint32_t ret;
    const char* bytes;
  } rows[] = {
      {5, 4, "val1"},
      {4, 3, "val"},
      {2, 1, "v"},
      {1, 0, ""},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(testing::Message() << "row " << i);
    Read r = Get("section1", "name1", "d", rows[i].size);
    EXPECT_EQ(r.ret, rows[i].ret);
    EXPECT_EQ(r.bytes, std::string(rows[i].bytes) + '\0');
  }
  Read untouched = Get("section1", "name1", "d", 0);
  EXPECT_EQ(untouched.ret, 0u);
  EXPECT_EQ(untouched.bytes, "");
}

TEST_F(ProfileConformance, DefaultText) {
  WriteBytes(kFile);
  const struct {
    const char* dflt;
    const char* want;
  } rows[] = {
      {"dflt   ", "dflt"}, {"  x  ", "  x"}, {"    ", " "}, {" ", " "},
      {"\"q\"", "q"},      {nullptr, ""},    {"", ""},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(testing::Message() << "row " << i);
    Read r = Get("section1", "missing", rows[i].dflt, 64);
    EXPECT_EQ(r.bytes, std::string(rows[i].want) + '\0');
    EXPECT_EQ(r.ret, strlen(rows[i].want));
  }
}

TEST_F(ProfileConformance, KeyAndSectionLists) {
  WriteBytes(kFile);
  Read keys = Get("section1", nullptr, "default", 64);
  EXPECT_EQ(keys.ret, 18u);
  EXPECT_EQ(keys.bytes, std::string("name1\0name2\0name4\0\0", 19));
  Read sections = Get(nullptr, nullptr, "default", 64);
  EXPECT_EQ(sections.ret, 18u);
  EXPECT_EQ(sections.bytes, std::string("section1\0section2\0\0", 19));
  Read none = Get("nosection", nullptr, "dflt", 64);
  EXPECT_EQ(none.ret, 4u);
  EXPECT_EQ(none.bytes, std::string("dflt\0", 5));
  // Cut lists, exactly fitting ones included, return nSize-2.
  for (uint32_t size : {19u, 18u, 16u}) {
    SCOPED_TRACE(testing::Message() << "size " << size);
    Read cut = Get("section1", nullptr, "default", size);
    EXPECT_EQ(cut.ret, size - 2);
    std::string list("name1\0name2\0name4\0", 18);
    WINE_DIFFERS("two NULs end a cut list",
                 EXPECT_EQ(cut.bytes, list.substr(0, size - 2) + std::string(2, '\0')));
  }
}

TEST_F(ProfileConformance, SectionListing) {
  WriteBytes("[s]\r\n  a  =  1  \r\nq=\"quoted\"\r\nnoeq\r\n;comment=1\r\n\r\nb=\r\n[t]\r\n");
  char buffer[64];
  memset(buffer, 0x0c, sizeof buffer);
  uint32_t ret = GetPrivateProfileSectionA("s", buffer, sizeof buffer, path_.c_str());
  EXPECT_EQ(std::string(buffer, ret + 1), std::string("a=1\0q=\"quoted\"\0noeq\0b=\0\0", 24));
  EXPECT_EQ(GetPrivateProfileSectionA("zz", buffer, sizeof buffer, path_.c_str()), 0u);
  EXPECT_EQ(std::string(buffer, 2), std::string(2, '\0'));
}

TEST_F(ProfileConformance, IntegerRule) {
  const struct {
    const char* stored;
    int dflt;
    uint32_t want;
  } rows[] = {
      {"42", 1, 42},   {"   42", 1, 42},      {"+7", 1, 7},         {"-7", 1, 4294967289u},
      {"0x10", 1, 16}, {"010", 1, 10},        {"42abc", 1, 42},     {"12.7", 1, 12},
      {"abc", 1, 0},   {"-", 1, 0},           {"4294967297", 1, 1}, {"\"12\"", 1, 12},
      {"", 5, 5},      {"", -1, 0xFFFFFFFFu},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(testing::Message() << "row " << i << " '" << rows[i].stored << "'");
    WriteBytes(std::string("[Test]\r\nProfileInt=") + rows[i].stored + "\r\n");
    EXPECT_EQ(GetPrivateProfileIntA("Test", "ProfileInt", rows[i].dflt, path_.c_str()),
              rows[i].want);
  }
  EXPECT_EQ(GetPrivateProfileIntA("Test", "missing", 9, path_.c_str()), 9u);
}

TEST_F(ProfileConformance, WritesBuildTheFile) {
  ASSERT_TRUE(WritePrivateProfileStringA("App1", "key1", "string1", path_.c_str()));
  EXPECT_EQ(ReadBytes(), "[App1]\r\nkey1=string1\r\n");
  ASSERT_TRUE(WritePrivateProfileStringA("App2", "key3", "string3", path_.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("app1", "KEY2", "string2", path_.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("APP1", "KEY1", "changed", path_.c_str()));
  EXPECT_EQ(ReadBytes(), "[App1]\r\nkey1=changed\r\nKEY2=string2\r\n[App2]\r\nkey3=string3\r\n");
  ASSERT_TRUE(WritePrivateProfileStringA("App1", "key1", nullptr, path_.c_str()));
  EXPECT_EQ(ReadBytes(), "[App1]\r\nKEY2=string2\r\n[App2]\r\nkey3=string3\r\n");
  ASSERT_TRUE(WritePrivateProfileStringA("App1", nullptr, "ignored", path_.c_str()));
  EXPECT_EQ(ReadBytes(), "[App2]\r\nkey3=string3\r\n");
  EXPECT_EQ(Value("App2", "key3"), "string3");
}

TEST_F(ProfileConformance, WriteFailuresAndNoOps) {
  std::string missing_dir = base_ + "\\no_such_dir\\x.ini";
  EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "v", missing_dir.c_str()));
  EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "k", "v", path_.c_str()));
  EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "v", ""));
  // Deleting in a missing file creates nothing.
  EXPECT_TRUE(WritePrivateProfileStringA("s", "k", nullptr, path_.c_str()));
  EXPECT_TRUE(WritePrivateProfileStringA("s", nullptr, nullptr, path_.c_str()));
  EXPECT_FALSE(fs::exists(native_ + "/test.ini"));
  WINE_DIFFERS("the all-NULL cache flush returns TRUE",
               EXPECT_TRUE(WritePrivateProfileStringA(nullptr, nullptr, nullptr, nullptr)));
}

TEST_F(ProfileConformance, KnownWineDifferencesInReading) {
  WriteBytes(
      "k0=before\r\n[a]b]\r\nk=ab\r\n[s]\r\n;k=comment\r\n[]\r\nk=empty\r\n[p]\r\nk=plain\r\n"
      "[u\r\nk=unclosed\r\n");
  WINE_DIFFERS("a header ends at its first ']'", EXPECT_EQ(Value("a", "k"), "ab"));
  WINE_DIFFERS("a ';' key is a comment", EXPECT_EQ(Value("s", ";k"), "dflt"));
  WINE_DIFFERS("section \"\" is the [] block", EXPECT_EQ(Value("", "k"), "empty"));
  WINE_DIFFERS("'[u' starts section u", EXPECT_EQ(Value("u", "k"), "unclosed"));
  WINE_DIFFERS("only spaces are trimmed from arguments", EXPECT_EQ(Value("\tp", "k"), "dflt"));
  WriteBytes("\xEF\xBB\xBF[s]\r\nk=v\r\n");
  WINE_DIFFERS("a UTF-8 BOM is part of line 1", EXPECT_EQ(Value("s", "k"), "dflt"));
}

TEST_F(ProfileConformance, KnownWineDifferencesInWriting) {
  ASSERT_TRUE(WritePrivateProfileStringA("  s  ", "  k  ", "  v  ", path_.c_str()));
  WINE_DIFFERS("names lose blanks on both sides; the value is written as given",
               EXPECT_EQ(ReadBytes(), "[s]\r\nk=  v  \r\n"));
  EXPECT_EQ(Value("s", "k"), "v");
  WriteBytes("[a]\r\nx=1\r\n[s]\r\n; about k\r\nk=v\r\n[b]\r\ny=2\r\n");
  ASSERT_TRUE(WritePrivateProfileStringA("s", nullptr, nullptr, path_.c_str()));
  WINE_DIFFERS("a deleted section leaves its comments",
               EXPECT_EQ(ReadBytes(), "[a]\r\nx=1\r\n; about k\r\n[b]\r\ny=2\r\n"));
}

TEST_F(ProfileConformance, WindowsDirectorySizes) {
  std::string dir = WindowsDirectory();
  ASSERT_FALSE(dir.empty());
  const uint32_t n = static_cast<uint32_t>(dir.size());
  char buffer[300];
  memset(buffer, 0x0c, sizeof buffer);
  EXPECT_EQ(GetWindowsDirectoryA(buffer, n + 1), n);
  EXPECT_EQ(std::string(buffer), dir);
  for (uint32_t size : {n, 3u, 0u}) {
    memset(buffer, 0x0c, sizeof buffer);
    EXPECT_EQ(GetWindowsDirectoryA(buffer, size), n + 1);
    EXPECT_EQ(buffer[0], '\x0c');
  }
}

TEST_F(ProfileConformance, WinIniCallsUseWinIni) {
  const char* kSection = "ProfileConformanceProbe";
  ASSERT_TRUE(WriteProfileStringA(kSection, "k", "v"));
  char buffer[64];
  EXPECT_EQ(GetProfileStringA(kSection, "k", "dflt", buffer, sizeof buffer), 1u);
  EXPECT_STREQ(buffer, "v");
  EXPECT_EQ(GetPrivateProfileStringA(kSection, "k", "dflt", buffer, sizeof buffer, "win.ini"), 1u);
  EXPECT_EQ(GetProfileIntA(kSection, "missing", 7), 7u);
  ASSERT_TRUE(WriteProfileStringA(kSection, "n", "0x20"));
  EXPECT_EQ(GetProfileIntA(kSection, "n", 7), 32u);
  ASSERT_TRUE(WriteProfileStringA(kSection, nullptr, nullptr));
  EXPECT_EQ(GetProfileStringA(kSection, "k", "gone", buffer, sizeof buffer), 4u);
}

}  // namespace
}  // namespace platform
