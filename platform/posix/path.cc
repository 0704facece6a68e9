// POSIX back-end of platform/path.h: Windows paths onto the native tree.
//
// Names are Windows-1252 inside the system and UTF-8 on the Linux disk. A
// component is resolved against the directory it lives in: the exact name
// first; else the entry equal to it without regard to case once the trailing
// blanks and dots Windows strips from names are removed ("doc01 " finds
// "doc01" when there is no "doc01 "). Case is folded for ASCII and the Latin-1
// letters of Windows-1252, as the Windows file system does for this code page.
//
// The directories of a path are resolved once and remembered (the files of
// one directory share them): a remembered directory is used again while every
// directory whose listing chose a name for it (a name not found exactly) has
// its identity and modification time unchanged, and while the path's last
// name exists beneath it. A directory changed within the last seconds is not
// remembered (its time may not move again for a change in the same tick).
#include "platform/path.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/posix/path_text.h"

namespace platform {
namespace {

struct Mapping {
  std::string prefix;  // folded: "c:" or "\\server\share"
  std::string native;  // without trailing slash ("" for "/")
};

std::vector<Mapping>& Mappings() {
  static std::vector<Mapping> mappings;
  return mappings;
}

std::string Fold(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(FoldCp1252(static_cast<unsigned char>(c)));
  return out;
}

std::string StripNative(std::string_view dir) {
  std::string s(dir);
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  if (s == "/") s.clear();
  return s;
}

bool Exists(const std::string& native) {
  struct stat st;
  return lstat(native.c_str(), &st) == 0;
}

// A directory whose listing chose a name, as it was then.
struct Listed {
  std::string dir;
  dev_t dev;
  ino_t ino;
  struct timespec mtime;
};

// A resolved directory: its native path and the listings it depends on.
struct Resolved {
  std::string native;
  std::vector<Listed> listed;
};

constexpr size_t kMaxResolved = 256;
constexpr time_t kSettleSeconds = 2;

std::mutex& ResolvedMutex() {
  static std::mutex m;
  return m;
}

std::unordered_map<std::string, Resolved>& ResolvedDirs() {
  static std::unordered_map<std::string, Resolved> dirs;
  return dirs;
}

void ForgetResolved() {
  std::lock_guard<std::mutex> hold(ResolvedMutex());
  ResolvedDirs().clear();
}

// The state of a listed directory; false when it cannot be remembered (gone,
// or changed too recently to tell a later change by its time).
bool Note(const std::string& dir, Listed* out) {
  struct stat st;
  if (stat(dir.empty() ? "/" : dir.c_str(), &st) != 0) return false;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  if (st.st_mtim.tv_sec > now.tv_sec - kSettleSeconds) return false;
  *out = {dir, st.st_dev, st.st_ino, st.st_mtim};
  return true;
}

bool Unchanged(const Listed& l) {
  struct stat st;
  return stat(l.dir.empty() ? "/" : l.dir.c_str(), &st) == 0 && st.st_dev == l.dev &&
         st.st_ino == l.ino && st.st_mtim.tv_sec == l.mtime.tv_sec &&
         st.st_mtim.tv_nsec == l.mtime.tv_nsec;
}

// The remembered native directory for key, when it still holds.
bool Recall(const std::string& key, std::string* native) {
  std::lock_guard<std::mutex> hold(ResolvedMutex());
  auto it = ResolvedDirs().find(key);
  if (it == ResolvedDirs().end()) return false;
  for (const Listed& l : it->second.listed) {
    if (!Unchanged(l)) {
      ResolvedDirs().erase(it);
      return false;
    }
  }
  *native = it->second.native;
  return true;
}

void Remember(const std::string& key, Resolved resolved) {
  std::lock_guard<std::mutex> hold(ResolvedMutex());
  if (ResolvedDirs().size() >= kMaxResolved) ResolvedDirs().clear();
  ResolvedDirs()[key] = std::move(resolved);
}

void Forget(const std::string& key) {
  std::lock_guard<std::mutex> hold(ResolvedMutex());
  ResolvedDirs().erase(key);
}

// The name of the entry of dir that Windows would open for `component`, or ""
// when there is none. component is Windows-1252.
std::string MatchInDirectory(const std::string& dir, std::string_view component) {
  std::string_view wanted = component;
  while (!wanted.empty() && (wanted.back() == ' ' || wanted.back() == '.')) wanted.remove_suffix(1);
  if (wanted.empty()) return "";
  std::string folded = Fold(wanted);
  DIR* d = opendir(dir.empty() ? "/" : dir.c_str());
  if (d == nullptr) return "";
  std::vector<std::string> hits;
  while (dirent* e = readdir(d)) {
    std::string cp;
    if (!Utf8ToCp1252(e->d_name, &cp)) continue;
    if (Fold(cp) == folded) hits.push_back(e->d_name);
  }
  closedir(d);
  if (hits.empty()) return "";
  std::sort(hits.begin(), hits.end());  // stable choice when case variants coexist
  return hits.front();
}

}  // namespace

void AddPathMapping(std::string_view prefix, std::string_view native_dir) {
  std::string key = Fold(prefix);
  std::replace(key.begin(), key.end(), '/', '\\');
  while (key.size() > 2 && key.back() == '\\') key.pop_back();
  ForgetResolved();
  for (Mapping& m : Mappings()) {
    if (m.prefix == key) {
      m.native = StripNative(native_dir);
      return;
    }
  }
  Mappings().push_back({key, StripNative(native_dir)});
}

void ClearPathMappings() {
  ForgetResolved();
  Mappings().clear();
}

std::string MapDirectory(std::string_view prefix, std::string_view native_dir) {
  AddPathMapping(prefix, native_dir);
  return std::string(prefix);
}

namespace {

// Where a Windows path starts: the native directory of its drive or share (a
// directory that cannot exist for an unmapped one), the root, or the working
// directory (relative); rest is the length of the drive or share prefix.
struct PathStart {
  std::string base;  // native directory the rest is relative to ("" = root)
  bool absolute = true;
  size_t rest = 0;
};

PathStart StartOf(const std::string& path) {
  PathStart start;
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    std::string drive = Fold(path.substr(0, 2));
    start.rest = 2;
    bool found = false;
    for (const Mapping& m : Mappings()) {
      if (m.prefix == drive) {
        start.base = m.native;
        found = true;
        break;
      }
    }
    // Wine shows the native root as Z:; any other unmapped drive leads into a
    // directory that cannot exist, so nothing is ever created by accident.
    if (!found && drive != "Z:") start.base = "/dev/null/unmapped-drive-" + drive.substr(0, 1);
  } else if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    size_t server_end = path.find('\\', 2);
    size_t share_end =
        server_end == std::string::npos ? std::string::npos : path.find('\\', server_end + 1);
    std::string unc = Fold(path.substr(0, share_end));
    start.rest = share_end == std::string::npos ? path.size() : share_end;
    start.base = "/dev/null/unmapped-share";
    for (const Mapping& m : Mappings()) {
      if (m.prefix == unc) {
        start.base = m.native;
        break;
      }
    }
  } else if (!path.empty() && (path[0] == '/' || path[0] == '\\')) {
    start.rest = 0;
  } else {
    start.absolute = false;
  }
  return start;
}

