#include "tables/tools/cdx_memory_file.h"

#include <cstring>

namespace tables {

namespace {
// Files beyond this size are refused, so that a corrupt offset cannot make
// a write allocate gigabytes.
constexpr uint64_t kMaxSize = 1ull << 30;
}  // namespace

platform::OsStatus MemoryFile::ReadAt(uint64_t offset, void* buffer, size_t n, size_t* got) {
  *got = 0;
  if (offset >= bytes_.size()) return platform::OsStatus::Ok();
  *got = static_cast<size_t>(std::min<uint64_t>(n, bytes_.size() - offset));
  std::memcpy(buffer, bytes_.data() + offset, *got);
  return platform::OsStatus::Ok();
}

platform::OsStatus MemoryFile::WriteAt(uint64_t offset, const void* data, size_t n) {
  if (offset + n > kMaxSize) return platform::OsStatus(platform::kErrorDiskFull);
  if (offset + n > bytes_.size()) bytes_.resize(offset + n, 0);
  std::memcpy(bytes_.data() + offset, data, n);
  return platform::OsStatus::Ok();
}

platform::OsStatus MemoryFile::Size(uint64_t* size) {
  *size = bytes_.size();
  return platform::OsStatus::Ok();
}

platform::OsStatus MemoryFile::Truncate(uint64_t size) {
  if (size > kMaxSize) return platform::OsStatus(platform::kErrorDiskFull);
  bytes_.resize(size, 0);
  return platform::OsStatus::Ok();
}

}  // namespace tables
