// Files and byte-range locks, the only door from the system to the OS's files.
//
// Paths are Windows paths (mapped by MapPath on Linux). Every failure carries a
// Windows error code (os_error.h). Locks follow Windows semantics on both
// back-ends: they belong to the open File object (Linux uses open-file-
// description locks), conflict between two File objects even in one process,
// and are mandatory for other programs on Windows only. A File is used by one
// thread at a time.
//
// Fault injection: tests install a FaultPlan that fails the n-th write, lock,
// read or open with a chosen error code (see file_faults.h).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/os_error.h"

namespace platform {

enum class Access { kRead, kWrite, kReadWrite };
enum class Share { kExclusive, kDenyWrite, kDenyNone };
enum class Disposition {
  kOpenExisting,  // fail with 2 (file) or 3 (path) when missing
  kCreateAlways,  // create or truncate
  kCreateNew,     // fail with 80 when it exists
  kOpenAlways,    // open or create
};
enum class LockKind { kShared, kExclusive };

class File {
 public:
  virtual ~File() = default;
  // Reads up to n bytes at offset; *got receives the count (short at end of file).
  virtual OsStatus ReadAt(uint64_t offset, void* buffer, size_t n, size_t* got) = 0;
  virtual OsStatus WriteAt(uint64_t offset, const void* data, size_t n) = 0;
  virtual OsStatus Size(uint64_t* size) = 0;
  virtual OsStatus Truncate(uint64_t size) = 0;
  virtual OsStatus Flush() = 0;
  // Non-blocking unless wait is true; a conflict gives kErrorLockViolation.
  virtual OsStatus Lock(uint64_t offset, uint64_t length, LockKind kind, bool wait) = 0;
  virtual OsStatus Unlock(uint64_t offset, uint64_t length) = 0;
};

// A file seen through another that it owns: every call passes through.
// Views that change a few calls (journalling, counting, refusing) derive
// from it and override those.
class FileView : public File {
 public:
  explicit FileView(std::unique_ptr<File> base) : base_(std::move(base)) {}
  File* base() { return base_.get(); }

  OsStatus ReadAt(uint64_t offset, void* buffer, size_t n, size_t* got) override {
    return base_->ReadAt(offset, buffer, n, got);
  }
  OsStatus WriteAt(uint64_t offset, const void* data, size_t n) override {
    return base_->WriteAt(offset, data, n);
  }
  OsStatus Size(uint64_t* size) override { return base_->Size(size); }
  OsStatus Truncate(uint64_t size) override { return base_->Truncate(size); }
  OsStatus Flush() override { return base_->Flush(); }
  OsStatus Lock(uint64_t offset, uint64_t length, LockKind kind, bool wait) override {
    return base_->Lock(offset, length, kind, wait);
  }
  OsStatus Unlock(uint64_t offset, uint64_t length) override {
    return base_->Unlock(offset, length);
  }

 private:
  std::unique_ptr<File> base_;
};

// Takes a lock, trying again while another holder keeps a conflicting one, for
// at most `patience`: a bounded wait, for callers that may hold other locks
// (an unbounded wait there can deadlock two programs). Gives the last try's
// status: kErrorLockViolation when the time ran out.
OsStatus LockWithin(File* file, uint64_t offset, uint64_t length, LockKind kind,
                    std::chrono::milliseconds patience);
// The patience of the table service's header, memo and index locks, and of
// every other wait for a lock (the share-mode gate of an open on Linux).
inline constexpr std::chrono::milliseconds kLockPatience{10000};
// The patience in force: kLockPatience unless a test shortened it.
std::chrono::milliseconds LockPatience();
void SetLockPatience(std::chrono::milliseconds patience);

// attributes: Windows file attributes for a created file (0x20 archive, 0x80 normal).
OsStatus OpenFile(std::string_view path, Access access, Share share, Disposition disposition,
                  uint32_t attributes, std::unique_ptr<File>* out);

OsStatus RemoveFile(std::string_view path);

// A file of our own beside files we serve (a table's journal), opened, created
// and deleted again and again while they stay open: its path is mapped once,
// when the OwnFilePath is made, so that it stays beside the files opened
// through the same mapping. Only our own code opens such files, always sharing
// everything: on Linux no share mode is announced or tested; Windows opens
// them as OpenFile with Share::kDenyNone.
class OwnFilePath {
 public:
  OwnFilePath() = default;
  explicit OwnFilePath(std::string_view path);
  const std::string& path() const { return path_; }      // as given
  const std::string& mapped() const { return mapped_; }  // what the OS is asked for
 private:
  std::string path_;
  std::string mapped_;
};
OsStatus OpenOwnFile(const OwnFilePath& path, Access access, Disposition disposition,
                     uint32_t attributes, std::unique_ptr<File>* out);
OsStatus RemoveOwnFile(const OwnFilePath& path);
// Replaces an existing target atomically where the OS allows it.
OsStatus RenameFile(std::string_view from, std::string_view to);
bool FileExists(std::string_view path);
bool DirectoryExists(std::string_view path);

}  // namespace platform
