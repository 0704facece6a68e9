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
#include "tables/cdx/rollback_journal.h"

namespace tables {

class JournalFile final : public platform::FileView {
 public:
  JournalFile(std::unique_ptr<platform::File> base, RollbackJournal* journal, char role)
      : FileView(std::move(base)), journal_(journal), role_(role) {}

  // Saves the old bytes of every (offset, length) range (neighbours joined)
  // in one journal write, then flushes the journal once. A failure is the journal's (its Status in
  // *detail).
  platform::OsStatus Prepare(const std::vector<std::pair<uint64_t, uint64_t>>& ranges);
  // The last journal failure, with its text.
  const Status& journal_error() const { return error_; }

  platform::OsStatus WriteAt(uint64_t offset, const void* data, size_t n) override;
  platform::OsStatus Truncate(uint64_t size) override;

 private:
  platform::OsStatus Guard(uint64_t offset, uint64_t length);

  RollbackJournal* journal_;
  char role_;
  Status error_;
};

}  // namespace tables
