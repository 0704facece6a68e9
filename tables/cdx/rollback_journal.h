// The rollback journal of one table: before a write transaction changes the
// first byte of the .dbf, .cdx or memo file, the old sizes of the three files
// and the old bytes of every range the transaction overwrites are written to
// "<table>.jnl" beside the .dbf and flushed. Emptying the journal (then
// deleting it) commits; a journal left by a dead writer is rolled back by the
// next opener (RecoverJournal). Format and protocol: docs/formats/journal.md.
//
// Writer side (RollbackJournal): Begin creates the journal under the table's
// header lock (the caller holds it, so one transaction per table at a time
// among our programs) and takes the journal's liveness lock, a byte far
// beyond its data that the writer holds until the journal is gone: a journal
// whose liveness byte can be locked belongs to a dead writer. A file's old
// size is recorded when the transaction first changes it (under that file's
// own lock, so another program's growth before that is not undone). Cover
// saves the old bytes of a range (only bytes below the file's old size and
// not saved yet); the records are kept in memory until Sync writes them (one
// write) and flushes the journal, once before the table bytes change.
// Files grown by the transaction need no images: rollback truncates them.
// MarkEnd records a fingerprint of the files, those the transaction changed
// as its own writes left them (JournalFile reports them through Wrote and
// Truncated), so that recovery can tell whether another program wrote after
// us. The journal's path is mapped once, at the first transaction, and the
// journal file is our own (platform::OwnFilePath).
//
// Reader side (RecoverJournal): judges and replays a journal found beside a
// table. Not thread-safe; one journal object per work area.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "tables/dbf/status.h"

namespace tables {

// Whether transactions flush the journal and the table files to the disk
// (default on). Without the flushes a killed process still leaves nothing
// half-done (the system keeps what was written), but a power cut may: for
// tools that fill new tables nobody else uses (demo data), where a flush per
// record costs milliseconds. Process-wide.
void SetTransactionFlushes(bool on);

// Old bytes of one transaction kept in memory for Rollback (default 64 KB);
// the rest is read back from the journal. Process-wide; gives the old bound.
uint64_t SetHeldImageBytes(uint64_t bytes);

// "<dir>\name.dbf" → "<dir>\name.jnl".
std::string JournalPath(std::string_view table_path);

// The INI entry whose value "1" commits a held transaction.
struct CommitCondition {
  std::string ini_path;  // a Windows path
  std::string section;
  std::string key;
};

class RollbackJournal {
 public:
  // Roles of the files: 'D' the table, 'C' its index, 'M' its memo file.
  explicit RollbackJournal(std::string table_path);
  ~RollbackJournal();
  RollbackJournal(const RollbackJournal&) = delete;
  RollbackJournal& operator=(const RollbackJournal&) = delete;

  // The raw files of the table (not owned; nullptr when absent).
  void Attach(char role, platform::File* file, std::string file_name);

  bool active() const { return active_; }
  const std::string& path() const { return path_; }

  // Starts a transaction: the journal file, its liveness lock, the old sizes.
  // With condition, the transaction commits when that INI value is "1".
  Status Begin(const CommitCondition* condition = nullptr);
  // Saves the old bytes of [offset, offset+length) of a file (not flushed).
  Status Cover(char role, uint64_t offset, uint64_t length);
  // Cover of several ranges of one file whose records go out in one journal
  // write (not flushed).
  Status CoverAll(char role, const std::vector<std::pair<uint64_t, uint64_t>>& ranges);
  // Writes what Cover added since the last Sync (one write) and flushes the
  // journal.
  Status Sync();
  // What a write of the transaction did to a file (after it succeeded): the
  // fingerprint follows the file's size and state bytes from these.
  void Wrote(char role, uint64_t offset, const void* data, size_t n);
  void Truncated(char role, uint64_t size);
  bool dirty() const { return dirty_; }
  // Flushes the table's files, then records their fingerprint (and flushes
  // the journal when flush_journal).
  Status MarkEnd(bool flush_journal);
  // Flushes the table's files, then empties and deletes the journal.
  Status Commit();
  // Puts every saved byte back, truncates to the old sizes, flushes, then
  // empties and deletes the journal. The journal stays when this fails.
  Status Rollback();
  // Gives up a transaction whose files could not be put back: the journal
  // stays on disk (now a dead writer's) for the next opener to recover.
  void Abandon();
  // The raw file attached under role (nullptr: none).
  platform::File* attached(char role) {
    Target* t = Find(role);
    return t ? t->file : nullptr;
  }
  // Writes and flushes so far in this transaction (for measurements).
  struct Stats {
    uint64_t journal_flushes = 0;
    uint64_t table_flushes = 0;
    uint64_t image_bytes = 0;
  };
  const Stats& stats() const { return stats_; }

