// Line model of an INI file. Reading rules (those of Windows, where other
// implementations differ): lines end at LF, CR or CRLF and their text at a NUL;
// blanks are space, tab, VT, FF, CR and ^Z (not NBSP); a header's name runs to
// the first ']' or the line end; an entry splits at the first '='; a line
// whose first non-blank is ';' is a comment; lines before the first header
// belong to no section; of duplicate sections only the first block counts.
#include "platform/posix/profile_text.h"

#include <algorithm>
#include <cstdint>

#include "platform/cp1252.h"

namespace platform {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\x1a';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

}  // namespace

bool ProfileNamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

ProfileText::ProfileText(std::string bytes) : bytes_(std::move(bytes)) {
  utf16_ = bytes_.size() >= 2 && static_cast<unsigned char>(bytes_[0]) == 0xFF &&
           static_cast<unsigned char>(bytes_[1]) == 0xFE;
  if (utf16_) {
    text_.reserve(bytes_.size() / 2);
    for (size_t i = 2; i + 1 < bytes_.size(); i += 2) {
      auto unit = static_cast<char16_t>(static_cast<unsigned char>(bytes_[i]) |
                                        (static_cast<unsigned char>(bytes_[i + 1]) << 8));
      text_.push_back(UnicodeToCp1252(unit));
    }
  } else {
    text_ = bytes_;
  }

  size_t pos = 0;
  while (pos < text_.size()) {
    Line line;
    line.begin = pos;
    while (pos < text_.size() && text_[pos] != '\n' && text_[pos] != '\r') ++pos;
    line.end = pos;
    if (pos < text_.size()) {
      pos += (text_[pos] == '\r' && pos + 1 < text_.size() && text_[pos + 1] == '\n') ? 2 : 1;
    }
    line.next = pos;

    // A NUL ends the text of a header or of each side of an entry.
    std::string_view raw(text_.data() + line.begin, line.end - line.begin);
    auto cut = [](std::string_view s) { return s.substr(0, s.find('\0')); };
    std::string_view t = Trim(cut(raw));
    size_t eq = raw.find('=');
    if (!t.empty() && t.front() == ';') {
      line.kind = Kind::kComment;
    } else if (!t.empty() && t.front() == '[') {
      line.kind = Kind::kHeader;
      std::string_view inner = t.substr(1);
      line.name = Trim(inner.substr(0, inner.find(']')));
    } else if (eq != std::string_view::npos) {
      line.kind = Kind::kEntry;
      line.name = Trim(cut(raw.substr(0, eq)));
      line.value = Trim(cut(raw.substr(eq + 1)));
    } else if (t.empty()) {
      line.kind = Kind::kBlank;
    } else {
      line.kind = Kind::kOther;
      line.name = t;
    }
    lines_.push_back(line);
  }
}

std::vector<std::string_view> ProfileText::SectionNames() const {
  std::vector<std::string_view> names;
  for (const Line& l : lines_) {
    // An empty name ("[]") would end the list early for every reader of it.
    if (l.kind == Kind::kHeader && !l.name.empty()) names.push_back(l.name);
  }
  return names;
}

