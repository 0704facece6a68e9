// Replays testdata/ini/vectors.json (every call observed with the real profile
// API under Wine, with the file bytes before and after) against the POSIX
// profile functions. Where Windows is known to behave otherwise, or where this
// implementation deliberately differs, profile_vectors_windows.cc says what
// Windows (or we) do instead and why; every other case must match the
// recording byte for byte, output buffer sentinels included.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/cp1252.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/posix/profile_vectors_windows.h"
#include "platform/profile.h"
#include "testing/scratch_dir.h"

namespace platform {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// The vectors hold byte strings as latin1 text: one code point per byte.
std::string Bytes(const json& j) {
  const std::string utf8 = j.get<std::string>();
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = 0;
    EXPECT_TRUE(DecodeUtf8(utf8, &i, &cp) && cp <= 0xFF) << "not latin1: " << utf8;
    out.push_back(static_cast<char>(cp));
  }
  return out;
}

std::optional<std::string> OptBytes(const json& j) {
  if (j.is_null()) return std::nullopt;
  return Bytes(j);
}

const json& Vectors() {
  static const json v = [] {
    std::ifstream in(PROJECT_TESTDATA_DIR "/ini/vectors.json");
    return json::parse(in);
  }();
  return v;
}

std::vector<std::string> CaseNames() {
  std::vector<std::string> names;
  for (const json& c : Vectors()) {
    if (c["group"] != "meta") names.push_back(c["name"]);
  }
  return names;
}

class ProfileVectors : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    root_ = testsupport::MakeScratchDir("profile_vectors");
    ASSERT_FALSE(root_.empty());
    fs::create_directories(root_ + "/iniprobe/sub");
    fs::create_directories(root_ + "/iniprobe/mapdir");
    fs::create_directories(root_ + "/windows");
    old_cwd_ = fs::current_path();
    AddPathMapping("C:", root_);
    SetWindowsDirectory("C:\\windows");
    ASSERT_TRUE(SetCurrentDirectory("C:\\iniprobe"));
  }
  void TearDown() override {
    held_.clear();
    fs::current_path(old_cwd_);
    ClearPathMappings();
    SetWindowsDirectory("C:\\windows");
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add);
    std::error_code ec;
    for (auto& e : fs::recursive_directory_iterator(root_, ec)) {
      fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(root_);
  }

  void PutFile(const std::string& native, const std::optional<std::string>& bytes) {
    fs::remove_all(native);
    if (!bytes) return;
    if (*bytes == "<directory>") {
      fs::create_directories(native);
      return;
    }
    std::ofstream(native, std::ios::binary) << *bytes;
  }

  void ExpectFile(const std::string& native, const std::optional<std::string>& want) {
    if (!want) {
      EXPECT_FALSE(fs::exists(native)) << native;
    } else if (*want == "<directory>") {
      EXPECT_TRUE(fs::is_directory(native));
    } else {
      std::ifstream in(native, std::ios::binary);
      std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_EQ(testing::PrintToString(got), testing::PrintToString(*want));
    }
  }

  void RunAction(const json& step, const std::string& windows_file, const std::string& native) {
    const std::string action = step["action"];
    if (action == "external_write") {
      struct stat st;
      stat(native.c_str(), &st);
      PutFile(native, Bytes(step["file_bytes_after"]));
      if (step["keep_mtime"].get<bool>()) {
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        utimensat(AT_FDCWD, native.c_str(), times, 0);
      }
    } else if (action == "set_mtime_to_past") {
      struct timeval tv[2];
      gettimeofday(&tv[0], nullptr);
      tv[0].tv_sec -= step["seconds_ago"].get<long>();
      tv[1] = tv[0];
      utimes(native.c_str(), tv);
    } else if (action == "external_delete") {
      fs::remove(native);
    } else if (action == "set_readonly_attribute") {
      fs::permissions(native,
                      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                      fs::perm_options::remove);
    } else if (action == "hold_open_handle") {
      // Another program's handle: its share mode is what the write must respect.
      const std::string mode = step["mode"];
      Share share =
          mode.find("share 0") != std::string::npos ? Share::kExclusive : Share::kDenyWrite;
      std::unique_ptr<File> f;
      ASSERT_TRUE(
          OpenFile(windows_file, Access::kRead, share, Disposition::kOpenExisting, 0, &f).ok());
      held_.push_back(std::move(f));
    } else if (action == "close_held_handles") {
      held_.clear();
    } else if (action == "sleep_ms") {
      // Nothing is cached here, so waiting changes nothing; the step is skipped.
    } else {
      FAIL() << "unknown action " << action;
    }
  }

  void RunCall(const json& step, size_t index) {
    const json& call = step["call"];
    const std::string fn = call["fn"];
    const json& a = call["args"];
    auto str = [&](const char* name) -> std::optional<std::string> {
      if (!a.contains(name) || a[name].is_null()) return std::nullopt;
      return Bytes(a[name]);
    };
    auto ptr = [](const std::optional<std::string>& s) { return s ? s->c_str() : nullptr; };
    std::optional<std::string> section = str("section"), key = str("key"), file = str("file"),
                               value = str("string");
    SCOPED_TRACE(testing::Message() << "step " << index << ": " << fn << " " << a.dump());

    const uint64_t want_return = step["expected_return"].get<uint64_t>();
    if (fn == "GetPrivateProfileIntA" || fn == "GetProfileIntA") {
      int32_t dflt = a["default"].get<int32_t>();
      uint32_t got = fn == "GetProfileIntA"
                         ? GetProfileIntA(ptr(section), ptr(key), dflt)
                         : GetPrivateProfileIntA(ptr(section), ptr(key), dflt, ptr(file));
      EXPECT_EQ(got, want_return);
      return;
    }
    if (fn == "WritePrivateProfileStringA" || fn == "WriteProfileStringA") {
      int32_t got = fn == "WriteProfileStringA"
                        ? WriteProfileStringA(ptr(section), ptr(key), ptr(value))
                        : WritePrivateProfileStringA(ptr(section), ptr(key), ptr(value), ptr(file));
      EXPECT_EQ(static_cast<uint64_t>(got), want_return);
      return;
    }
    const uint32_t size = a["size"].get<uint32_t>();
    std::string buffer(size + 64, '\xCC');
    uint32_t got = 0;
    if (fn == "GetPrivateProfileStringA") {
      std::optional<std::string> dflt = str("default");
      got = GetPrivateProfileStringA(ptr(section), ptr(key), ptr(dflt), buffer.data(), size,
                                     ptr(file));
    } else if (fn == "GetProfileStringA") {
      std::optional<std::string> dflt = str("default");
      got = GetProfileStringA(ptr(section), ptr(key), ptr(dflt), buffer.data(), size);
    } else if (fn == "GetPrivateProfileSectionA") {
      got = GetPrivateProfileSectionA(ptr(section), buffer.data(), size, ptr(file));
    } else if (fn == "GetPrivateProfileSectionNamesA") {
      got = GetPrivateProfileSectionNamesA(buffer.data(), size, ptr(file));
    } else if (fn == "GetWindowsDirectoryA") {
      got = GetWindowsDirectoryA(buffer.data(), size);
    } else {
      FAIL() << "unknown function " << fn;
    }
    EXPECT_EQ(got, want_return);
    // The bytes the call wrote, then the untouched sentinel up to the end.
    std::string want = Bytes(step["expected_buffer"]);
    want.resize(buffer.size(), '\xCC');
    EXPECT_EQ(testing::PrintToString(buffer), testing::PrintToString(want));
  }

  std::string root_;
  fs::path old_cwd_;
  std::vector<std::unique_ptr<File>> held_;
};

