#include "tables/cdx/table_journal.h"

#include <algorithm>

namespace tables {

platform::OsStatus JournalFile::Guard(uint64_t offset, uint64_t length) {
  if (journal_ == nullptr || !journal_->active()) return platform::OsStatus::Ok();
  Status st = journal_->Cover(role_, offset, length);
  if (st.ok()) st = journal_->Sync();
  if (st.ok()) return platform::OsStatus::Ok();
  error_ = st;
  return platform::OsStatus(st.os_code() ? st.os_code() : platform::kErrorWriteFault);
}

platform::OsStatus JournalFile::Prepare(const std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
  if (journal_ == nullptr || !journal_->active()) return platform::OsStatus::Ok();
  // Neighbouring and overlapping ranges become one: one read and one image
  // record each, all records in one journal write.
  std::vector<std::pair<uint64_t, uint64_t>> merged;  // start, end
  merged.reserve(ranges.size());
  for (const auto& [offset, length] : ranges) {
    if (length > 0) merged.emplace_back(offset, offset + std::min(length, UINT64_MAX - offset));
  }
  std::sort(merged.begin(), merged.end());
  size_t n = 0;
  for (const auto& r : merged) {
    if (n > 0 && r.first <= merged[n - 1].second) {
      merged[n - 1].second = std::max(merged[n - 1].second, r.second);
    } else {
      merged[n++] = r;
    }
  }
  merged.resize(n);
  for (auto& r : merged) r.second -= r.first;  // back to (offset, length)
  Status st = journal_->CoverAll(role_, merged);
  if (!st.ok()) {
    error_ = st;
    return platform::OsStatus(st.os_code() ? st.os_code() : platform::kErrorWriteFault);
  }
  return Guard(0, 0);
}

platform::OsStatus JournalFile::WriteAt(uint64_t offset, const void* data, size_t n) {
  platform::OsStatus s = Guard(offset, n);
  if (s.ok()) s = base()->WriteAt(offset, data, n);
  if (s.ok() && journal_ != nullptr) journal_->Wrote(role_, offset, data, n);
  return s;
}

platform::OsStatus JournalFile::Truncate(uint64_t size) {
  platform::OsStatus s = Guard(size, UINT64_MAX - size);
  if (s.ok()) s = base()->Truncate(size);
  if (s.ok() && journal_ != nullptr) journal_->Truncated(role_, size);
  return s;
}

}  // namespace tables
