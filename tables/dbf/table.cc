#include "tables/dbf/table.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>

#include "platform/local_time.h"
#include "tables/dbf/dbf_field.h"
#include "tables/dbf/fpt_file.h"
#include "tables/dbf/lock_table.h"

namespace tables {
namespace {

using platform::OsStatus;

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return out;
}

std::string MemoPath(const std::string& dbf, char kind) {
  size_t slash = dbf.find_last_of("\\/");
  size_t dot = dbf.find_last_of('.');
  std::string base = (dot != std::string::npos && (slash == std::string::npos || dot > slash))
                         ? dbf.substr(0, dot)
                         : dbf;
  return base + (kind == 'D' ? ".dbt" : ".fpt");
}

}  // namespace

Table::~Table() {
  if (file_) Close();
}

Status Table::Open(std::string_view path, const OpenOptions& options, std::unique_ptr<Table>* out) {
  out->reset();
  std::unique_ptr<Table> t(new Table);
  t->path_ = std::string(path);
  t->options_ = options;
  platform::Access access =
      options.read_only ? platform::Access::kRead : platform::Access::kReadWrite;
  platform::Share share = options.shared ? platform::Share::kDenyNone : platform::Share::kExclusive;
  OsStatus s = OpenSharedFile(path, access, share, platform::Disposition::kOpenExisting, &t->file_);
  if (!s.ok()) {
    return Status(Status::kOpen, "cannot open " + t->path_, s.code(), t->path_);
  }
  uint8_t fixed[32];
  size_t got = 0;
  s = t->file_->ReadAt(0, fixed, 32, &got);
  if (!s.ok()) return Status(Status::kRead, "cannot read the header", s.code(), t->path_);
  std::vector<uint8_t> header(got >= 32 ? std::max<size_t>(Le16(fixed + 8), 32) : got);
  s = t->file_->ReadAt(0, header.data(), header.size(), &got);
  if (!s.ok()) return Status(Status::kRead, "cannot read the header", s.code(), t->path_);
  header.resize(got);
  TABLE_RETURN_IF_ERROR(ParseHeader(header, t->path_, &t->header_));

  const DbfHeader& h = t->header_;
  for (size_t i = 0; i < h.fields.size(); ++i) {
    const FieldDesc& f = h.fields[i];
    if (!f.system() && f.type != '0') t->visible_.push_back(i);
    t->index_fields_.push_back({f.name, f.type, f.offset, f.length, f.decimals, f.flags});
    if (f.type == '@' || f.type == '=' || f.type == '^' || f.type == '+') {
      t->write_refusal_ = "field " + f.name + " has a type other engines cannot share";
    }
  }
  t->scheme_ =
      LockScheme(options.scheme, h.version, h.structural_cdx(), h.header_length, h.record_length);
  TABLE_RETURN_IF_ERROR(t->Validate());

  if (char kind = h.memo_kind()) {
    std::string memo_path = MemoPath(t->path_, kind);
    std::unique_ptr<platform::File> mf;
    s = OpenSharedFile(memo_path, access, share, platform::Disposition::kOpenExisting, &mf);
    if (!s.ok()) {
      return Status(Status::kOpen, "cannot open the memo file " + memo_path, s.code(), memo_path);
    }
    TABLE_RETURN_IF_ERROR(MemoFile::Open(std::move(mf), memo_path, kind, options.shared,
                                         t->scheme_.MemoLock(), &t->memo_));
  }
  *out = std::move(t);
  return Status::Ok();
}

