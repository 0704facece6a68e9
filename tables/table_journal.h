// A table file seen through the table's rollback journal (rollback_journal.h):
// while a transaction is open, every write or truncate first saves the old
// bytes it is about to change (below the file's size at the transaction's
// start, once per byte) and flushes the journal, and only then touches the
// file. Callers that know a batch of writes ahead (the index pager at commit)
// announce it with Prepare, so the batch costs one journal write and one flush. Outside a
// transaction, and for reads and locks, everything passes through.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "tables/rollback_journal.h"

namespace tables {

class JournalFile final : public platform::File {
 public:
  JournalFile(std::unique_ptr<platform::File> base, RollbackJournal* journal, char role)
      : base_(std::move(base)), journal_(journal), role_(role) {}

  platform::File* base() { return base_.get(); }
  // Saves the old bytes of every (offset, length) range (neighbours joined)
  // in one journal write, then flushes the journal once. A failure is the journal's (its Status in *detail).
  platform::OsStatus Prepare(const std::vector<std::pair<uint64_t, uint64_t>>& ranges);
  // The last journal failure, with its text.
  const Status& journal_error() const { return error_; }

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
  platform::OsStatus Unlock(uint64_t offset, uint64_t length) override {
    return base_->Unlock(offset, length);
  }

 private:
  platform::OsStatus Guard(uint64_t offset, uint64_t length);

  std::unique_ptr<platform::File> base_;
  RollbackJournal* journal_;
  char role_;
  Status error_;
};

}  // namespace tables
