// Appending records in shared mode (see Table::BeginAppend in table.h).
#include <algorithm>
#include <cstring>

#include "tables/dbf/dbf_header.h"
#include "tables/dbf/table.h"

namespace tables {

using platform::OsStatus;

Status Table::BeginAppend() {
  if (pending_.active) return Status(Status::kArgument, "append already in progress", 0, path_);
  if (options_.read_only) {
    return Status(Status::kReadOnly, path_ + ": table opened read-only", 0, path_);
  }
  if (!write_refusal_.empty()) {
    return Status(Status::kCorruption, path_ + ": not written: " + write_refusal_, 0, path_);
  }
  std::vector<LockRange> header_ranges;
  if (options_.shared) {
    header_ranges = scheme_.HeaderLock();
    Status st = TakeRanges(header_ranges, true);
    if (!st.ok()) {
      return Status(Status::kAppendLock, path_ + ": append lock not granted", st.os_code(), path_);
    }
  }
  auto fail = [&](Status st) {
    DropRanges(header_ranges);
    return st;
  };
  // Under the header lock the file size is the truth about the count.
  uint64_t size = 0;
  OsStatus s = file_->Size(&size);
  if (!s.ok()) return fail(Status(Status::kRead, "cannot read the file size", s.code(), path_));
  const uint64_t h = header_.header_length;
  count_ = size < h ? 0
                    : static_cast<uint32_t>(
                          std::min<uint64_t>((size - h) / header_.record_length, 0xFFFFFFFFu));
  pending_ = PendingAppend();
  pending_.old_count = count_;
  pending_.header_ranges = header_ranges;
  pending_.active = true;
  return Status::Ok();
}

Status Table::ReserveRecord(uint32_t* recno) {
  if (!pending_.active) return Status(Status::kArgument, "BeginAppend first", 0, path_);
  if (pending_.reserved != 0) {
    return Status(Status::kArgument, "a record is reserved already", 0, path_);
  }
  const uint64_t end =
      header_.header_length + (static_cast<uint64_t>(count_) + 1) * header_.record_length;
  if (count_ == 0xFFFFFFFFu || end > scheme_.DataLimit()) {
    return Status(Status::kWrite, path_ + ": the table would grow into its lock area", 0, path_);
  }
  const uint32_t n = count_ + 1;
  if (options_.shared && !file_locked_) {
    Status st = TakeRanges(scheme_.RecordLock(n), false);
    if (!st.ok()) {
      return Status(Status::kAppendLock, path_ + ": new record locked by another user",
                    st.os_code(), path_);
    }
    locked_.push_back(n);
  }
  pending_.reserved = n;
  *recno = n;
  return Status::Ok();
}

Status Table::AppendRecords(const uint8_t* records, uint32_t n, bool keep_locks, uint32_t* first) {
  if (!pending_.active) return Status(Status::kArgument, "BeginAppend first", 0, path_);
  if (n == 0) {
    *first = count_ + 1;
    return Status::Ok();
  }
  const uint64_t r = header_.record_length;
  uint64_t end = header_.header_length + (static_cast<uint64_t>(count_) + n) * r;
  if (static_cast<uint64_t>(count_) + n > 0xFFFFFFFFull || end > scheme_.DataLimit()) {
    return Status(Status::kWrite, path_ + ": the table would grow into its lock area", 0, path_);
  }
  uint32_t start = count_ + 1;
  const bool reserved = pending_.reserved != 0;
  if (reserved && (n != 1 || start != pending_.reserved)) {
    return Status(Status::kArgument, "the reserved record is written alone", 0, path_);
  }
  std::vector<LockRange> ranges;
  if (options_.shared && !reserved) {
    ranges = scheme_.RecordRangeLock(start, start + n - 1);
    Status st = TakeRanges(ranges, false);
    if (!st.ok()) {
      return Status(Status::kAppendLock, path_ + ": new record locked by another user",
                    st.os_code(), path_);
    }
  }
  OsStatus s = file_->WriteAt(header_.header_length + static_cast<uint64_t>(count_) * r, records,
                              static_cast<size_t>(n * r));
  if (s.ok()) {
    count_ += n;
    modified_ = true;
    Status st = WriteHeaderCount(count_);
    if (!st.ok()) s = OsStatus(st.os_code() ? st.os_code() : platform::kErrorWriteFault);
  } else {
    // A write that failed half-way may have grown the file.
    count_ += n;
  }
  if (!s.ok()) {
    DropRanges(ranges);
    return Status(Status::kWrite, path_ + ": cannot append", s.code(), path_);
  }
  if (reserved) {
    pending_.reserved = 0;  // now a record of the file, its lock kept
  } else if (keep_locks && n == 1 && options_.shared) {
    locked_.push_back(start);
  } else if (!ranges.empty()) {
    pending_.record_ranges.push_back(ranges);
  }
  *first = start;
  return Status::Ok();
}

Status Table::RollbackAppend() {
  if (!pending_.active) return Status::Ok();
  const uint32_t last = std::max(count_, pending_.reserved);
  for (uint32_t n = pending_.old_count + 1; n <= last; ++n) {
    auto it = std::find(locked_.begin(), locked_.end(), n);
    if (it != locked_.end()) {
      DropRanges(scheme_.RecordLock(n));
      locked_.erase(it);
    }
  }
  count_ = pending_.old_count;
  pending_.reserved = 0;
  return Status::Ok();
}

Status Table::EndAppend() {
  if (!pending_.active) return Status::Ok();
  if (pending_.reserved != 0) UnlockRecord(pending_.reserved);  // never written
  for (auto it = pending_.record_ranges.rbegin(); it != pending_.record_ranges.rend(); ++it) {
    DropRanges(*it);
  }
  DropRanges(pending_.header_ranges);
  pending_ = PendingAppend();
  return Status::Ok();
}

}  // namespace tables