// Record count and tail: whole records count; a 0x1A after them is the usual
// end mark; other left-over bytes are a partial record or garbage.
Status Table::Validate() {
  uint64_t size = 0;
  OsStatus s = file_->Size(&size);
  if (!s.ok()) return Status(Status::kRead, "cannot read the file size", s.code(), path_);
  const uint64_t h = header_.header_length, r = header_.record_length;
  if (size < h) {
    return Status(Status::kCorruption, path_ + ": file shorter than its header", 0, path_);
  }
  count_ = static_cast<uint32_t>(std::min<uint64_t>((size - h) / r, 0xFFFFFFFFu));
  uint64_t rest = (size - h) % r;
  if (rest == 1) {
    uint8_t last = 0;
    size_t got = 0;
    file_->ReadAt(size - 1, &last, 1, &got);
    if (last != 0x1A) warnings_.push_back("trailing byte after the last record is not 0x1A");
  } else if (rest > 1) {
    warnings_.push_back("partial record at the end of the file");
    damage_ = "the file ends with a partial record (" + std::to_string(rest) + " bytes)";
    if (write_refusal_.empty()) write_refusal_ = damage_;
  }
  if (header_.stored_count > count_) {
    warnings_.push_back("header counts " + std::to_string(header_.stored_count) +
                        " records, the file holds " + std::to_string(count_));
    if (damage_.empty()) {
      damage_ = "the header counts " + std::to_string(header_.stored_count) +
                " records, the file holds " + std::to_string(count_) + " (truncated copy?)";
    }
    if (write_refusal_.empty()) write_refusal_ = damage_;
  } else if (header_.stored_count < count_ && !options_.shared) {
    warnings_.push_back("header counts " + std::to_string(header_.stored_count) +
                        " records, the file holds " + std::to_string(count_));
  }
  return Status::Ok();
}

int Table::FieldIndex(std::string_view name) const {
  std::string_view n = name;
  while (!n.empty() && n.back() == ' ') n.remove_suffix(1);
  while (!n.empty() && n.front() == ' ') n.remove_prefix(1);
  std::string wanted = Upper(n);
  for (size_t i : visible_) {
    if (Upper(header_.fields[i].name) == wanted) return static_cast<int>(i);
  }
  return -1;
}

Status Table::RefreshCount() {
  uint64_t size = 0;
  OsStatus s = file_->Size(&size);
  if (!s.ok()) return Status(Status::kRead, "cannot read the file size", s.code(), path_);
  uint64_t h = header_.header_length;
  count_ = size < h ? 0
                    : static_cast<uint32_t>(
                          std::min<uint64_t>((size - h) / header_.record_length, 0xFFFFFFFFu));
  return Status::Ok();
}

Status Table::ReadRecord(uint32_t recno, uint8_t* buffer) {
  uint32_t got = 0;
  TABLE_RETURN_IF_ERROR(ReadRecords(recno, 1, buffer, &got));
  if (got != 1) {
    return Status(Status::kRead,
                  path_ + ": record " + std::to_string(recno) + " is beyond the end of the table",
                  0, path_);
  }
  return Status::Ok();
}

Status Table::ReadRecords(uint32_t first, uint32_t n, uint8_t* buffer, uint32_t* got) {
  *got = 0;
  if (first == 0) return Status(Status::kArgument, "record number 0", 0, path_);
  if (static_cast<uint64_t>(first) + n - 1 > count_) TABLE_RETURN_IF_ERROR(RefreshCount());
  if (first > count_) return Status::Ok();
  uint32_t take = std::min<uint32_t>(n, count_ - first + 1);
  const uint64_t r = header_.record_length;
  size_t bytes = 0;
  OsStatus s = file_->ReadAt(header_.header_length + (first - 1) * r, buffer, take * r, &bytes);
  if (!s.ok()) {
    return Status(Status::kRead, path_ + ": cannot read record " + std::to_string(first), s.code(),
                  path_);
  }
  *got = static_cast<uint32_t>(bytes / r);
  return Status::Ok();
}

