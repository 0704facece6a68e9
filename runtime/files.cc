// The runtime's low-level file functions over platform::File. A handle is an
// index into one table of open files plus one; each open file keeps its own
// position, as an OS handle does. Every call records its Windows error code
// (0 on success) for FError; none of them raises a runtime error: callers
// test for -1 and ask FError, as the error log does.
#include "runtime/files.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/os_error.h"

namespace rt {
namespace {

struct OpenFile {
  std::unique_ptr<platform::File> file;
  uint64_t position = 0;
};

struct FileTable {
  std::vector<OpenFile> files;  // slot i is handle i + 1; a closed slot has no file
  uint32_t last_error = 0;
};

FileTable& Table() {
  static FileTable table;
  return table;
}

uint32_t SetError(uint32_t code) {
  Table().last_error = code;
  return code;
}

// The open file behind a handle, or nullptr (and error 6) for any other number.
OpenFile* Lookup(int32_t handle) {
  FileTable& t = Table();
  if (handle < 1 || static_cast<size_t>(handle) > t.files.size() ||
      !t.files[static_cast<size_t>(handle) - 1].file) {
    SetError(platform::kErrorInvalidHandle);
    return nullptr;
  }
  return &t.files[static_cast<size_t>(handle) - 1];
}

int32_t Adopt(std::unique_ptr<platform::File> file) {
  FileTable& t = Table();
  for (size_t i = 0; i < t.files.size(); ++i) {
    if (!t.files[i].file) {
      t.files[i] = OpenFile{std::move(file), 0};
      return static_cast<int32_t>(i + 1);
    }
  }
  t.files.push_back(OpenFile{std::move(file), 0});
  return static_cast<int32_t>(t.files.size());
}

uint32_t WriteAtPosition(OpenFile* f, std::string_view data) {
  if (data.empty()) {
    SetError(0);
    return 0;
  }
  platform::OsStatus st = f->file->WriteAt(f->position, data.data(), data.size());
  if (SetError(st.code()) != 0) return 0;
  f->position += data.size();
  return static_cast<uint32_t>(data.size());
}

}  // namespace

int32_t FOpen2(std::string_view path, uint32_t mode) {
  platform::Access access;
  switch (mode & 0x0F) {
    case 0:
      access = platform::Access::kRead;
      break;
    case 1:
      access = platform::Access::kWrite;
      break;
    case 2:
      access = platform::Access::kReadWrite;
      break;
    default:
      SetError(platform::kErrorInvalidParameter);
      return kInvalidHandle;
  }
  platform::Share share;
  switch (mode & 0x70) {  // 0x80, the inheritance flag, means nothing here
    case 0x00:            // compatibility mode behaves as deny none
    case 0x40:
      share = platform::Share::kDenyNone;
      break;
    case 0x10:
      share = platform::Share::kExclusive;
      break;
    case 0x20:
      share = platform::Share::kDenyWrite;
      break;
    // Deny read has no platform equivalent; denying everything is the only
    // choice that still keeps other readers out.
    case 0x30:
      share = platform::Share::kExclusive;
      break;
    default:
      SetError(platform::kErrorInvalidParameter);
      return kInvalidHandle;
  }
  std::unique_ptr<platform::File> file;
  platform::OsStatus st =
      platform::OpenFile(path, access, share, platform::Disposition::kOpenExisting, 0, &file);
  if (SetError(st.code()) != 0) return kInvalidHandle;
  return Adopt(std::move(file));
}

int32_t FCreate2(std::string_view path, uint32_t attributes) {
  std::unique_ptr<platform::File> file;
  platform::OsStatus st =
      platform::OpenFile(path, platform::Access::kReadWrite, platform::Share::kDenyNone,
                         platform::Disposition::kCreateAlways, attributes, &file);
  if (SetError(st.code()) != 0) return kInvalidHandle;
  return Adopt(std::move(file));
}

int64_t FSeek3(int32_t handle, int64_t offset, uint32_t origin) {
  OpenFile* f = Lookup(handle);
  if (!f) return -1;
  int64_t base;
  switch (origin) {
    case 0:
      base = 0;
      break;
    case 1:
      base = static_cast<int64_t>(f->position);
      break;
    case 2: {
      uint64_t size = 0;
      platform::OsStatus st = f->file->Size(&size);
      if (SetError(st.code()) != 0) return -1;
      base = static_cast<int64_t>(size);
      break;
    }
    default:
      SetError(platform::kErrorInvalidParameter);
      return -1;
  }
  // Like the OS, a position before the start is refused and the old one kept;
  // one past the end is allowed (a later write extends the file).
  if ((offset < 0 && base + offset < 0) || (offset > 0 && base > INT64_MAX - offset)) {
    SetError(platform::kErrorNegativeSeek);
    return -1;
  }
  f->position = static_cast<uint64_t>(base + offset);
  SetError(0);
  return static_cast<int64_t>(f->position);
}

uint32_t FPutS(int32_t handle, std::string_view text) { return FPutS3(handle, text, 0); }

uint32_t FPutS3(int32_t handle, std::string_view text, uint32_t len) {
  OpenFile* f = Lookup(handle);
  if (!f) return 0;
  if (len != 0 && len < text.size()) text = text.substr(0, len);
  // One write for the text and its line end, so a failure leaves no half line
  // the caller was not told about.
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text);
  line.append("\r\n");
  return WriteAtPosition(f, line);
}

uint32_t FWrite(int32_t handle, std::string_view data) {
  OpenFile* f = Lookup(handle);
  if (!f) return 0;
  return WriteAtPosition(f, data);
}

std::string FRead(int32_t handle, uint32_t max) {
  OpenFile* f = Lookup(handle);
  if (!f) return std::string();
  // A caller asking for "everything" (a huge max) gets a buffer the size of
  // what is left in the file, not the size it asked for.
  uint64_t size = 0;
  if (SetError(f->file->Size(&size).code()) != 0) return std::string();
  uint64_t left = size > f->position ? size - f->position : 0;
  size_t want = static_cast<size_t>(std::min<uint64_t>(max, left));
  std::string buffer(want, '\0');
  size_t got = 0;
  platform::OsStatus st = f->file->ReadAt(f->position, buffer.data(), want, &got);
  if (SetError(st.code()) != 0) return std::string();
  buffer.resize(got);
  f->position += got;
  return buffer;
}

bool FClose(int32_t handle) {
  OpenFile* f = Lookup(handle);
  if (!f) return false;
  f->file.reset();
  f->position = 0;
  SetError(0);
  return true;
}

uint32_t FError() { return Table().last_error; }

}  // namespace rt