// The names between the separators of a path's tail, empty ones left out.
std::vector<std::string> NamesOf(const std::string& tail) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= tail.size()) {
    size_t next = tail.find('/', pos);
    if (next == std::string::npos) next = tail.size();
    if (next > pos) parts.push_back(tail.substr(pos, next - pos));
    pos = next + 1;
  }
  return parts;
}

}  // namespace

std::string MapPath(std::string_view windows_path) {
  std::string path(windows_path);
  const PathStart start = StartOf(path);
  const std::string& base = start.base;
  const bool absolute = start.absolute;
  const size_t rest = start.rest;

  std::string tail = path.substr(rest);
  std::replace(tail.begin(), tail.end(), '\\', '/');
  bool trailing_slash = !tail.empty() && tail.back() == '/';
  const std::vector<std::string> parts = NamesOf(tail);

  // The directories (every name but the last) of an absolute path may have
  // been resolved before.
  const size_t dirs = parts.empty() ? 0 : parts.size() - 1;
  std::string key;
  if (absolute && dirs > 0) {
    key = path.substr(0, rest);
    for (size_t i = 0; i < dirs; ++i) key += "/" + parts[i];
  }
  std::string out = absolute ? base : "";
  size_t first = 0;
  bool recalled = !key.empty() && Recall(key, &out);
  if (recalled) first = dirs;
  Resolved resolved;
  bool rememberable = !key.empty() && !recalled;
  bool resolving = true;
  for (size_t i = first; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    std::string native_part;
    if (!Cp1252ToUtf8(part, &native_part)) native_part = part;
    std::string joined;
    if (absolute || !out.empty()) {
      joined = out + "/" + native_part;
    } else {
      joined = native_part;
    }
    if (resolving && part != "." && part != ".." && !Exists(joined)) {
      struct stat st;
      if (recalled && (stat(out.empty() ? "/" : out.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
        // The last name is missing because a remembered directory is gone:
        // resolved afresh (a directory of another case may stand in its place).
        Forget(key);
        return MapPath(windows_path);
      }
      std::string dir = absolute ? out : (out.empty() ? "." : out);
      std::string hit = MatchInDirectory(dir, part);
      if (!hit.empty()) {
        joined = (absolute || !out.empty()) ? out + "/" + hit : hit;
        Listed listed;
        if (i < dirs && rememberable && Note(dir, &listed)) {
          resolved.listed.push_back(std::move(listed));
        } else {
          rememberable = false;
        }
      } else {
        resolving = false;
        rememberable = false;
      }
    }
    out = joined;
    if (i + 1 == dirs && rememberable) {
      resolved.native = out;
      Remember(key, std::move(resolved));
    }
  }
  if (out.empty()) return absolute ? "/" : ".";
  if (trailing_slash) out += "/";
  return out;
}

std::string CurrentDirectory() {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr) return "Z:\\";
  std::string native = buffer;
  std::string shown;
  bool mapped = false;
  for (const Mapping& m : Mappings()) {
    if (m.prefix.size() != 2) continue;  // drives only: a UNC path is not a current directory
    if (native == m.native || (m.native.empty() && native == "/") ||
        native.compare(0, m.native.size() + 1, m.native + "/") == 0) {
      std::string prefix = m.prefix;
      prefix[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(prefix[0])));
      std::string below = native == "/" ? "" : native.substr(m.native.size());
      shown = prefix + below;
      mapped = true;
      break;
    }
  }
  if (!mapped) shown = "Z:" + (native == "/" ? std::string() : native);
  std::replace(shown.begin(), shown.end(), '/', '\\');
  if (shown.size() == 2) shown += "\\";
  std::string cp;
  if (Utf8ToCp1252(shown, &cp)) return cp;
  return shown;
}

bool SetCurrentDirectory(std::string_view windows_path) {
  return chdir(MapPath(windows_path).c_str()) == 0;
}

bool PathFromNative(std::string_view native, std::string* path) {
  std::string cp;
  if (!Utf8ToCp1252(native, &cp)) return false;
  *path = std::move(cp);
  return true;
}

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace platform