TEST_P(ProfileVectors, MatchesWindows) {
  json c;
  for (const json& v : Vectors()) {
    if (v["name"] == GetParam()) c = v;
  }
  ASSERT_FALSE(c.is_null());
  std::string skip_reason;
  ApplyWindowsExpectations(GetParam(), &c, &skip_reason);
  if (!skip_reason.empty()) GTEST_SKIP() << skip_reason;
  if (std::string why = FollowingWineReason(GetParam()); !why.empty()) {
    RecordProperty("follows_wine", why);
  }

  const std::string windows_file = c["file"];
  const std::string native = MapPath(windows_file);
  if (c.contains("file_bytes_before")) PutFile(native, OptBytes(c["file_bytes_before"]));

  const json& steps = c["steps"];
  for (size_t i = 0; i < steps.size(); ++i) {
    const json& step = steps[i];
    if (step.contains("action")) {
      RunAction(step, windows_file, native);
      continue;
    }
    RunCall(step, i);
    if (step.contains("file_bytes_after")) {
      SCOPED_TRACE(testing::Message() << "file after step " << i);
      ExpectFile(native, OptBytes(step["file_bytes_after"]));
    }
  }
}

TEST(ProfileVectorsList, EveryListedCaseExists) {
  std::vector<std::string> all = CaseNames();
  for (const std::string& name : ListedVectorCases()) {
    EXPECT_NE(std::find(all.begin(), all.end(), name), all.end()) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(All, ProfileVectors, testing::ValuesIn(CaseNames()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string n = info.param;
                           for (char& ch : n) {
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return n;
                         });

}  // namespace
}  // namespace platform
