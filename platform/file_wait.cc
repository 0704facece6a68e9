#include <thread>

#include "platform/file.h"

namespace platform {
namespace {
std::chrono::milliseconds g_patience = kLockPatience;
}  // namespace

std::chrono::milliseconds LockPatience() { return g_patience; }
void SetLockPatience(std::chrono::milliseconds patience) { g_patience = patience; }

OsStatus LockWithin(File* file, uint64_t offset, uint64_t length, LockKind kind,
                    std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  // Short naps first (a writer holds an index lock for microseconds), longer
  // ones when the holder is slow, so a long wait does not spin.
  std::chrono::microseconds nap{100};
  while (true) {
    OsStatus s = file->Lock(offset, length, kind, false);
    if (s.ok() || s.code() != kErrorLockViolation) return s;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return s;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(nap, deadline - now));
    nap = std::min(nap * 2, std::chrono::microseconds{10000});
  }
}

}  // namespace platform
