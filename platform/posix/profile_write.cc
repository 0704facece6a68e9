// POSIX back-end of platform/profile.h: WritePrivateProfileStringA.
//
// The file is opened through the platform's file layer (so a share-mode denial
// by another opener fails the write with 32, as on Windows), edited by
// ProfileText, and replaced atomically: the new bytes go to a temporary file
// in the same directory, which is flushed to disk and then renamed over the
// original. An interrupted write therefore leaves either the old file or the
// new one, never a cut one. The read-only attribute of Windows is a file
// without any write permission bit; it refuses the write even for root.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/file.h"
#include "platform/path.h"
#include "platform/posix/profile_io.h"
#include "platform/posix/profile_text.h"
#include "platform/profile.h"

namespace platform {
namespace {

std::string_view SpaceTrimmed(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

void SyncDirectory(const std::string& native_dir) {
  int fd = open(native_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

// The temporary file that replaces `target` (a path in the system's form, see
// PathFromNative): a hidden name in the same directory, unique to this process.
std::string TemporaryBeside(const std::string& target) {
  size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? "." : target.substr(0, slash);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  static unsigned counter = 0;
  return dir + "/." + base + "." + std::to_string(getpid()) + "-" + std::to_string(++counter) +
         ".tmp";
}

// Writes bytes to a fresh file beside native_target and renames it over the
// target. mode < 0: a new file, created with the default permissions. The file
// layer takes paths in the system's form, so the native names go back to it
// first (a directory named in UTF-8 would otherwise be encoded a second time).
bool ReplaceAtomically(const std::string& native_target, const std::string& bytes, int mode) {
  std::string target;
  if (!PathFromNative(native_target, &target)) return false;
  const std::string temp = TemporaryBeside(target);

  std::unique_ptr<File> f;
  if (!OpenFile(temp, Access::kWrite, Share::kExclusive, Disposition::kCreateNew, 0x80, &f).ok()) {
    return false;
  }
  bool ok = (bytes.empty() || f->WriteAt(0, bytes.data(), bytes.size()).ok()) && f->Flush().ok();
  f.reset();
  const std::string native_temp = MapPath(temp);
  if (ok && mode >= 0) ok = chmod(native_temp.c_str(), static_cast<mode_t>(mode)) == 0;
  if (ok) ok = RenameFile(temp, target).ok();
  if (!ok) {
    unlink(native_temp.c_str());
    return false;
  }
  size_t slash = native_target.rfind('/');
  SyncDirectory(slash == std::string::npos ? "."
                : slash == 0               ? "/"
                                           : native_target.substr(0, slash));
  return true;
}

}  // namespace

int32_t WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                   const char* file) {
  // All four NULL asks Windows to flush its cache; there is none here.
  if (section == nullptr) return key == nullptr && value == nullptr && file == nullptr;
  std::string path = ResolveProfilePath(file);
  if (path.empty()) return 0;
  std::string native = MapPath(path);
  if (native.empty()) return 0;

  struct stat st;
  bool exists = stat(native.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return 0;
  if (exists && (st.st_mode & 0222) == 0) return 0;

  std::string bytes;
  std::unique_ptr<File> held;  // open during the replacement, for the share check
  if (exists) {
    if (!OpenFile(path, Access::kReadWrite, Share::kDenyNone, Disposition::kOpenExisting, 0, &held)
             .ok()) {
      return 0;
    }
    std::optional<std::string> read = ReadWholeFile(*held);
    if (!read) return 0;
    bytes = std::move(*read);
    char resolved[PATH_MAX];
    if (realpath(native.c_str(), resolved) != nullptr) native = resolved;  // keep symlinks
  } else if (key == nullptr || value == nullptr) {
    return 1;  // nothing to delete, and no file is made for it
  }

  ProfileText text(std::move(bytes));
  std::string_view s = SpaceTrimmed(section);
  std::optional<std::string> out;
  if (key == nullptr) {
    out = text.DeleteSection(s);
  } else if (value == nullptr) {
    out = text.DeleteKey(s, SpaceTrimmed(key));
  } else {
    out = text.Set(s, SpaceTrimmed(key), value);
  }
  if (!out) return 1;
  return ReplaceAtomically(native, *out, exists ? static_cast<int>(st.st_mode & 07777) : -1);
}

uint32_t ProfileWriteObstacle(const char* file) {
  std::string path = ResolveProfilePath(file);
  if (path.empty()) return kErrorPathNotFound;
  std::string native = MapPath(path);
  if (native.empty()) return kErrorPathNotFound;
  struct stat st;
  if (stat(native.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode) || (st.st_mode & 0222) == 0) return kErrorAccessDenied;
    std::unique_ptr<File> held;
    OsStatus open =
        OpenFile(path, Access::kReadWrite, Share::kDenyNone, Disposition::kOpenExisting, 0, &held);
    if (!open.ok()) return open.code();
    char resolved[PATH_MAX];
    if (realpath(native.c_str(), resolved) != nullptr) native = resolved;
  }
  std::string target;
  if (!PathFromNative(native, &target)) return kErrorInvalidName;
  const std::string temp = TemporaryBeside(target);
  std::unique_ptr<File> probe;
  OsStatus made =
      OpenFile(temp, Access::kWrite, Share::kExclusive, Disposition::kCreateNew, 0x80, &probe);
  if (!made.ok()) return made.code();
  probe.reset();
  OsStatus removed = RemoveFile(temp);
  return removed.ok() ? 0 : removed.code();
}

std::optional<std::string> ReadWholeFile(File& file) {
  uint64_t size = 0;
  if (!file.Size(&size).ok()) return std::nullopt;
  std::string bytes(size, '\0');
  size_t got = 0;
  if (size > 0 && !file.ReadAt(0, bytes.data(), bytes.size(), &got).ok()) return std::nullopt;
  bytes.resize(got);
  return bytes;
}

}  // namespace platform