 private:
  struct Target {
    platform::File* file = nullptr;
    std::string name;
    bool sized = false;  // old_size recorded (at the file's first change)
    uint64_t old_size = 0;
    uint64_t size = 0;                     // the size our writes left (from old_size on)
    uint8_t state[8] = {};                 // the state bytes our writes left (StateRange)
    uint8_t state_known = 0;               // bit i: state[i] was written by the transaction
    std::map<uint64_t, uint64_t> covered;  // start → end of saved ranges
    // The saved ranges, for Rollback: the first bytes of a transaction are
    // kept in memory, the rest read back from the journal (a long append
    // would otherwise hold every old page).
    struct Image {
      uint64_t offset = 0;
      uint64_t length = 0;
      uint64_t journal_at = 0;     // where the bytes lie in the journal
      std::vector<uint8_t> bytes;  // empty when not kept
    };
    std::vector<Image> images;
  };
  Target* Find(char role);
  Status Touch(char role, Target* t);
  // Adds a record to the pending bytes; WritePending writes them at once.
  Status Append(uint8_t type, const std::vector<uint8_t>& payload);
  // A record built in place: OpenRecord puts its head in the pending bytes
  // and returns where it starts; the payload follows; CloseRecord fills in
  // its length and CRC (and writes the pending bytes once they are many).
  size_t OpenRecord(uint8_t type);
  Status CloseRecord(size_t start);
  Status WritePending();
  Status EndFingerprint(char role, Target* t, std::vector<uint8_t>* out);
  Status FlushTables();
  Status Finish();  // empties, closes and deletes the journal
  Status Fail(const char* what, platform::OsStatus s);

  std::string table_path_;
  std::string path_;
  std::unique_ptr<platform::OwnFilePath> own_path_;  // mapped at the first Begin
  std::map<char, Target> targets_;
  std::unique_ptr<platform::File> file_;
  uint64_t end_ = 0;              // journal bytes written
  std::vector<uint8_t> pending_;  // records not written yet
  bool active_ = false;
  bool dirty_ = false;
  bool tables_flushed_ = false;  // no table write since the last FlushTables
  uint64_t held_bytes_ = 0;      // image bytes kept in memory in this transaction
  Stats stats_;
};

// What RecoverJournal found and did.
enum class RecoveryResult {
  kNone,        // no journal
  kLive,        // a live writer's journal: left alone
  kDiscarded,   // a journal cut short (no table byte had changed): deleted
  kRolledBack,  // the files were put back as they were before the transaction
  kKept,        // a held transaction whose commit condition was met: kept
  kRefused,     // the files changed after the transaction ended: left alone (error)
};
const char* RecoveryResultName(RecoveryResult r);

// Judges and replays the journal of the table at table_path. The caller
// holds the table's header lock when other programs may write (or has the
// table exclusively); open_file gives a writable handle on the file of a role
// ('D', 'C', 'M') named in the journal (nullptr: cannot). force rolls back
// even when the fingerprint does not match. *detail receives a sentence for
// tools. A refusal comes back as a corruption error naming the journal.
using JournalFileOpener = std::function<platform::File*(char role, const std::string& name)>;
Status RecoverJournal(std::string_view table_path, const JournalFileOpener& open_file, bool force,
                      RecoveryResult* result, std::string* detail = nullptr);

// True when the journal beside table_path exists and its writer (or a
// recoverer) holds its liveness lock.
bool JournalInUse(std::string_view table_path);

// Reads the value of a commit condition (empty when unset).
std::string ReadConditionValue(const CommitCondition& c);

// The liveness byte of a journal file, and how long a journal header may be.
inline constexpr uint64_t kJournalLiveByte = 0x7FFFFFF0;

// The journal's records, as its writer (rollback_journal.cc) and its reader
// (rollback_journal_recover.cc) see them: type, three zero bytes, payload
// length (4), payload, CRC-32 of all that (4).
namespace journal_format {
inline constexpr char kSignature[6] = {'X', 'Q', 'J', 'N', 'L', 0};
inline constexpr uint16_t kVersion = 1;
inline constexpr uint8_t kBegin = 'B', kSize = 'S', kImage = 'I', kEnd = 'E';
inline constexpr size_t kRecordOverhead = 8 + 4;  // type, 3 zero bytes, length; CRC
// CRC-32 (the zlib polynomial) of n bytes, going on from crc.
uint32_t Crc32(const uint8_t* p, size_t n, uint32_t crc = 0);
// The bytes of a file whose change shows that someone wrote it, as (offset,
// length): the record count of a table, the free list and change counter of
// an index, the next free block of a memo file.
std::pair<uint64_t, uint64_t> StateRange(char role);
// Appends a file's fingerprint as it is now: role, size, state bytes.
Status Fingerprint(char role, platform::File* f, std::vector<uint8_t>* out);
}  // namespace journal_format

}  // namespace tables
