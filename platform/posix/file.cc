// POSIX back-end of platform/file.h.
//
// Locks are open-file-description locks (F_OFD_SETLK), which belong to the open
// file like Windows handle locks and conflict between two File objects of one
// process. Windows refuses a lock overlapping one the same handle already holds
// and unlocks only exact ranges; each File keeps the list of its ranges so both
// rules hold here too.
//
// Share modes are emulated with shared OFD locks on four bytes at the top of the
// offset space, far above every lock scheme of the table service: an opener
// announces its access (read, write) and its denials (read, write) there and
// first tests the bytes of the opposite meaning held by other openers. Only
// programs using this layer see those denials.
#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_faults.h"
#include "platform/path.h"
#include "platform/posix/file_errno.h"

namespace platform {
namespace {

constexpr off_t kShareBase = 0x7FFFFFFFFFFFFF00;
constexpr off_t kHasRead = kShareBase + 0, kHasWrite = kShareBase + 1, kDeniesRead = kShareBase + 2,
                kDeniesWrite = kShareBase + 3, kOpenGate = kShareBase + 4;
constexpr uint64_t kMaxLockEnd = 0x7FFFFFFFFFFFFF00;  // keep clear of the share bytes

bool SetOfdLock(int fd, short type, off_t start, off_t len, bool wait) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = len;
  int rc;
  do {
    rc = fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

// True when another open file description holds a lock on byte `at`.
bool HeldElsewhere(int fd, off_t at) {
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = at;
  fl.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

struct HeldRange {
  uint64_t offset;
  uint64_t length;
};

class PosixFile final : public File {
 public:
  PosixFile(int fd, Access access) : fd_(fd), access_(access) {}
  ~PosixFile() override { close(fd_); }

  OsStatus ReadAt(uint64_t offset, void* buffer, size_t n, size_t* got) override {
    *got = 0;
    if (uint32_t code = FaultCheck(FaultOp::kRead)) return OsStatus(code);
    if (access_ == Access::kWrite) return OsStatus(kErrorAccessDenied);
    char* p = static_cast<char*>(buffer);
    while (*got < n) {
      ssize_t r = pread(fd_, p + *got, n - *got, static_cast<off_t>(offset + *got));
      if (r < 0) {
        if (errno == EINTR) continue;
        return OsStatus(OsCodeFromErrno(errno));
      }
      if (r == 0) break;
      *got += static_cast<size_t>(r);
    }
    return OsStatus::Ok();
  }

  OsStatus WriteAt(uint64_t offset, const void* data, size_t n) override {
    if (uint32_t code = FaultCheck(FaultOp::kWrite)) return OsStatus(code);
    if (access_ == Access::kRead) return OsStatus(kErrorAccessDenied);
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < n) {
      ssize_t r = pwrite(fd_, p + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        return OsStatus(OsCodeFromErrno(errno));
      }
      done += static_cast<size_t>(r);
    }
    return OsStatus::Ok();
  }

  OsStatus Size(uint64_t* size) override {
    struct stat st;
    if (fstat(fd_, &st) != 0) return OsStatus(OsCodeFromErrno(errno));
    *size = static_cast<uint64_t>(st.st_size);
    return OsStatus::Ok();
  }

  OsStatus Truncate(uint64_t size) override {
    if (uint32_t code = FaultCheck(FaultOp::kWrite)) return OsStatus(code);
    if (access_ == Access::kRead) return OsStatus(kErrorAccessDenied);
    if (ftruncate(fd_, static_cast<off_t>(size)) != 0) return OsStatus(OsCodeFromErrno(errno));
    return OsStatus::Ok();
  }

  OsStatus Flush() override {
    if (access_ == Access::kRead) return OsStatus::Ok();
    if (fdatasync(fd_) != 0) return OsStatus(OsCodeFromErrno(errno));
    return OsStatus::Ok();
  }

  OsStatus Lock(uint64_t offset, uint64_t length, LockKind kind, bool wait) override {
    if (uint32_t code = FaultCheck(FaultOp::kLock)) return OsStatus(code);
    if (length == 0 || offset >= kMaxLockEnd || length > kMaxLockEnd - offset) {
      return OsStatus(kErrorInvalidParameter);
    }
    for (const HeldRange& r : held_) {
      if (offset < r.offset + r.length && r.offset < offset + length) {
        return OsStatus(kErrorLockViolation);
      }
    }
    short type = kind == LockKind::kShared ? F_RDLCK : F_WRLCK;
    if (!SetOfdLock(fd_, type, static_cast<off_t>(offset), static_cast<off_t>(length), wait)) {
      int e = errno;
      if (e == EAGAIN || e == EACCES || e == EDEADLK) return OsStatus(kErrorLockViolation);
      return OsStatus(OsCodeFromErrno(e));
    }
    held_.push_back({offset, length});
    return OsStatus::Ok();
  }

  OsStatus Unlock(uint64_t offset, uint64_t length) override {
    for (size_t i = 0; i < held_.size(); ++i) {
      if (held_[i].offset == offset && held_[i].length == length) {
        SetOfdLock(fd_, F_UNLCK, static_cast<off_t>(offset), static_cast<off_t>(length), false);
        held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(i));
        return OsStatus::Ok();
      }
    }
    return OsStatus(kErrorNotLocked);
  }

 private:
  int fd_;
  Access access_;
  std::vector<HeldRange> held_;
};

// Checks the other openers' announcements and makes ours; 0 or 32.
uint32_t ClaimShare(int fd, Access access, Share share) {
  bool reads = access != Access::kWrite;
  bool writes = access != Access::kRead;
  bool deny_read = share == Share::kExclusive;
  bool deny_write = share != Share::kDenyNone;
  // The gate makes test-and-announce one step between cooperating openers.
  // Cooperating openers hold it for microseconds; another program's lock over
  // the whole file (lockf) covers it too: a bounded wait, then a lock error.
  const auto deadline = std::chrono::steady_clock::now() + LockPatience();
  std::chrono::microseconds nap{100};
  bool gated = SetOfdLock(fd, F_WRLCK, kOpenGate, 1, false);
  while (!gated) {
    if (errno != EAGAIN && errno != EACCES) break;  // no locks here at all: go on ungated
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return kErrorLockViolation;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(nap, deadline - now));
    nap = std::min(nap * 2, std::chrono::microseconds{10000});
    gated = SetOfdLock(fd, F_WRLCK, kOpenGate, 1, false);
  }
  uint32_t result = 0;
  if ((reads && HeldElsewhere(fd, kDeniesRead)) || (writes && HeldElsewhere(fd, kDeniesWrite)) ||
      (deny_read && HeldElsewhere(fd, kHasRead)) || (deny_write && HeldElsewhere(fd, kHasWrite))) {
    result = kErrorSharingViolation;
  } else {
    if (reads) SetOfdLock(fd, F_RDLCK, kHasRead, 1, false);
    if (writes) SetOfdLock(fd, F_RDLCK, kHasWrite, 1, false);
    if (deny_read) SetOfdLock(fd, F_RDLCK, kDeniesRead, 1, false);
    if (deny_write) SetOfdLock(fd, F_RDLCK, kDeniesWrite, 1, false);
  }
  if (gated) SetOfdLock(fd, F_UNLCK, kOpenGate, 1, false);
  return result;
}

// Opens the native path; with claim, the share modes are checked and announced.
OsStatus OpenNative(const std::string& native, Access access, Share share, Disposition disposition,
                    uint32_t attributes, bool claim, std::unique_ptr<File>* out) {
  int create_flags = 0;
  switch (disposition) {
    case Disposition::kOpenExisting:
      break;
    case Disposition::kCreateAlways:
      create_flags = O_CREAT;
      break;
    case Disposition::kCreateNew:
      create_flags = O_CREAT | O_EXCL;
      break;
    case Disposition::kOpenAlways:
      create_flags = O_CREAT;
      break;
  }
  mode_t mode = (attributes & 0x01) ? 0444 : 0666;  // FILE_ATTRIBUTE_READONLY
  // Read-write where the file allows it: exclusive byte-range locks need a
  // writable descriptor on Linux, while Windows grants them on any handle.
  // Access itself is enforced by PosixFile.
  // A directory refuses to open for writing (EISDIR: "access denied", as
  // Windows says); the read-only retry looks at what it opened.
  int fd = open(native.c_str(), O_RDWR | O_CLOEXEC | create_flags, mode);
  if (fd < 0 && (errno == EACCES || errno == EROFS) && access == Access::kRead) {
    fd = open(native.c_str(), O_RDONLY | O_CLOEXEC | create_flags, mode);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      close(fd);
      return OsStatus(kErrorAccessDenied);
    }
  }
  if (fd < 0) return OsStatus(OsCodeFromErrnoForPath(errno, native));

