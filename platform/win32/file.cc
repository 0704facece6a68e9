// Win32 back-end of platform/file.h: CreateFileA, ReadFile/WriteFile at an
// offset and LockFileEx, passed through with GetLastError as the status.
#include "platform/file.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/file_faults.h"
#include "platform/path.h"

namespace platform {
namespace {

OsStatus LastError() {
  DWORD e = GetLastError();
  return OsStatus(e == 0 ? kErrorInvalidFunction : e);
}

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED ov = {};
  ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

class Win32File final : public File {
 public:
  explicit Win32File(HANDLE h) : h_(h) {}
  ~Win32File() override { CloseHandle(h_); }

  OsStatus ReadAt(uint64_t offset, void* buffer, size_t n, size_t* got) override {
    *got = 0;
    if (uint32_t code = FaultCheck(FaultOp::kRead)) return OsStatus(code);
    char* p = static_cast<char*>(buffer);
    while (*got < n) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(n - *got, 1u << 30));
      OVERLAPPED ov = At(offset + *got);
      DWORD read = 0;
      if (!ReadFile(h_, p + *got, chunk, &read, &ov)) {
        if (GetLastError() == ERROR_HANDLE_EOF) break;
        return LastError();
      }
      if (read == 0) break;
      *got += read;
    }
    return OsStatus::Ok();
  }

  OsStatus WriteAt(uint64_t offset, const void* data, size_t n) override {
    if (uint32_t code = FaultCheck(FaultOp::kWrite)) return OsStatus(code);
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < n) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(n - done, 1u << 30));
      OVERLAPPED ov = At(offset + done);
      DWORD written = 0;
      if (!WriteFile(h_, p + done, chunk, &written, &ov)) return LastError();
      done += written;
    }
    return OsStatus::Ok();
  }

  OsStatus Size(uint64_t* size) override {
    LARGE_INTEGER li;
    if (!GetFileSizeEx(h_, &li)) return LastError();
    *size = static_cast<uint64_t>(li.QuadPart);
    return OsStatus::Ok();
  }

  OsStatus Truncate(uint64_t size) override {
    if (uint32_t code = FaultCheck(FaultOp::kWrite)) return OsStatus(code);
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(h_, li, nullptr, FILE_BEGIN) || !SetEndOfFile(h_)) return LastError();
    return OsStatus::Ok();
  }

  OsStatus Flush() override {
    if (!FlushFileBuffers(h_)) {
      DWORD e = GetLastError();
      if (e == ERROR_ACCESS_DENIED) return OsStatus::Ok();  // read-only handle: nothing to flush
      return OsStatus(e);
    }
    return OsStatus::Ok();
  }

  OsStatus Lock(uint64_t offset, uint64_t length, LockKind kind, bool wait) override {
    if (uint32_t code = FaultCheck(FaultOp::kLock)) return OsStatus(code);
    if (length == 0) return OsStatus(kErrorInvalidParameter);
    OVERLAPPED ov = At(offset);
    DWORD flags = (kind == LockKind::kExclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) |
                  (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    if (!LockFileEx(h_, flags, 0, static_cast<DWORD>(length & 0xFFFFFFFFu),
                    static_cast<DWORD>(length >> 32), &ov)) {
      return LastError();
    }
    return OsStatus::Ok();
  }

  OsStatus Unlock(uint64_t offset, uint64_t length) override {
    OVERLAPPED ov = At(offset);
    if (!UnlockFileEx(h_, 0, static_cast<DWORD>(length & 0xFFFFFFFFu),
                      static_cast<DWORD>(length >> 32), &ov)) {
      return LastError();
    }
    return OsStatus::Ok();
  }

 private:
  HANDLE h_;
};

}  // namespace

namespace {

// Opens the path as MapPath gave it.
OsStatus OpenMapped(const std::string& p, Access access, Share share, Disposition disposition,
                    uint32_t attributes, std::unique_ptr<File>* out) {
  DWORD desired = access == Access::kRead    ? GENERIC_READ
                  : access == Access::kWrite ? GENERIC_WRITE
                                             : GENERIC_READ | GENERIC_WRITE;
  DWORD share_mode = share == Share::kExclusive   ? 0
                     : share == Share::kDenyWrite ? FILE_SHARE_READ
                                                  : FILE_SHARE_READ | FILE_SHARE_WRITE;
  DWORD creation = OPEN_EXISTING;
  switch (disposition) {
    case Disposition::kOpenExisting:
      creation = OPEN_EXISTING;
      break;
    case Disposition::kCreateAlways:
      creation = CREATE_ALWAYS;
      break;
    case Disposition::kCreateNew:
      creation = CREATE_NEW;
      break;
    case Disposition::kOpenAlways:
      creation = OPEN_ALWAYS;
      break;
  }
  HANDLE h = CreateFileA(p.c_str(), desired, share_mode, nullptr, creation,
                         attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  *out = std::make_unique<Win32File>(h);
  return OsStatus::Ok();
}

}  // namespace

OsStatus OpenFile(std::string_view path, Access access, Share share, Disposition disposition,
                  uint32_t attributes, std::unique_ptr<File>* out) {
  out->reset();
  if (uint32_t code = FaultCheck(FaultOp::kOpen)) return OsStatus(code);
  return OpenMapped(MapPath(path), access, share, disposition, attributes, out);
}

OwnFilePath::OwnFilePath(std::string_view path) : path_(path), mapped_(MapPath(path)) {}

OsStatus OpenOwnFile(const OwnFilePath& path, Access access, Disposition disposition,
                     uint32_t attributes, std::unique_ptr<File>* out) {
  out->reset();
  if (uint32_t code = FaultCheck(FaultOp::kOpen)) return OsStatus(code);
  return OpenMapped(path.mapped(), access, Share::kDenyNone, disposition, attributes, out);
}

OsStatus RemoveOwnFile(const OwnFilePath& path) {
  if (!DeleteFileA(path.mapped().c_str())) return LastError();
  return OsStatus::Ok();
}

OsStatus RemoveFile(std::string_view path) {
  std::string p = MapPath(path);
  if (!DeleteFileA(p.c_str())) return LastError();
  return OsStatus::Ok();
}

OsStatus RenameFile(std::string_view from, std::string_view to) {
  std::string a = MapPath(from), b = MapPath(to);
  if (!MoveFileExA(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING)) return LastError();
  return OsStatus::Ok();
}

bool FileExists(std::string_view path) {
  std::string p = MapPath(path);
  DWORD attr = GetFileAttributesA(p.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(std::string_view path) {
  std::string p = MapPath(path);
  DWORD attr = GetFileAttributesA(p.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace platform
