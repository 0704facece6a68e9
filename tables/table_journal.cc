#include "tables/table_journal.h"

#include <algorithm>

namespace tables {
namespace {
constexpr uint64_t kPage = 512;
}  // namespace

platform::OsStatus JournalFile::Begin() {
  pages_.clear();
  failed_ = false;
  platform::OsStatus s = base_->Size(&old_size_);
  active_ = s.ok();
  return s;
}

void JournalFile::Commit() {
  active_ = false;
  failed_ = false;
  pages_.clear();
}

platform::OsStatus JournalFile::Save(uint64_t from, uint64_t to) {
  to = std::min(to, old_size_);
  for (uint64_t page = from / kPage; page * kPage < to; ++page) {
    if (pages_.count(page)) continue;
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min(kPage, old_size_ - page * kPage)));
    size_t got = 0;
    platform::OsStatus s = base_->ReadAt(page * kPage, bytes.data(), bytes.size(), &got);
    if (!s.ok()) return s;
    bytes.resize(got);
    pages_.emplace(page, std::move(bytes));
  }
  return platform::OsStatus::Ok();
}

platform::OsStatus JournalFile::WriteAt(uint64_t offset, const void* data, size_t n) {
  if (active_) {
    platform::OsStatus s = Save(offset, offset + n);
    if (s.ok()) s = base_->WriteAt(offset, data, n);
    if (!s.ok()) failed_ = true;
    return s;
  }
  return base_->WriteAt(offset, data, n);
}

platform::OsStatus JournalFile::Truncate(uint64_t size) {
  if (active_) {
    platform::OsStatus s = Save(size, old_size_);
    if (s.ok()) s = base_->Truncate(size);
    if (!s.ok()) failed_ = true;
    return s;
  }
  return base_->Truncate(size);
}

platform::OsStatus JournalFile::Unlock(uint64_t offset, uint64_t length) {
  // Put back a half-written change before other writers can see it.
  if (active_ && failed_) Rollback();
  return base_->Unlock(offset, length);
}

platform::OsStatus JournalFile::Rollback() {
  if (!active_) return platform::OsStatus::Ok();
  if (!failed_) {
    Commit();
    return platform::OsStatus::Ok();
  }
  platform::OsStatus result;
  for (const auto& [page, bytes] : pages_) {
    platform::OsStatus s = base_->WriteAt(page * kPage, bytes.data(), bytes.size());
    if (!s.ok() && result.ok()) result = s;
  }
  platform::OsStatus s = base_->Truncate(old_size_);
  if (!s.ok() && result.ok()) result = s;
  if (result.ok()) Commit();
  return result;
}

}  // namespace tables