  if (uint32_t code = claim ? ClaimShare(fd, access, share) : 0) {
    close(fd);
    return OsStatus(code);
  }
  if (disposition == Disposition::kCreateAlways) {
    if (access == Access::kRead) {
      close(fd);
      return OsStatus(kErrorAccessDenied);
    }
    if (ftruncate(fd, 0) != 0) {
      int e = errno;
      close(fd);
      return OsStatus(OsCodeFromErrno(e));
    }
  }
  *out = std::make_unique<PosixFile>(fd, access);
  return OsStatus::Ok();
}

}  // namespace

OsStatus OpenFile(std::string_view path, Access access, Share share, Disposition disposition,
                  uint32_t attributes, std::unique_ptr<File>* out) {
  out->reset();
  if (uint32_t code = FaultCheck(FaultOp::kOpen)) return OsStatus(code);
  std::string native = MapPath(path);
  if (native.empty()) return OsStatus(kErrorPathNotFound);
  return OpenNative(native, access, share, disposition, attributes, true, out);
}

OwnFilePath::OwnFilePath(std::string_view path) : path_(path), mapped_(MapPath(path)) {}

OsStatus OpenOwnFile(const OwnFilePath& path, Access access, Disposition disposition,
                     uint32_t attributes, std::unique_ptr<File>* out) {
  out->reset();
  if (uint32_t code = FaultCheck(FaultOp::kOpen)) return OsStatus(code);
  if (path.mapped().empty()) return OsStatus(kErrorPathNotFound);
  return OpenNative(path.mapped(), access, Share::kDenyNone, disposition, attributes, false, out);
}

OsStatus RemoveOwnFile(const OwnFilePath& path) {
  if (unlink(path.mapped().c_str()) != 0) {
    int e = errno;
    return OsStatus(e == EISDIR ? kErrorAccessDenied : OsCodeFromErrnoForPath(e, path.mapped()));
  }
  return OsStatus::Ok();
}

OsStatus RemoveFile(std::string_view path) {
  std::string native = MapPath(path);
  struct stat st;
  if (stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return OsStatus(kErrorAccessDenied);
  if (unlink(native.c_str()) != 0) return OsStatus(OsCodeFromErrnoForPath(errno, native));
  return OsStatus::Ok();
}

OsStatus RenameFile(std::string_view from, std::string_view to) {
  std::string src = MapPath(from);
  std::string dst = MapPath(to);
  if (rename(src.c_str(), dst.c_str()) != 0) return OsStatus(OsCodeFromErrnoForPath(errno, src));
  return OsStatus::Ok();
}

bool FileExists(std::string_view path) {
  struct stat st;
  return stat(MapPath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(std::string_view path) {
  struct stat st;
  return stat(MapPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace platform
