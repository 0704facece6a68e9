// An undo journal over a file: between Begin and Commit, the original bytes of
// every 512-byte page about to be overwritten (below the size the file had at
// Begin) are kept, so that Rollback can put the file back exactly as it was,
// length included. DBServer runs each index update through it, so that a write
// failing in the middle of a multi-page CDX change leaves no half-written tree.
// A failed write marks the journal; the put-back then happens when the index
// lock is released (still under it, so no other writer's pages are undone), or
// at Rollback when the file is not shared. Without a failed write nothing was
// half-done and Rollback only forgets. Everything else passes through.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "platform/file.h"

namespace tables {

class JournalFile final : public platform::File {
 public:
  explicit JournalFile(std::unique_ptr<platform::File> base) : base_(std::move(base)) {}

  platform::OsStatus Begin();
  void Commit();
  platform::OsStatus Rollback();
  bool active() const { return active_; }

  platform::OsStatus ReadAt(uint64_t offset, void* buffer, size_t n, size_t* got) override {
    return base_->ReadAt(offset, buffer, n, got);
  }
  platform::OsStatus WriteAt(uint64_t offset, const void* data, size_t n) override;
  platform::OsStatus Size(uint64_t* size) override { return base_->Size(size); }
  platform::OsStatus Truncate(uint64_t size) override;
  platform::OsStatus Flush() override { return base_->Flush(); }
  platform::OsStatus Lock(uint64_t offset, uint64_t length, platform::LockKind kind,
                          bool wait) override {
    return base_->Lock(offset, length, kind, wait);
  }
  platform::OsStatus Unlock(uint64_t offset, uint64_t length) override;

 private:
  platform::OsStatus Save(uint64_t from, uint64_t to);

  std::unique_ptr<platform::File> base_;
  bool active_ = false;
  bool failed_ = false;
  uint64_t old_size_ = 0;
  std::map<uint64_t, std::vector<uint8_t>> pages_;  // page number → original bytes
};

}  // namespace tables
