#include "tables/dbf/fpt_file.h"

#include <algorithm>
#include <cstring>

#include "tables/dbf/dbf_header.h"

namespace tables {
namespace {

constexpr uint32_t kHeaderSize = 512;
constexpr uint32_t kDbtBlock = 512;

Status IoError(Status::Code code, const std::string& name, const char* what, platform::OsStatus s) {
  return Status(code, name + ": " + what, s.code(), name);
}

}  // namespace

Status MemoFile::Open(std::unique_ptr<platform::File> file, std::string name, char kind,
                      bool shared, std::vector<LockRange> lock, std::unique_ptr<MemoFile>* out) {
  std::unique_ptr<MemoFile> m(new MemoFile);
  m->file_ = std::move(file);
  m->name_ = std::move(name);
  m->kind_ = kind;
  m->shared_ = shared;
  m->lock_ = std::move(lock);
  if (kind == 'D') {
    m->block_size_ = kDbtBlock;
  } else {
    // Only the block size (bytes 6-7): byte 0 is the memo lock byte, and on
    // Windows another program allocating a memo makes reads of it fail.
    uint8_t h[2];
    size_t got = 0;
    platform::OsStatus s = m->file_->ReadAt(6, h, 2, &got);
    if (!s.ok()) return IoError(Status::kRead, m->name_, "cannot read the memo header", s);
    if (got < 2)
      return Status(Status::kCorruption, m->name_ + ": memo file shorter than its header", 0,
                    m->name_);
    uint32_t bs = (static_cast<uint32_t>(h[0]) << 8) | h[1];
    if (bs == 0) {
      return Status(Status::kCorruption, m->name_ + ": memo block size 0", 0, m->name_);
    }
    m->block_size_ = bs;
  }
  *out = std::move(m);
  return Status::Ok();
}

Status MemoFile::InitFpt(platform::File* file, uint32_t block_size) {
  std::vector<uint8_t> h(kHeaderSize, 0);
  uint32_t first = (kHeaderSize + block_size - 1) / block_size;
  PutBe32(h.data(), first);
  h[6] = static_cast<uint8_t>(block_size >> 8);
  h[7] = static_cast<uint8_t>(block_size);
  platform::OsStatus s = file->WriteAt(0, h.data(), h.size());
  if (!s.ok()) return Status(Status::kWrite, "cannot write the memo header", s.code());
  return Status::Ok();
}

uint32_t MemoFile::BlocksOf(uint32_t block) {
  if (kind_ != 'F' || block == 0) return 0;
  uint8_t bh[8];
  size_t got = 0;
  if (!file_->ReadAt(static_cast<uint64_t>(block) * block_size_, bh, 8, &got).ok() || got < 8) {
    return 0;
  }
  uint64_t len = Be32(bh + 4);
  return static_cast<uint32_t>((8 + len + block_size_ - 1) / block_size_);
}

Status MemoFile::Read(uint32_t block, std::string* out, uint32_t* type) {
  out->clear();
  if (type) *type = 1;
  if (block == 0) return Status::Ok();
  uint64_t size = 0;
  platform::OsStatus s = file_->Size(&size);
  if (!s.ok()) return IoError(Status::kRead, name_, "cannot read the memo file size", s);
  uint64_t at = static_cast<uint64_t>(block) * block_size_;
  std::string where = name_ + ": memo block " + std::to_string(block);
  if (at < kHeaderSize) {
    return Status(Status::kCorruption, where + " lies inside the header", 0, name_);
  }
  if (kind_ == 'D') {
    // Text up to the first 0x1A, read a block at a time.
    std::string chunk(kDbtBlock, '\0');
    while (at < size) {
      size_t got = 0;
      s = file_->ReadAt(at, chunk.data(), chunk.size(), &got);
      if (!s.ok()) return IoError(Status::kRead, name_, "cannot read a memo block", s);
      size_t end = chunk.find('\x1a');
      if (end != std::string::npos && end < got) {
        out->append(chunk, 0, end);
        return Status::Ok();
      }
      out->append(chunk, 0, got);
      if (got < chunk.size()) break;
      at += got;
    }
    if (at >= size)
      return Status(Status::kCorruption, where + " lies past the end of the file", 0, name_);
    return Status::Ok();
  }
  if (at + 8 > size) {
    return Status(Status::kCorruption, where + " lies past the end of the file", 0, name_);
  }
  uint8_t bh[8];
  size_t got = 0;
  s = file_->ReadAt(at, bh, 8, &got);
  if (!s.ok()) return IoError(Status::kRead, name_, "cannot read a memo block", s);
  uint32_t block_type = Be32(bh);
  uint64_t len = Be32(bh + 4);
  if (block_type > 2) {
    return Status(Status::kCorruption, where + " has unknown type " + std::to_string(block_type), 0,
                  name_);
  }
  if (at + 8 + len > size) {
    return Status(Status::kCorruption, where + " runs past the end of the file", 0, name_);
  }
  out->resize(static_cast<size_t>(len));
  s = file_->ReadAt(at + 8, out->data(), out->size(), &got);
  if (!s.ok()) return IoError(Status::kRead, name_, "cannot read a memo block", s);
  if (got != len) return Status(Status::kCorruption, where + " is cut short", 0, name_);
  if (type) *type = block_type;
  return Status::Ok();
}

Status MemoFile::LockAlloc() {
  if (!shared_ || locked_) return Status::Ok();
  for (size_t i = 0; i < lock_.size(); ++i) {
    platform::OsStatus s =
        platform::LockWithin(file_.get(), lock_[i].offset, lock_[i].length,
                             platform::LockKind::kExclusive, platform::LockPatience());
    if (!s.ok()) {
      while (i-- > 0) file_->Unlock(lock_[i].offset, lock_[i].length);
      return Status(Status::kLock, name_ + ": cannot lock the memo file", s.code(), name_);
    }
  }
  locked_ = true;
  return Status::Ok();
}

void MemoFile::UnlockAlloc() {
  if (!locked_) return;
  for (size_t i = lock_.size(); i-- > 0;) file_->Unlock(lock_[i].offset, lock_[i].length);
  locked_ = false;
}

Status MemoFile::ReadHeader(uint32_t* next_free) {
  uint8_t h[4];
  size_t got = 0;
  platform::OsStatus s = file_->ReadAt(0, h, 4, &got);
  if (!s.ok() || got < 4) return IoError(Status::kRead, name_, "cannot read the memo header", s);
  *next_free = kind_ == 'D' ? Le32(h) : Be32(h);
  return Status::Ok();
}

Status MemoFile::ReadState(uint32_t* next_free, uint64_t* file_size) {
  // The header is read under the memo lock taken shared, as other readers of
  // it do: a writer holds it exclusively while it allocates (and on Windows
  // the lock byte cannot be read meanwhile).
  size_t taken = 0;
  auto release = [&] {
    while (taken-- > 0) file_->Unlock(lock_[taken].offset, lock_[taken].length);
  };
  if (shared_ && !locked_) {
    for (; taken < lock_.size(); ++taken) {
      platform::OsStatus s =
          platform::LockWithin(file_.get(), lock_[taken].offset, lock_[taken].length,
                               platform::LockKind::kShared, platform::LockPatience());
      if (!s.ok()) {
        release();
        return Status(Status::kLock, name_ + ": cannot lock the memo file", s.code(), name_);
      }
    }
  }
  Status st = ReadHeader(next_free);
  platform::OsStatus s = file_->Size(file_size);
  release();
  TABLE_RETURN_IF_ERROR(st);
  if (!s.ok()) return IoError(Status::kRead, name_, "cannot read the memo file size", s);
  return Status::Ok();
}

Status MemoFile::Write(std::string_view value, uint32_t type, uint32_t old_block, uint32_t* block) {
  *block = 0;
  if (value.empty()) return Status::Ok();
  TABLE_RETURN_IF_ERROR(LockAlloc());
  struct Release {
    MemoFile* m;
    ~Release() {
      if (m->batch_depth_ == 0) m->UnlockAlloc();
    }
  } release{this};

  uint32_t next_free = 0;
  TABLE_RETURN_IF_ERROR(ReadHeader(&next_free));
  uint64_t size = 0;
  platform::OsStatus s = file_->Size(&size);
  if (!s.ok()) return IoError(Status::kWrite, name_, "cannot read the memo file size", s);
  uint32_t first_block = (kHeaderSize + block_size_ - 1) / block_size_;
  // A free pointer behind the end of the data would hand out used blocks.
  uint64_t blocks_in_file = (size + block_size_ - 1) / block_size_;
  if (next_free < first_block || next_free < blocks_in_file) {
    next_free = static_cast<uint32_t>(std::max<uint64_t>(first_block, blocks_in_file));
  }

  std::vector<uint8_t> data;
  uint32_t need;
  if (kind_ == 'D') {
    data.assign(value.begin(), value.end());
    data.push_back(0x1A);
    data.push_back(0x1A);
    need = static_cast<uint32_t>((data.size() + kDbtBlock - 1) / kDbtBlock);
    old_block = 0;  // dBASE III memos are append-only
  } else {
    data.resize(8 + value.size());
    PutBe32(data.data(), type);
    PutBe32(data.data() + 4, static_cast<uint32_t>(value.size()));
    std::memcpy(data.data() + 8, value.data(), value.size());
    need = static_cast<uint32_t>((data.size() + block_size_ - 1) / block_size_);
  }
  data.resize(static_cast<size_t>(need) * block_size_, 0);

  uint32_t target;
  bool advance;
  if (old_block != 0 && old_block >= first_block && BlocksOf(old_block) >= need &&
      static_cast<uint64_t>(old_block) + need <= next_free) {
    target = old_block;
    advance = false;
  } else {
    target = next_free;
    advance = true;
  }
  s = file_->WriteAt(static_cast<uint64_t>(target) * block_size_, data.data(), data.size());
  if (!s.ok()) return IoError(Status::kWrite, name_, "cannot write a memo block", s);
  if (advance) {
    uint8_t h[4];
    if (kind_ == 'D') {
      PutLe32(h, target + need);
    } else {
      PutBe32(h, target + need);
    }
    s = file_->WriteAt(0, h, 4);
    if (!s.ok()) return IoError(Status::kWrite, name_, "cannot write the memo header", s);
  }
  *block = target;
  return Status::Ok();
}

Status MemoFile::Begin() {
  if (batch_depth_++ > 0) return Status::Ok();
  Status st = LockAlloc();
  if (!st.ok()) {
    batch_depth_ = 0;
    return st;
  }
  platform::OsStatus s = file_->Size(&saved_size_);
  saved_header_.assign(kHeaderSize, 0);
  size_t got = 0;
  if (s.ok()) s = file_->ReadAt(0, saved_header_.data(), saved_header_.size(), &got);
  if (!s.ok()) {
    batch_depth_ = 0;
    UnlockAlloc();
    return IoError(Status::kRead, name_, "cannot read the memo header", s);
  }
  saved_header_.resize(got);
  return Status::Ok();
}

Status MemoFile::Rollback() {
  platform::OsStatus s = file_->Truncate(saved_size_);
  if (s.ok()) s = file_->WriteAt(0, saved_header_.data(), saved_header_.size());
  if (!s.ok()) return IoError(Status::kWrite, name_, "cannot restore the memo file", s);
  return Status::Ok();
}

void MemoFile::End() {
  if (batch_depth_ > 0 && --batch_depth_ == 0) UnlockAlloc();
}

}  // namespace tables