std::vector<uint8_t> Table::BlankRecord() const {
  std::vector<uint8_t> rec(header_.record_length, ' ');
  for (const FieldDesc& f : header_.fields) {
    bool zeros =
        f.type == 'I' || f.type == 'B' || f.type == 'Y' || f.type == 'T' || f.type == '0' ||
        f.type == 'V' || f.type == 'Q' || f.type == '@' || f.type == '=' || f.type == '^' ||
        f.type == '+' ||
        ((f.type == 'M' || f.type == 'G' || f.type == 'W' || f.type == 'P') && f.length == 4);
    if (zeros) std::memset(rec.data() + f.offset, 0, f.length);
  }
  for (const FieldDesc& f : header_.fields) {
    SetNullBit(header_, rec.data(), f.null_bit, true);
    SetNullBit(header_, rec.data(), f.varlen_bit, true);
  }
  return rec;
}

bool Table::IsLocked(uint32_t recno) const {
  if (!options_.shared || file_locked_) return true;
  return std::find(locked_.begin(), locked_.end(), recno) != locked_.end();
}

Status Table::WriteRecord(uint32_t recno, const uint8_t* buffer) {
  if (options_.read_only) {
    return Status(Status::kReadOnly, path_ + ": table opened read-only", 0, path_);
  }
  if (!write_refusal_.empty()) {
    return Status(Status::kCorruption, path_ + ": not written: " + write_refusal_, 0, path_);
  }
  if (!IsLocked(recno)) {
    return Status(Status::kLockRequired,
                  path_ + ": record " + std::to_string(recno) + " is not locked", 0, path_);
  }
  if (recno == 0 || recno > count_) TABLE_RETURN_IF_ERROR(RefreshCount());
  if (recno == 0 || recno > count_) {
    return Status(Status::kWrite,
                  path_ + ": record " + std::to_string(recno) + " is beyond the end of the table",
                  0, path_);
  }
  const uint64_t r = header_.record_length;
  OsStatus s = file_->WriteAt(header_.header_length + (recno - 1) * r, buffer, r);
  if (!s.ok()) {
    return Status(Status::kWrite, path_ + ": cannot write record " + std::to_string(recno),
                  s.code(), path_);
  }
  modified_ = true;
  return Status::Ok();
}

Status Table::TakeRanges(const std::vector<LockRange>& ranges, bool wait) {
  for (size_t i = 0; i < ranges.size(); ++i) {
    // A bounded wait: never block for ever while other locks may be held.
    OsStatus s = platform::LockWithin(
        file_.get(), ranges[i].offset, ranges[i].length, platform::LockKind::kExclusive,
        wait ? platform::LockPatience() : std::chrono::milliseconds(0));
    if (!s.ok()) {
      while (i-- > 0) file_->Unlock(ranges[i].offset, ranges[i].length);
      return Status(Status::kLock, path_ + ": lock not granted", s.code(), path_);
    }
  }
  return Status::Ok();
}

void Table::DropRanges(const std::vector<LockRange>& ranges) {
  for (size_t i = ranges.size(); i-- > 0;) file_->Unlock(ranges[i].offset, ranges[i].length);
}

Status Table::LockRecord(uint32_t recno) {
  if (!options_.shared || file_locked_) return Status::Ok();
  if (std::find(locked_.begin(), locked_.end(), recno) != locked_.end()) return Status::Ok();
  TABLE_RETURN_IF_ERROR(TakeRanges(scheme_.RecordLock(recno), false));
  locked_.push_back(recno);
  return Status::Ok();
}

Status Table::UnlockRecord(uint32_t recno) {
  auto it = std::find(locked_.begin(), locked_.end(), recno);
  if (it == locked_.end()) return Status::Ok();
  DropRanges(scheme_.RecordLock(recno));
  locked_.erase(it);
  return Status::Ok();
}

Status Table::LockFile() {
  if (!options_.shared || file_locked_) return Status::Ok();
  for (uint32_t n : std::vector<uint32_t>(locked_)) UnlockRecord(n);
  LockRange r = scheme_.FileLock();
  TABLE_RETURN_IF_ERROR(TakeRanges({r}, false));
  file_locked_ = true;
  return Status::Ok();
}

Status Table::UnlockAll() {
  for (uint32_t n : std::vector<uint32_t>(locked_)) UnlockRecord(n);
  if (file_locked_) {
    LockRange r = scheme_.FileLock();
    DropRanges({r});
    file_locked_ = false;
  }
  return Status::Ok();
}

