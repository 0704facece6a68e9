#include "tables/dbf/lock_table.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <vector>

#include "platform/file_name_key.h"
#include "platform/path.h"

namespace tables {
namespace {

using platform::Access;
using platform::File;
using platform::LockKind;
using platform::OsStatus;
using platform::Share;

struct Hold {
  const void* owner;
  uint64_t offset;
  uint64_t length;
  LockKind kind;
};

struct OsHold {
  uint64_t offset;
  uint64_t length;
  LockKind kind;
  int count;
};

struct HandleState {
  std::string key;
  std::unique_ptr<File> os;
  bool writable = false;
  int views = 0;
  int writers = 0;
  int deny_write_views = 0;
  bool exclusive = false;
  std::vector<Hold> holds;
  std::vector<OsHold> os_holds;
};

std::map<std::string, HandleState*>& Registry() {
  static std::map<std::string, HandleState*> registry;
  return registry;
}

bool Overlaps(uint64_t a, uint64_t alen, uint64_t b, uint64_t blen) {
  return a < b + blen && b < a + alen;
}

class SharedView final : public File {
 public:
  SharedView(HandleState* state, Access access, Share share)
      : state_(state), access_(access), share_(share) {
    ++state_->views;
    if (access != Access::kRead) ++state_->writers;
    if (share == Share::kDenyWrite) ++state_->deny_write_views;
    if (share == Share::kExclusive) state_->exclusive = true;
  }
  ~SharedView() override {
    // Our locks go, the other views' stay.
    while (true) {
      auto it = std::find_if(state_->holds.begin(), state_->holds.end(),
                             [this](const Hold& h) { return h.owner == this; });
      if (it == state_->holds.end()) break;
      Unlock(it->offset, it->length);
    }
    --state_->views;
    if (access_ != Access::kRead) --state_->writers;
    if (share_ == Share::kDenyWrite) --state_->deny_write_views;
    if (share_ == Share::kExclusive) state_->exclusive = false;
    if (state_->views == 0) {
      Registry().erase(state_->key);
      delete state_;
    }
  }

  OsStatus ReadAt(uint64_t offset, void* buffer, size_t n, size_t* got) override {
    return state_->os->ReadAt(offset, buffer, n, got);
  }
  OsStatus WriteAt(uint64_t offset, const void* data, size_t n) override {
    if (access_ == Access::kRead) return OsStatus(platform::kErrorAccessDenied);
    return state_->os->WriteAt(offset, data, n);
  }
  OsStatus Size(uint64_t* size) override { return state_->os->Size(size); }
  OsStatus Truncate(uint64_t size) override {
    if (access_ == Access::kRead) return OsStatus(platform::kErrorAccessDenied);
    return state_->os->Truncate(size);
  }
  OsStatus Flush() override { return state_->os->Flush(); }

  OsStatus Lock(uint64_t offset, uint64_t length, LockKind kind, bool wait) override {
    for (const Hold& h : state_->holds) {
      if (!Overlaps(offset, length, h.offset, h.length)) continue;
      // Windows: a handle cannot lock over its own range; another handle
      // conflicts unless both locks are shared. Waiting for ourselves would
      // never end, so an in-process conflict fails at once.
      if (h.owner == this || kind == LockKind::kExclusive || h.kind == LockKind::kExclusive) {
        return OsStatus(platform::kErrorLockViolation);
      }
    }
    auto same =
        std::find_if(state_->os_holds.begin(), state_->os_holds.end(), [&](const OsHold& o) {
          return o.offset == offset && o.length == length && o.kind == kind;
        });
    if (same != state_->os_holds.end()) {
      ++same->count;
    } else {
      OsStatus s = state_->os->Lock(offset, length, kind, wait);
      if (!s.ok()) return s;
      state_->os_holds.push_back({offset, length, kind, 1});
    }
    state_->holds.push_back({this, offset, length, kind});
    return OsStatus::Ok();
  }

  OsStatus Unlock(uint64_t offset, uint64_t length) override {
    auto it = std::find_if(state_->holds.begin(), state_->holds.end(), [&](const Hold& h) {
      return h.owner == this && h.offset == offset && h.length == length;
    });
    if (it == state_->holds.end()) return OsStatus(platform::kErrorNotLocked);
    LockKind kind = it->kind;
    state_->holds.erase(it);
    auto os = std::find_if(state_->os_holds.begin(), state_->os_holds.end(), [&](const OsHold& o) {
      return o.offset == offset && o.length == length && o.kind == kind;
    });
    if (os != state_->os_holds.end() && --os->count == 0) {
      state_->os_holds.erase(os);
      return state_->os->Unlock(offset, length);
    }
    return OsStatus::Ok();
  }

 private:
  HandleState* state_;
  Access access_;
  Share share_;
};

}  // namespace

std::string SharedFileKey(std::string_view path) {
  std::filesystem::path p(platform::MapPath(path));
  std::error_code ec;
  std::filesystem::path abs = std::filesystem::weakly_canonical(p, ec);
  if (ec) abs = std::filesystem::absolute(p, ec).lexically_normal();
  return platform::FileNameKey(abs.string());
}

OsStatus OpenSharedFile(std::string_view path, Access access, Share share,
                        platform::Disposition disposition, std::unique_ptr<File>* out) {
  out->reset();
  std::string key = SharedFileKey(path);
  auto it = Registry().find(key);
  if (it != Registry().end()) {
    HandleState* st = it->second;
    bool wants_write = access != Access::kRead;
    if (st->exclusive || share == Share::kExclusive ||
        (share == Share::kDenyWrite && st->writers > 0) ||
        (wants_write && st->deny_write_views > 0)) {
      return OsStatus(platform::kErrorSharingViolation);
    }
    if (wants_write && !st->writable) return OsStatus(platform::kErrorAccessDenied);
    if (disposition == platform::Disposition::kCreateNew) {
      return OsStatus(platform::kErrorFileExists);
    }
    if (disposition == platform::Disposition::kCreateAlways) {
      OsStatus s = st->os->Truncate(0);
      if (!s.ok()) return s;
    }
    *out = std::make_unique<SharedView>(st, access, share);
    return OsStatus::Ok();
  }
  std::unique_ptr<File> os;
  bool writable = true;
  OsStatus s = platform::OpenFile(path, Access::kReadWrite, share, disposition, 0x20, &os);
  if ((s.code() == platform::kErrorAccessDenied || s.code() == platform::kErrorSharingViolation) &&
      access == Access::kRead) {
    writable = false;
    s = platform::OpenFile(path, Access::kRead, share, disposition, 0x20, &os);
  }
  if (!s.ok()) return s;
  auto* st = new HandleState;
  st->key = key;
  st->os = std::move(os);
  st->writable = writable;
  Registry()[key] = st;
  *out = std::make_unique<SharedView>(st, access, share);
  return OsStatus::Ok();
}

}  // namespace tables
