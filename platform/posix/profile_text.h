// One INI file as the POSIX profile functions see it: its lines, sections and
// entries, read with the Windows rules, and the edits a profile write makes,
// returned as the new file bytes with every untouched byte kept.
//
// Pure: no file access, so any byte string can be parsed (the fuzz target
// feeds it arbitrary input). A UTF-16LE file (FF FE) is read as Windows-1252
// text, one character per code unit; everything else is taken as ANSI bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class ProfileText {
 public:
  enum class Kind { kBlank, kComment, kHeader, kEntry, kOther };
  struct Line {
    size_t begin = 0;  // text offsets: the line's characters ...
    size_t end = 0;    // ... up to its line end ...
    size_t next = 0;   // ... and the start of the following line
    Kind kind = Kind::kBlank;
    std::string_view name;   // header name or entry key, trimmed; kOther: the trimmed line
    std::string_view value;  // entry value, trimmed, quotes kept
  };

  explicit ProfileText(std::string bytes);
  ProfileText(const ProfileText&) = delete;
  ProfileText& operator=(const ProfileText&) = delete;

  const std::vector<Line>& lines() const { return lines_; }

  // Section names in file order, duplicates included, "[]" left out.
  std::vector<std::string_view> SectionNames() const;
  // Readable keys of the first block of the section, in file order.
  std::vector<std::string_view> Keys(std::string_view section) const;
  // The section's entries as "key=value" (and other lines bare), comments left out.
  std::vector<std::string> SectionLines(std::string_view section) const;
  // The raw (still quoted) value of the first matching key of the first block.
  std::optional<std::string_view> Find(std::string_view section, std::string_view key) const;

  // Edits; each gives the new file bytes, or nothing when the file would not change.
  std::optional<std::string> Set(std::string_view section, std::string_view key,
                                 std::string_view value) const;
  std::optional<std::string> DeleteKey(std::string_view section, std::string_view key) const;
  std::optional<std::string> DeleteSection(std::string_view section) const;

 private:
  struct Splice {
    size_t begin, end;
    std::string text;
  };
  // Index of the header line of the first matching section, or -1.
  int FindHeader(std::string_view section) const;
  // One past the last line of the section whose header is line `header`.
  size_t SectionEnd(size_t header) const;
  std::string Apply(std::vector<Splice> splices) const;
  std::string_view NewLine() const;

  std::string bytes_;
  bool utf16_ = false;
  std::string text_;  // the characters (ANSI bytes, or UTF-16 units as Windows-1252)
  std::vector<Line> lines_;
};

// Name comparison of the profile functions: ASCII letters without regard to case.
bool ProfileNamesEqual(std::string_view a, std::string_view b);

}  // namespace platform
