// A platform::File over bytes in memory: for the fuzz targets and for tools
// that check a snapshot of an index without touching the file on disk. Locks
// always succeed (nobody else can see the bytes). One thread.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/file.h"

namespace tables {

class MemoryFile : public platform::File {
 public:
  explicit MemoryFile(std::vector<uint8_t> bytes = {}) : bytes_(std::move(bytes)) {}
  const std::vector<uint8_t>& bytes() const { return bytes_; }

  platform::OsStatus ReadAt(uint64_t offset, void* buffer, size_t n, size_t* got) override;
  platform::OsStatus WriteAt(uint64_t offset, const void* data, size_t n) override;
  platform::OsStatus Size(uint64_t* size) override;
  platform::OsStatus Truncate(uint64_t size) override;
  platform::OsStatus Flush() override { return platform::OsStatus::Ok(); }
  platform::OsStatus Lock(uint64_t, uint64_t, platform::LockKind, bool) override {
    return platform::OsStatus::Ok();
  }
  platform::OsStatus Unlock(uint64_t, uint64_t) override { return platform::OsStatus::Ok(); }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace tables
