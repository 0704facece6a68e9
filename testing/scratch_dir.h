// Scratch directories for tests: every one new and empty, whatever else runs meanwhile.
//
// ctest runs several test programs at once and the same program twice (one process per
// test), so a name made of a pointer, a seed or a test name can come up twice. The name here
// carries random bits and the directory is created by one mkdir that fails when the name is
// taken (then another name is tried), so no two processes ever share a directory and none
// starts in another's leftovers.
#pragma once

#include <string>
#include <string_view>

namespace testsupport {

// Creates <temp>/<prefix>-<random> and gives its path (no trailing separator); "" when no
// directory could be made (the caller's ASSERT says so).
std::string MakeScratchDir(std::string_view prefix);

// A scratch directory removed with its contents at the end of the scope.
class ScratchDir {
 public:
  explicit ScratchDir(std::string_view prefix = "scratch") : path_(MakeScratchDir(prefix)) {}
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace testsupport
