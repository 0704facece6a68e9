// Putting a table's files back: the writer's own Rollback, and the reader
// that judges and replays a journal found beside a table (RecoverJournal)
// and tells whether its writer lives. The writer and the record format:
// rollback_journal.cc.
#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/profile.h"
#include "tables/cdx/rollback_journal.h"
#include "tables/dbf/byte_order.h"

namespace tables {

using platform::OsStatus;
using namespace journal_format;

namespace {

constexpr uint32_t kMaxPayload = 64u << 20;

void Put64(std::vector<uint8_t>* out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Bounds-checked reader over one record's payload.
class Reader {
 public:
  Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  bool ok() const { return ok_; }
  bool done() const { return at_ == n_; }
  uint64_t Get(int bytes) {
    if (!Need(static_cast<size_t>(bytes))) return 0;
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<uint64_t>(p_[at_ + i]) << (8 * i);
    at_ += static_cast<size_t>(bytes);
    return v;
  }
  std::string String() {
    size_t len = static_cast<size_t>(Get(2));
    if (!Need(len)) return {};
    std::string s(reinterpret_cast<const char*>(p_ + at_), len);
    at_ += len;
    return s;
  }
  const uint8_t* Bytes(size_t len) {
    if (!Need(len)) return nullptr;
    const uint8_t* b = p_ + at_;
    at_ += len;
    return b;
  }

 private:
  bool Need(size_t len) {
    if (!ok_ || n_ - at_ < len) ok_ = false;
    return ok_;
  }
  const uint8_t* p_;
  size_t n_;
  size_t at_ = 0;
  bool ok_ = true;
};

std::string DirectoryOf(std::string_view path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

}  // namespace

namespace journal_format {

// The bytes of a file whose change shows that someone wrote it: the record
// count of a table, the free list and change counter of an index, the next
// free block of a memo file.
std::pair<uint64_t, uint64_t> StateRange(char role) {
  switch (role) {
    case 'D':
      return {4, 4};
    case 'C':
      return {4, 8};
    default:
      return {0, 4};
  }
}

Status Fingerprint(char role, platform::File* f, std::vector<uint8_t>* out) {
  uint64_t size = 0;
  OsStatus s = f->Size(&size);
  auto [at, n] = StateRange(role);
  std::vector<uint8_t> state(n, 0);
  size_t got = 0;
  if (s.ok()) s = f->ReadAt(at, state.data(), state.size(), &got);
  if (!s.ok()) return Status(Status::kRead, "cannot read a file of the transaction", s.code());
  out->push_back(static_cast<uint8_t>(role));
  Put64(out, size);
  out->insert(out->end(), state.begin(), state.end());
  return Status::Ok();
}

}  // namespace journal_format

// ---------------------------------------------------------------- putting back

Status RollbackJournal::Rollback() {
  if (!active_) return Status::Ok();
  Status result;
  for (auto& [role, t] : targets_) {
    std::vector<uint8_t> read;
    for (auto it = t.images.rbegin(); it != t.images.rend(); ++it) {
      const std::vector<uint8_t>* bytes = &it->bytes;
      OsStatus s;
      if (bytes->size() != it->length) {
        // Bytes beyond what reached the journal belong to a batch whose
        // write failed: the table was not written there.
        if (it->journal_at + it->length > end_) continue;
        read.resize(static_cast<size_t>(it->length));
        size_t got = 0;
        s = file_->ReadAt(it->journal_at, read.data(), read.size(), &got);
        if (s.ok() && got != read.size()) s = OsStatus(platform::kErrorReadFault);
        bytes = &read;
      }
      if (s.ok()) s = t.file->WriteAt(it->offset, bytes->data(), bytes->size());
      if (!s.ok() && result.ok()) {
        result = Status(Status::kWrite, "cannot put " + t.name + " back", s.code(), path_);
      }
    }
    if (!t.sized) continue;
    uint64_t size = 0;
    OsStatus s = t.file->Size(&size);
    if (s.ok() && size != t.old_size) s = t.file->Truncate(t.old_size);
    if (s.ok()) s = t.file->Flush();
    if (!s.ok() && result.ok()) {
      result = Status(Status::kWrite, "cannot put " + t.name + " back", s.code(), path_);
    }
  }
  // The journal stays for recovery when the files could not be put back.
  if (!result.ok()) return result;
  return Finish();
}

const char* RecoveryResultName(RecoveryResult r) {
  switch (r) {
    case RecoveryResult::kNone:
      return "no journal";
    case RecoveryResult::kLive:
      return "journal of a running writer left alone";
    case RecoveryResult::kDiscarded:
      return "journal cut short discarded (nothing had changed)";
    case RecoveryResult::kRolledBack:
      return "interrupted transaction rolled back";
    case RecoveryResult::kKept:
      return "held transaction kept (its marker was written)";
    case RecoveryResult::kRefused:
      return "journal left alone: the files changed since";
  }
  return "?";
}

bool JournalInUse(std::string_view table_path) {
  std::unique_ptr<platform::File> f;
  if (!platform::OpenFile(JournalPath(table_path), platform::Access::kRead,
                          platform::Share::kDenyNone, platform::Disposition::kOpenExisting, 0, &f)
           .ok()) {
    return false;
  }
  if (!f->Lock(kJournalLiveByte, 1, platform::LockKind::kShared, false).ok()) return true;
  f->Unlock(kJournalLiveByte, 1);
  return false;
}

std::string ReadConditionValue(const CommitCondition& c) {
  char buffer[64] = {};
  platform::GetPrivateProfileStringA(c.section.c_str(), c.key.c_str(), "", buffer, sizeof buffer,
                                     c.ini_path.c_str());
  return buffer;
}

// ---------------------------------------------------------------- reader side

namespace {

struct ParsedJournal {
  bool valid = false;  // a complete begin record
  struct File {
    char role;
    std::string name;
    bool sized = false;  // touched by the transaction: old_size is known
    uint64_t old_size = 0;
  };
  std::vector<File> files;
  bool has_condition = false;
  CommitCondition condition;
  struct Image {
    char role;
    uint64_t offset;
    std::vector<uint8_t> bytes;
  };
  std::vector<Image> images;
  bool has_end = false;
  std::vector<uint8_t> end_fingerprint;
};

void Parse(const std::vector<uint8_t>& data, ParsedJournal* out) {
  size_t at = 0;
  bool first = true;
  while (data.size() - at >= kRecordOverhead) {
    const uint8_t* r = data.data() + at;
    uint32_t len = Le32(r + 4);
    if (len > kMaxPayload || len > data.size() - at - kRecordOverhead) break;
    if (Crc32(r, 8 + len) != Le32(r + 8 + len)) break;
    Reader in(r + 8, len);
    uint8_t type = r[0];
    if (first) {
      if (type != kBegin) break;
      const uint8_t* sig = in.Bytes(sizeof kSignature);
      if (sig == nullptr || std::memcmp(sig, kSignature, sizeof kSignature) != 0 ||
          in.Get(2) != kVersion) {
        break;
      }
      size_t n = static_cast<size_t>(in.Get(1));
      for (size_t i = 0; i < n && in.ok(); ++i) {
        ParsedJournal::File f;
        f.role = static_cast<char>(in.Get(1));
        f.name = in.String();
        out->files.push_back(f);
      }
      out->has_condition = in.Get(1) != 0;
      if (out->has_condition) {
        out->condition.ini_path = in.String();
        out->condition.section = in.String();
        out->condition.key = in.String();
      }
      if (!in.ok()) break;
      out->valid = true;
      first = false;
    } else if (type == kSize) {
      char role = static_cast<char>(in.Get(1));
      uint64_t size = in.Get(8);
      if (!in.ok()) break;
      for (auto& f : out->files) {
        if (f.role == role && !f.sized) {
          f.sized = true;
          f.old_size = size;
        }
      }
    } else if (type == kImage) {
      ParsedJournal::Image img;
      img.role = static_cast<char>(in.Get(1));
      img.offset = in.Get(8);
      size_t n = static_cast<size_t>(in.Get(4));
      const uint8_t* b = in.Bytes(n);
      if (b == nullptr) break;
      img.bytes.assign(b, b + n);
      out->images.push_back(std::move(img));
    } else if (type == kEnd) {
      out->has_end = true;
      out->end_fingerprint.assign(r + 8, r + 8 + len);
    } else {
      break;
    }
    at += kRecordOverhead + len;
  }
}

// Whether the files are still as the end record's fingerprint describes them:
// every file it lists has that size and those state bytes now.
Status FingerprintHolds(const std::vector<uint8_t>& end,
                        const std::map<char, platform::File*>& files, bool* same) {
  *same = false;
  if (end.empty()) return Status::Ok();
  size_t at = 1;
  for (size_t i = 0; i < end[0]; ++i) {
    if (at >= end.size()) return Status::Ok();
    const char role = static_cast<char>(end[at]);
    const size_t n = 1 + 8 + static_cast<size_t>(StateRange(role).second);
    auto it = files.find(role);
    if (it == files.end() || end.size() - at < n) return Status::Ok();
    std::vector<uint8_t> now;
    TABLE_RETURN_IF_ERROR(Fingerprint(role, it->second, &now));
    if (!std::equal(now.begin(), now.end(), end.begin() + static_cast<std::ptrdiff_t>(at))) {
      return Status::Ok();
    }
    at += n;
  }
  *same = at == end.size();
  return Status::Ok();
}

// Other programs may have read pages of the index while it was half written
// and kept them under the change counter it had then: the value before the
// transaction (the writer died before moving it) or the one after. The index
// put back gets a value that neither state had, so that they drop them.
OsStatus MoveIndexCounter(platform::File* file) {
  uint8_t b[4];
  size_t got = 0;
  OsStatus s = file->ReadAt(8, b, sizeof b, &got);
  if (!s.ok() || got != sizeof b) return s;
  PutBe32(b, Be32(b) + 2);
  return file->WriteAt(8, b, sizeof b);
}

// Reads the whole journal (at most 2 GB) into *data.
Status ReadJournal(platform::File* f, const std::string& path, std::vector<uint8_t>* data) {
  uint64_t size = 0;
  OsStatus s = f->Size(&size);
  if (s.ok()) {
    data->resize(static_cast<size_t>(std::min<uint64_t>(size, uint64_t{1} << 31)));
    size_t got = 0;
    s = f->ReadAt(0, data->data(), data->size(), &got);
    data->resize(got);
  }
  if (!s.ok()) return Status(Status::kRead, "cannot read the journal " + path, s.code(), path);
  return Status::Ok();
}

// Empties the journal, lets its live byte go, closes and removes it: a
// journal that cannot be emptied stays, with an error.
Status RemoveJournal(std::unique_ptr<platform::File>* f, const std::string& path) {
  OsStatus t = (*f)->Truncate(0);
  if (t.ok()) t = (*f)->Flush();
  (*f)->Unlock(kJournalLiveByte, 1);
  f->reset();
  if (!t.ok()) return Status(Status::kWrite, "cannot empty the journal " + path, t.code(), path);
  platform::RemoveFile(path);
  return Status::Ok();
}

// Opens, through the caller, every file the journal names, by role.
Status OpenJournalFiles(const ParsedJournal& j, std::string_view table_path,
                        const JournalFileOpener& open_file, const std::string& path,
                        std::map<char, platform::File*>* files) {
  for (const auto& jf : j.files) {
    platform::File* file = open_file(jf.role, DirectoryOf(table_path) + jf.name);
    if (file == nullptr) {
      return Status(Status::kOpen, path + ": cannot open " + jf.name + " to recover it", 0, path);
    }
    (*files)[jf.role] = file;
  }
  return Status::Ok();
}

// Writes the saved images back, last first, then gives every file its old
// size (the index a new change counter) and flushes it. Goes on past a
// failure and answers the first.
Status PutFilesBack(const ParsedJournal& j, std::map<char, platform::File*>& files,
                    const std::string& path) {
  Status put_back;
  OsStatus s;
  for (auto it = j.images.rbegin(); it != j.images.rend(); ++it) {
    auto fit = files.find(it->role);
    if (fit == files.end()) continue;
    s = fit->second->WriteAt(it->offset, it->bytes.data(), it->bytes.size());
    if (!s.ok() && put_back.ok()) {
      put_back = Status(Status::kWrite, path + ": cannot put a file back", s.code(), path);
    }
  }
  for (const auto& jf : j.files) {
    if (!jf.sized) continue;
    platform::File* file = files[jf.role];
    uint64_t now_size = 0;
    s = file->Size(&now_size);
    if (s.ok() && now_size != jf.old_size) s = file->Truncate(jf.old_size);
    if (s.ok() && jf.role == 'C') s = MoveIndexCounter(file);
    if (s.ok()) s = file->Flush();
    if (!s.ok() && put_back.ok()) {
      put_back = Status(Status::kWrite, path + ": cannot put " + jf.name + " back", s.code(), path);
    }
  }
  return put_back;
}

}  // namespace

Status RecoverJournal(std::string_view table_path, const JournalFileOpener& open_file, bool force,
                      RecoveryResult* result, std::string* detail) {
  *result = RecoveryResult::kNone;
  std::string path = JournalPath(table_path);
  auto say = [&](RecoveryResult r, std::string text) {
    *result = r;
    if (detail) *detail = path + ": " + RecoveryResultName(r) + (text.empty() ? "" : ": " + text);
  };
  if (!platform::FileExists(path)) return Status::Ok();
  std::unique_ptr<platform::File> f;
  OsStatus s = platform::OpenFile(path, platform::Access::kReadWrite, platform::Share::kDenyNone,
                                  platform::Disposition::kOpenExisting, 0, &f);
  if (s.code() == platform::kErrorFileNotFound) return Status::Ok();
  if (!s.ok()) return Status(Status::kOpen, "cannot open the journal " + path, s.code(), path);
  // The writer holds this byte for the transaction's life; so does a
  // recoverer. Never judged by age.
  s = f->Lock(kJournalLiveByte, 1, platform::LockKind::kExclusive, false);
  if (!s.ok()) {
    say(RecoveryResult::kLive, "");
    return Status::Ok();
  }
  std::vector<uint8_t> data;
  TABLE_RETURN_IF_ERROR(ReadJournal(f.get(), path, &data));
  ParsedJournal j;
  Parse(data, &j);
  if (!j.valid) {
    say(RecoveryResult::kDiscarded, "");
    return RemoveJournal(&f, path);
  }
  std::map<char, platform::File*> files;
  TABLE_RETURN_IF_ERROR(OpenJournalFiles(j, table_path, open_file, path, &files));
  if (j.has_end) {
    bool same = false;
    TABLE_RETURN_IF_ERROR(FingerprintHolds(j.end_fingerprint, files, &same));
    if (!same && !force) {
      say(RecoveryResult::kRefused, "another program wrote after the transaction");
      return Status(Status::kCorruption,
                    path +
                        ": an interrupted transaction cannot be undone, the files changed "
                        "after it (run tabletool recover --force to undo it anyway)",
                    0, path);
    }
    if (j.has_condition && ReadConditionValue(j.condition) == "1") {
      say(RecoveryResult::kKept,
          "[" + j.condition.section + "] " + j.condition.key + "=1 in " + j.condition.ini_path);
      return RemoveJournal(&f, path);
    }
  }
  TABLE_RETURN_IF_ERROR(PutFilesBack(j, files, path));
  say(RecoveryResult::kRolledBack, std::to_string(j.images.size()) + " ranges put back" +
                                       (j.has_end ? "" : ", the writer died mid-transaction"));
  return RemoveJournal(&f, path);
}

}  // namespace tables