Status Table::ReadMemo(size_t field, const uint8_t* record, std::string* out) {
  out->clear();
  const FieldDesc& f = header_.fields[field];
  uint32_t block = 0;
  if (!MemoBlock(f, record + f.offset, &block)) {
    return Status(Status::kCorruption, path_ + ": field " + f.name + ": bad memo pointer", 0,
                  path_);
  }
  if (block == 0) return Status::Ok();
  if (!memo_) {
    return Status(Status::kCorruption,
                  path_ + ": field " + f.name +
                      " points into a memo file "
                      "the table does not have",
                  0, path_);
  }
  Status st = memo_->Read(block, out);
  if (!st.ok()) {
    return Status(st.code(), st.text() + " (field " + f.name + ")", st.os_code(), st.file());
  }
  return Status::Ok();
}

Status Table::WriteMemo(size_t field, uint8_t* record, std::string_view value, bool binary) {
  const FieldDesc& f = header_.fields[field];
  if (options_.read_only) {
    return Status(Status::kReadOnly, path_ + ": table opened read-only", 0, path_);
  }
  if (!write_refusal_.empty()) {
    return Status(Status::kCorruption, path_ + ": not written: " + write_refusal_, 0, path_);
  }
  if (!memo_) return Status(Status::kCorruption, path_ + ": no memo file", 0, path_);
  uint32_t old_block = 0;
  MemoBlock(f, record + f.offset, &old_block);
  uint32_t block = 0;
  TABLE_RETURN_IF_ERROR(memo_->Write(value, binary ? 0 : 1, old_block, &block));
  PutMemoBlock(f, record + f.offset, block);
  return Status::Ok();
}

Status Table::Close() {
  if (!file_) return Status::Ok();
  Status result;
  if (pending_.active) EndAppend();
  UnlockHeader();
  UnlockAll();
  if (!options_.shared && modified_ && write_refusal_.empty() && !options_.read_only) {
    // Exclusive close: header count and date, and the end mark.
    result = RefreshCount();
    if (result.ok()) result = WriteHeaderCount(count_);
    uint8_t eof = 0x1A;
    OsStatus s = file_->WriteAt(
        header_.header_length + static_cast<uint64_t>(count_) * header_.record_length, &eof, 1);
    if (result.ok() && !s.ok()) result = Status(Status::kWrite, "cannot write", s.code(), path_);
  }
  memo_.reset();
  file_.reset();
  return result;
}

Status Table::LockHeader() {
  if (!options_.shared || !header_locked_.empty()) return Status::Ok();
  std::vector<LockRange> ranges = scheme_.HeaderLock();
  Status st = TakeRanges(ranges, true);
  if (!st.ok()) {
    return Status(Status::kAppendLock, path_ + ": header lock not granted", st.os_code(), path_);
  }
  header_locked_ = std::move(ranges);
  return Status::Ok();
}

void Table::UnlockHeader() {
  DropRanges(header_locked_);
  header_locked_.clear();
}

void Table::WrapFiles(const FileWrapper& wrap) {
  file_ = wrap(std::move(file_), 'D');
  if (memo_)
    memo_->WrapFile([&](std::unique_ptr<platform::File> f) { return wrap(std::move(f), 'M'); });
}

Status Table::WriteHeaderCount(uint32_t count) {
  platform::LocalTime now = platform::LocalNow();
  uint8_t bytes[7];
  bytes[0] = static_cast<uint8_t>(header_.vfp() ? now.year % 100 : now.year - 1900);
  bytes[1] = static_cast<uint8_t>(now.month);
  bytes[2] = static_cast<uint8_t>(now.day);
  PutLe32(bytes + 3, count);
  OsStatus s = file_->WriteAt(1, bytes, 7);
  if (!s.ok()) return Status(Status::kWrite, path_ + ": cannot write the header", s.code(), path_);
  return Status::Ok();
}

}  // namespace tables
