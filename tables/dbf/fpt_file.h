// Memo files: FoxPro .fpt (read and write) and dBASE III .dbt (read, append).
//
// FPT: 512-byte header (next free block BE u32 at 0, block size BE u16 at 6),
// blocks of (type BE u32, length BE u32, data). A pointer is checked before it
// is followed: below the header, past the end of the file or an unknown block
// type is a corruption error for that one value. Allocation happens under the
// memo lock with the header re-read first, so two writers never share a block;
// a new value that fits the blocks of the old one is written in place,
// otherwise at the next free block, and the pointer advances after the data is
// written. Blocks are never given back (other writers may still read them).
// DBT: 512-byte blocks, text up to the first 0x1A; new values are appended.
// One thread; owned by its Table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "tables/dbf/lock_scheme.h"
#include "tables/dbf/status.h"

namespace tables {

class MemoFile {
 public:
  // kind 'F' (FPT) or 'D' (DBT). Reads and checks the header.
  static Status Open(std::unique_ptr<platform::File> file, std::string name, char kind, bool shared,
                     std::vector<LockRange> lock, std::unique_ptr<MemoFile>* out);
  // Writes the header of a new, empty FPT with the given block size.
  static Status InitFpt(platform::File* file, uint32_t block_size);

  const std::string& name() const { return name_; }
  char kind() const { return kind_; }
  uint32_t block_size() const { return block_size_; }
  // What the file says now (for tools): the next free block from its header
  // and its size in bytes, read under the memo lock taken shared.
  Status ReadState(uint32_t* next_free, uint64_t* file_size);

  // The value stored at block (0: none). *type: 1 text, 0 binary, 2 object.
  Status Read(uint32_t block, std::string* out, uint32_t* type = nullptr);
  // The number of blocks the value at block occupies (0 when unreadable).
  uint32_t BlocksOf(uint32_t block);
  // Stores value, reusing old_block's space when it fits; *block receives
  // where it went (0 for an empty value, which stores nothing).
  Status Write(std::string_view value, uint32_t type, uint32_t old_block, uint32_t* block);

  // The memo file, and a way to put a wrapper around it (journalled writes).
  platform::File* file() { return file_.get(); }
  template <typename Wrap>
  void WrapFile(Wrap wrap) {
    file_ = wrap(std::move(file_));
  }

  // Holds the memo lock across several writes (AppendDB) and remembers the
  // file's state so that Rollback can put it back exactly.
  Status Begin();
  Status Rollback();
  void End();

 private:
  MemoFile() = default;
  Status LockAlloc();
  void UnlockAlloc();
  Status ReadHeader(uint32_t* next_free);

  std::unique_ptr<platform::File> file_;
  std::string name_;
  char kind_ = 'F';
  bool shared_ = true;
  std::vector<LockRange> lock_;
  uint32_t block_size_ = 64;
  int batch_depth_ = 0;
  bool locked_ = false;
  uint64_t saved_size_ = 0;
  std::vector<uint8_t> saved_header_;
};

}  // namespace tables