int ProfileText::FindHeader(std::string_view section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == Kind::kHeader && ProfileNamesEqual(lines_[i].name, section)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

size_t ProfileText::SectionEnd(size_t header) const {
  size_t i = header + 1;
  while (i < lines_.size() && lines_[i].kind != Kind::kHeader) ++i;
  return i;
}

std::vector<std::string_view> ProfileText::Keys(std::string_view section) const {
  std::vector<std::string_view> keys;
  int h = FindHeader(section);
  if (h < 0) return keys;
  for (size_t i = h + 1, e = SectionEnd(h); i < e; ++i) {
    if (lines_[i].kind == Kind::kEntry && !lines_[i].name.empty()) keys.push_back(lines_[i].name);
  }
  return keys;
}

std::vector<std::string> ProfileText::SectionLines(std::string_view section) const {
  std::vector<std::string> out;
  int h = FindHeader(section);
  if (h < 0) return out;
  for (size_t i = h + 1, e = SectionEnd(h); i < e; ++i) {
    const Line& l = lines_[i];
    if (l.kind == Kind::kEntry) {
      out.push_back(std::string(l.name) + "=" + std::string(l.value));
    } else if (l.kind == Kind::kOther) {
      out.emplace_back(l.name);
    }
  }
  return out;
}

std::optional<std::string_view> ProfileText::Find(std::string_view section,
                                                  std::string_view key) const {
  int h = FindHeader(section);
  if (h < 0) return std::nullopt;
  for (size_t i = h + 1, e = SectionEnd(h); i < e; ++i) {
    if (lines_[i].kind == Kind::kEntry && ProfileNamesEqual(lines_[i].name, key)) {
      return lines_[i].value;
    }
  }
  return std::nullopt;
}

std::string_view ProfileText::NewLine() const {
  // New lines take the file's own line end, so an LF file stays an LF file.
  for (const Line& l : lines_) {
    if (l.next == l.end) continue;
    if (l.next - l.end == 2) return "\r\n";
    return text_[l.end] == '\n' ? "\n" : "\r";
  }
  return "\r\n";
}

std::optional<std::string> ProfileText::Set(std::string_view section, std::string_view key,
                                            std::string_view value) const {
  std::string nl(NewLine());
  std::string entry = std::string(key) + "=" + std::string(value);
  int h = FindHeader(section);
  if (h < 0) {
    std::string add;
    if (!text_.empty() && text_.back() != '\n' && text_.back() != '\r') add += nl;
    add += "[" + std::string(section) + "]" + nl + entry + nl;
    return Apply({{text_.size(), text_.size(), add}});
  }
  size_t end = SectionEnd(h);
  // New keys go after the section's last entry, so that blank lines and
  // comments heading the next section stay with it.
  size_t last = h;
  for (size_t i = h + 1; i < end; ++i) {
    const Line& l = lines_[i];
    if (l.kind == Kind::kEntry && ProfileNamesEqual(l.name, key)) {
      if (l.value == value) return std::nullopt;
      return Apply({{l.begin, l.end, std::string(l.name) + "=" + std::string(value)}});
    }
    if (l.kind == Kind::kEntry || l.kind == Kind::kOther) last = i;
  }
  const Line& after = lines_[last];
  if (after.next == after.end) return Apply({{after.next, after.next, nl + entry + nl}});
  // The new line ends as the one before it, so a mixed file keeps its lines.
  return Apply({{after.next, after.next, entry + text_.substr(after.end, after.next - after.end)}});
}

std::optional<std::string> ProfileText::DeleteKey(std::string_view section,
                                                  std::string_view key) const {
  int h = FindHeader(section);
  if (h < 0) return std::nullopt;
  for (size_t i = h + 1, e = SectionEnd(h); i < e; ++i) {
    const Line& l = lines_[i];
    if (l.kind == Kind::kEntry && ProfileNamesEqual(l.name, key)) {
      return Apply({{l.begin, l.next, ""}});
    }
  }
  return std::nullopt;
}

std::optional<std::string> ProfileText::DeleteSection(std::string_view section) const {
  int h = FindHeader(section);
  if (h < 0) return std::nullopt;
  // The header and its entries go; comments and blank lines stay where they are.
  std::vector<Splice> cuts;
  for (size_t i = h, e = SectionEnd(h); i < e; ++i) {
    const Line& l = lines_[i];
    if (l.kind == Kind::kComment || l.kind == Kind::kBlank) continue;
    if (!cuts.empty() && cuts.back().end == l.begin) {
      cuts.back().end = l.next;
    } else {
      cuts.push_back({l.begin, l.next, ""});
    }
  }
  return Apply(std::move(cuts));
}

std::string ProfileText::Apply(std::vector<Splice> splices) const {
  // Text offsets become byte offsets; only the spliced-in text is encoded.
  auto byte_at = [&](size_t text_offset) { return utf16_ ? 2 + 2 * text_offset : text_offset; };
  std::string out;
  out.reserve(bytes_.size() + 64);
  size_t copied = 0;
  for (const Splice& s : splices) {
    size_t b = byte_at(s.begin);
    out.append(bytes_, copied, b - copied);
    for (char c : s.text) {
      if (utf16_) {
        char16_t u = Cp1252ToUnicode(static_cast<unsigned char>(c));
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
      } else {
        out.push_back(c);
      }
    }
    copied = byte_at(s.end);
  }
  out.append(bytes_, copied, std::string::npos);
  return out;
}

}  // namespace platform
