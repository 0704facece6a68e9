// The rollback journal's writer (RollbackJournal) and the record format it
// shares with the reader. Putting the files back (Rollback, and recovery of
// a journal left behind): rollback_journal_recover.cc.
#include "tables/cdx/rollback_journal.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "platform/profile.h"
#include "tables/dbf/byte_order.h"

namespace tables {

using platform::OsStatus;
using namespace journal_format;

namespace {

constexpr size_t kPendingBytes = 64u << 10;  // records kept before Sync at most

void Put16(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put64(std::vector<uint8_t>* out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutString(std::vector<uint8_t>* out, std::string_view s) {
  Put16(out, static_cast<uint16_t>(std::min<size_t>(s.size(), 0xFFFF)));
  out->insert(out->end(), s.begin(), s.begin() + std::min<size_t>(s.size(), 0xFFFF));
}

std::string BaseName(std::string_view path) {
  size_t slash = path.find_last_of("\\/");
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool g_flushes = true;
uint64_t g_held_image_bytes = 64 << 10;
constexpr uint64_t kMaxImageBytes = 32 << 10;  // one image record at most

}  // namespace

namespace journal_format {

// CRC-32 (the zlib polynomial), eight bytes a step through eight tables:
// the journal checks every byte it writes, the old pages of a long append
// included.
uint32_t Crc32(const uint8_t* p, size_t n, uint32_t crc) {
  static const std::array<std::array<uint32_t, 256>, 8> tables = [] {
    std::array<std::array<uint32_t, 256>, 8> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i) {
      for (size_t k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
    return t;
  }();
  crc = ~crc;
  for (; n >= 8; p += 8, n -= 8) {
    const uint32_t lo =
        crc ^ (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
    crc = tables[7][lo & 0xFF] ^ tables[6][(lo >> 8) & 0xFF] ^ tables[5][(lo >> 16) & 0xFF] ^
          tables[4][lo >> 24] ^ tables[3][p[4]] ^ tables[2][p[5]] ^ tables[1][p[6]] ^
          tables[0][p[7]];
  }
  for (; n > 0; ++p, --n) crc = tables[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

}  // namespace journal_format

void SetTransactionFlushes(bool on) { g_flushes = on; }

uint64_t SetHeldImageBytes(uint64_t bytes) { return std::exchange(g_held_image_bytes, bytes); }

std::string JournalPath(std::string_view table_path) {
  size_t slash = table_path.find_last_of("\\/");
  size_t dot = table_path.find_last_of('.');
  std::string_view base =
      (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash))
          ? table_path.substr(0, dot)
          : table_path;
  return std::string(base) + ".jnl";
}

// ---------------------------------------------------------------- writer side

RollbackJournal::RollbackJournal(std::string table_path)
    : table_path_(std::move(table_path)), path_(JournalPath(table_path_)) {}

RollbackJournal::~RollbackJournal() {
  // A journal still open here belongs to a transaction that neither committed
  // nor rolled back: leave it for recovery (closing drops the liveness lock).
}

void RollbackJournal::Attach(char role, platform::File* file, std::string file_name) {
  if (file == nullptr) {
    targets_.erase(role);
    return;
  }
  Target& t = targets_[role];
  t.file = file;
  t.name = BaseName(file_name);
}

RollbackJournal::Target* RollbackJournal::Find(char role) {
  auto it = targets_.find(role);
  return it == targets_.end() ? nullptr : &it->second;
}

Status RollbackJournal::Fail(const char* what, OsStatus s) {
  return Status(Status::kWrite, std::string("rollback journal: ") + what, s.code(), path_);
}

size_t RollbackJournal::OpenRecord(uint8_t type) {
  const size_t start = pending_.size();
  pending_.push_back(type);
  pending_.insert(pending_.end(), 7, 0);  // 3 zero bytes, the length (CloseRecord)
  return start;
}

Status RollbackJournal::CloseRecord(size_t start) {
  const uint32_t length = static_cast<uint32_t>(pending_.size() - start - 8);
  for (int i = 0; i < 4; ++i) pending_[start + 4 + i] = static_cast<uint8_t>(length >> (8 * i));
  Put32(&pending_, Crc32(pending_.data() + start, pending_.size() - start));
  dirty_ = true;
  // A big batch (the pages of an index update) goes out in slices.
  return pending_.size() >= kPendingBytes ? WritePending() : Status::Ok();
}

Status RollbackJournal::Append(uint8_t type, const std::vector<uint8_t>& payload) {
  const size_t start = OpenRecord(type);
  pending_.insert(pending_.end(), payload.begin(), payload.end());
  return CloseRecord(start);
}

Status RollbackJournal::WritePending() {
  if (pending_.empty()) return Status::Ok();
  OsStatus s = file_->WriteAt(end_, pending_.data(), pending_.size());
  if (!s.ok()) return Fail("cannot write the journal", s);
  end_ += pending_.size();
  pending_.clear();
  return Status::Ok();
}

Status RollbackJournal::Begin(const CommitCondition* condition) {
  if (active_) return Status(Status::kArgument, "transaction already open", 0, path_);
  // Mapped once: the journal stays beside the files this table opened.
  if (!own_path_) own_path_ = std::make_unique<platform::OwnFilePath>(path_);
  std::unique_ptr<platform::File> f;
  // Usually there is none: created here, empty, and nobody else's (other
  // writers of ours wait for the header lock we hold).
  OsStatus s = platform::OpenOwnFile(*own_path_, platform::Access::kReadWrite,
                                     platform::Disposition::kCreateNew, 0x20, &f);
  const bool created = s.ok();
  if (s.code() == platform::kErrorFileExists) {
    s = platform::OpenOwnFile(*own_path_, platform::Access::kReadWrite,
                              platform::Disposition::kOpenAlways, 0x20, &f);
  }
  if (!s.ok()) {
    return Status(Status::kOpen, "cannot create the rollback journal " + path_, s.code(), path_);
  }
  // Our own header lock keeps our other writers out; a holder here is a
  // recoverer of a dead writer's journal, which finishes quickly.
  s = platform::LockWithin(f.get(), kJournalLiveByte, 1, platform::LockKind::kExclusive,
                           platform::LockPatience());
  if (!s.ok()) {
    return Status(Status::kLock, "the rollback journal " + path_ + " is in use", s.code(), path_);
  }
  uint64_t size = 0;
  if (!created) s = f->Size(&size);
  if (s.ok() && size > 0) {
    // A journal we may lock but not empty: a dead writer's, not recovered.
    f->Unlock(kJournalLiveByte, 1);
    return Status(Status::kCorruption,
                  "an unfinished transaction's journal " + path_ + " is waiting for recovery", 0,
                  path_);
  }
  if (!s.ok()) return Fail("cannot read the journal size", s);
  file_ = std::move(f);
  end_ = 0;
  held_bytes_ = 0;
  pending_.clear();
  stats_ = Stats();
  tables_flushed_ = false;
  std::vector<uint8_t> p(kSignature, kSignature + sizeof kSignature);
  Put16(&p, kVersion);
  p.push_back(static_cast<uint8_t>(targets_.size()));
  for (auto& [role, t] : targets_) {
    t.covered.clear();
    t.images.clear();
    t.sized = false;
    t.state_known = 0;
    p.push_back(static_cast<uint8_t>(role));
    PutString(&p, t.name);
  }
  p.push_back(condition ? 1 : 0);
  if (condition) {
    PutString(&p, condition->ini_path);
    PutString(&p, condition->section);
    PutString(&p, condition->key);
  }
  Status st = Append(kBegin, p);
  if (!st.ok()) {
    Finish();
    return st;
  }
  active_ = true;
  return Status::Ok();
}

Status RollbackJournal::Touch(char role, Target* t) {
  if (t->sized) return Status::Ok();
  OsStatus s = t->file->Size(&t->old_size);
  if (!s.ok()) return Status(Status::kRead, "cannot read the size of " + t->name, s.code(), path_);
  std::vector<uint8_t> p;
  p.push_back(static_cast<uint8_t>(role));
  Put64(&p, t->old_size);
  TABLE_RETURN_IF_ERROR(Append(kSize, p));
  t->sized = true;
  t->size = t->old_size;
  t->state_known = 0;
  return Status::Ok();
}

Status RollbackJournal::Cover(char role, uint64_t offset, uint64_t length) {
  if (!active_) return Status::Ok();
  Target* t = Find(role);
  if (t == nullptr) return Status::Ok();
  TABLE_RETURN_IF_ERROR(Touch(role, t));
  tables_flushed_ = false;
  uint64_t end = std::min(offset + length, t->old_size);
  uint64_t at = offset;
  while (at < end) {
    // Skip what is saved already.
    auto it = t->covered.upper_bound(at);
    if (it != t->covered.begin()) {
      auto prev = std::prev(it);
      if (prev->second > at) {
        at = prev->second;
        continue;
      }
    }
    uint64_t stop = it == t->covered.end() ? end : std::min(end, it->first);
    stop = std::min(stop, at + kMaxImageBytes);  // long ranges in pieces: little memory
    // The record is built in the pending bytes, the old bytes read in place.
    const size_t start = OpenRecord(kImage);
    pending_.push_back(static_cast<uint8_t>(role));
    Put64(&pending_, at);
    Put32(&pending_, 0);  // the image's length, once read
    const size_t bytes_pos = pending_.size();
    pending_.resize(bytes_pos + static_cast<size_t>(stop - at));
    size_t got = 0;
    OsStatus s =
        t->file->ReadAt(at, pending_.data() + bytes_pos, static_cast<size_t>(stop - at), &got);
    if (!s.ok()) {
      pending_.resize(start);
      return Status(Status::kRead, "cannot read " + t->name, s.code(), path_);
    }
    pending_.resize(bytes_pos + got);
    for (int i = 0; i < 4; ++i) {
      pending_[bytes_pos - 4 + i] = static_cast<uint8_t>(got >> (8 * i));
    }
    Target::Image image{at, got, end_ + bytes_pos, {}};
    if (held_bytes_ + got <= g_held_image_bytes) {
      held_bytes_ += got;
      image.bytes.assign(pending_.begin() + static_cast<ptrdiff_t>(bytes_pos), pending_.end());
    }
    stats_.image_bytes += got;
    TABLE_RETURN_IF_ERROR(CloseRecord(start));
    t->images.push_back(std::move(image));
    // Merge into the covered set.
    uint64_t from = at, to = stop;
    auto first = t->covered.lower_bound(from);
    if (first != t->covered.begin() && std::prev(first)->second == from) {
      --first;
      from = first->first;
    }
    auto last = first;
    while (last != t->covered.end() && last->first <= to) {
      to = std::max(to, last->second);
      ++last;
    }
    t->covered.erase(first, last);
    t->covered[from] = to;
    at = stop;
  }
  return Status::Ok();
}

Status RollbackJournal::Sync() {
  if (!active_ || !dirty_) return Status::Ok();
  TABLE_RETURN_IF_ERROR(WritePending());
  OsStatus s = g_flushes ? file_->Flush() : OsStatus::Ok();
  if (!s.ok()) return Fail("cannot flush the journal", s);
  ++stats_.journal_flushes;
  dirty_ = false;
  return Status::Ok();
}

Status RollbackJournal::FlushTables() {
  if (tables_flushed_) return Status::Ok();
  for (auto& [role, t] : targets_) {
    if (!t.sized || !g_flushes) continue;  // not changed by this transaction
    OsStatus s = t.file->Flush();
    if (!s.ok()) return Status(Status::kWrite, "cannot flush " + t.name, s.code(), path_);
    ++stats_.table_flushes;
  }
  tables_flushed_ = true;
  return Status::Ok();
}

void RollbackJournal::Wrote(char role, uint64_t offset, const void* data, size_t n) {
  if (!active_) return;
  Target* t = Find(role);
  if (t == nullptr || !t->sized) return;
  auto [at, len] = StateRange(role);
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  for (uint64_t i = 0; i < len; ++i) {
    const uint64_t p = at + i;
    if (p >= offset && p < offset + n) {
      t->state[i] = bytes[p - offset];
    } else if (p >= t->size && p < offset) {
      t->state[i] = 0;  // a hole left by a write past the end reads zeros
    } else {
      continue;
    }
    t->state_known |= static_cast<uint8_t>(1u << i);
  }
  t->size = std::max(t->size, offset + n);
}

void RollbackJournal::Truncated(char role, uint64_t size) {
  if (!active_) return;
  Target* t = Find(role);
  if (t == nullptr || !t->sized) return;
  auto [at, len] = StateRange(role);
  for (uint64_t i = 0; i < len; ++i) {
    // Cut off (read as zeros, as Fingerprint reads past the end) or grown (a hole of zeros).
    const uint64_t p = at + i;
    if (p >= size || p >= t->size) {
      t->state[i] = 0;
      t->state_known |= static_cast<uint8_t>(1u << i);
    }
  }
  t->size = size;
}

// The fingerprint of a file the transaction changed: its size and the state
// bytes as our writes left them; state bytes we did not write are read.
Status RollbackJournal::EndFingerprint(char role, Target* t, std::vector<uint8_t>* out) {
  auto [at, len] = StateRange(role);
  std::vector<uint8_t> state(t->state, t->state + len);
  if (t->state_known != static_cast<uint8_t>((1u << len) - 1)) {
    std::fill(state.begin(), state.end(), 0);
    size_t got = 0;
    OsStatus s = t->file->ReadAt(at, state.data(), state.size(), &got);
    if (!s.ok()) return Status(Status::kRead, "cannot read a file of the transaction", s.code());
  }
  out->push_back(static_cast<uint8_t>(role));
  Put64(out, t->size);
  out->insert(out->end(), state.begin(), state.end());
  return Status::Ok();
}

Status RollbackJournal::MarkEnd(bool flush_journal) {
  if (!active_) return Status::Ok();
  TABLE_RETURN_IF_ERROR(FlushTables());
  std::vector<uint8_t> p;
  p.push_back(static_cast<uint8_t>(targets_.size()));
  for (auto& [role, t] : targets_) {
    // A file the transaction did not change is read as it is: another
    // program's later change to it (the index of a record it rewrote) must
    // stop the undo too.
    TABLE_RETURN_IF_ERROR(t.sized ? EndFingerprint(role, &t, &p) : Fingerprint(role, t.file, &p));
  }
  TABLE_RETURN_IF_ERROR(Append(kEnd, p));
  return flush_journal ? Sync() : WritePending();
}

Status RollbackJournal::Finish() {
  // Emptied first: an empty journal is void whatever happens next, even when
  // the delete is refused (another program holds it open on Windows).
  OsStatus s = file_->Truncate(0);
  if (!s.ok()) return Fail("cannot empty the journal", s);  // still open: Rollback can follow
  file_->Unlock(kJournalLiveByte, 1);
  file_.reset();
  active_ = false;
  dirty_ = false;
  pending_.clear();
  for (auto& [role, t] : targets_) {
    t.covered.clear();
    t.images.clear();
    t.sized = false;
  }
  platform::RemoveOwnFile(*own_path_);
  return Status::Ok();
}

void RollbackJournal::Abandon() {
  if (!active_) return;
  file_.reset();
  active_ = false;
  dirty_ = false;
  pending_.clear();
}

Status RollbackJournal::Commit() {
  if (!active_) return Status::Ok();
  TABLE_RETURN_IF_ERROR(FlushTables());
  return Finish();
}

Status RollbackJournal::CoverAll(char role,
                                 const std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
  // The records wait in the pending buffer and go out together at Sync.
  for (const auto& [offset, length] : ranges) TABLE_RETURN_IF_ERROR(Cover(role, offset, length));
  return Status::Ok();
}

}  // namespace tables
