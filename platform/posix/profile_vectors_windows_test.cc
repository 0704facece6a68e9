// What Windows does, or what this implementation does on purpose, where the
// recorded Wine results of testdata/ini/vectors.json do not apply. Each entry
// names its reason. Cases not listed here must match the recording exactly.
// Where Windows is not established (NUL bytes, non-ASCII case, quirks of
// small enumeration buffers), the recording is Wine's and we follow it.
#include "platform/posix/profile_vectors_windows.h"

#include <functional>
#include <string>
#include <vector>

#include "platform/cp1252.h"

namespace platform {
namespace {

using nlohmann::json;

// Byte strings are stored as latin1 text in the vectors.
json Latin1(const std::string& bytes) {
  std::string utf8;
  for (char ch : bytes) AppendUtf8(static_cast<unsigned char>(ch), &utf8);
  return utf8;
}

void Ret(json& c, int step, uint64_t ret, const std::string& buffer) {
  c["steps"][step]["expected_return"] = ret;
  c["steps"][step]["expected_buffer"] = Latin1(buffer);
}
void Ret(json& c, int step, uint64_t ret) { c["steps"][step]["expected_return"] = ret; }
void After(json& c, int step, const std::string& bytes) {
  c["steps"][step]["file_bytes_after"] = Latin1(bytes);
}
// A cut list ends with two NULs inside the buffer on Windows, one under Wine.
void SecondNul(json& c, int step) {
  json& b = c["steps"][step]["expected_buffer"];
  b = b.get<std::string>() + std::string(1, '\0');
}

struct Expectation {
  const char* name;
  const char* reason;
  std::function<void(json&)> apply;  // empty: skip the case
};

const std::string kDflt("dflt\0", 5);
const std::string kV("v\0", 2);

const std::vector<Expectation>& Expectations() {
  static const std::vector<Expectation> list = {
      {"parse.arg_section_key_with_tabs", "Windows trims only spaces from the arguments",
       [](json& c) { Ret(c, 0, 4, kDflt); }},
      {"parse.comment_semicolon_line", "Windows: a key starting with ';' is a comment",
       [](json& c) { Ret(c, 1, 4, kDflt); }},
      {"parse.keys_before_first_section_empty_name",
       "Windows: section \"\" is an explicit [] block; lines before the first header are "
       "unreadable",
       [](json& c) {
         Ret(c, 0, 4, kDflt);
         Ret(c, 1, 8, std::string("in_empty\0", 9));
       }},
      {"parse.utf8_bom", "Windows reads no UTF-8 BOM: it belongs to line 1, so [s] is no header",
       [](json& c) { Ret(c, 0, 4, kDflt); }},
      {"parse.utf8_bom_section_on_line2", "Windows reads no UTF-8 BOM: the value stays ANSI bytes",
       [](json& c) { Ret(c, 0, 5, std::string("caf\xC3\xA9\0", 6)); }},
      {"parse.utf16be_bom", "Windows does not read UTF-16BE files",
       [](json& c) { Ret(c, 0, 4, kDflt); }},
      {"parse.section_header_two_closing", "Windows: the name ends at the first ']'",
       [](json& c) {
         Ret(c, 0, 2, std::string("a\0\0", 3));
         Ret(c, 1, 1, kV);
         Ret(c, 2, 4, kDflt);
       }},
      {"parse.section_header_unclosed", "Windows: '[s' starts section s",
       [](json& c) {
         Ret(c, 0, 1, kV);
         Ret(c, 1, 2, std::string("s\0\0", 3));
       }},
      {"parse.long_line_70000", "Windows: value lengths over 65535 wrap modulo 65536",
       [](json& c) { Ret(c, 0, 70000 % 65536, std::string(70000 % 65536, 'c') + '\0'); }},
      {"getstring.quoted_value_sizes",
       "Wine's own quirk (a quoted value that would just fit loses its last character); the "
       "value fits, so it is returned whole",
       [](json& c) { Ret(c, 1, 4, std::string("val2\0", 5)); }},
      {"getstring.enum_keys_sizes", "Windows ends a cut list with two NULs",
       [](json& c) {
         for (int step : {0, 1, 2, 3, 4}) SecondNul(c, step);
       }},
      {"getstring.enum_sections_sizes", "Windows ends a cut list with two NULs",
       [](json& c) {
         for (int step : {0, 1, 2, 3, 4}) SecondNul(c, step);
       }},
      {"section.section_names_sizes", "Windows ends a cut list with two NULs",
       [](json& c) {
         for (int step : {1, 2, 3}) SecondNul(c, step);
       }},
      {"write.modify_spaced_line", "only the target line changes; other lines keep their bytes",
       [](json& c) { After(c, 0, "[s]\r\nk=new\r\nother = 1\r\n"); }},
      {"write.preserve_comments_blank_unknown",
       "only the target line changes; blank lines and spacing are kept",
       [](json& c) {
         After(c, 0,
               "; top comment\r\n\r\n[s]\r\n; c1\r\nk=2\r\n\r\nnoeq line\r\n# hash\r\n"
               "spaced  =  x\r\n\r\n[t]\r\nx=1\r\n");
       }},
      {"write.lf_file_line_ends", "an LF file stays LF; the blank line stays before [t]",
       [](json& c) { After(c, 0, "[s]\nk=v\nk2=w\n\n[t]\nx=1\n"); }},
      {"write.cr_file_line_ends", "a CR file stays CR",
       [](json& c) { After(c, 0, "[s]\rk=v\rk2=w\r[t]\rx=1\r"); }},
      {"write.delete_section", "Windows keeps the comments of a deleted section",
       [](json& c) { After(c, 0, "[a]\r\nx=1\r\n; about k\r\n\r\n[b]\r\ny=2\r\n"); }},
      {"write.new_key_after_trailing_comment",
       "a new key goes after the section's last entry, before the blank line and the comment "
       "that head the next section",
       [](json& c) { After(c, 0, "[s]\r\nk=v\r\nn=w\r\n\r\n; about t\r\n[t]\r\nx=1\r\n"); }},
      {"write.value_leading_trailing_blanks", "Windows writes the value exactly as given",
       [](json& c) { After(c, 0, "[s]\r\nk=  v  \r\n"); }},
      {"write.key_semicolon_start", "Windows: the written ';k=v' line is a comment",
       [](json& c) { Ret(c, 1, 4, kDflt); }},
      {"write.key_with_blanks", "Windows strips spaces on both sides of the key",
       [](json& c) { After(c, 0, "[s]\r\nk=v\r\n"); }},
      {"write.section_with_blanks", "Windows strips spaces on both sides of the section",
       [](json& c) { After(c, 0, "[s]\r\nk=v\r\n"); }},
      {"write.header_with_inner_blanks_matches", "the untouched header keeps its blanks",
       [](json& c) { After(c, 0, "[ s ]\r\nk=v\r\nk2=w\r\n"); }},
      {"write.nul_before_first_section", "Windows keeps the bytes before the first section",
       [](json& c) {
         static const char kBytes[] =
             "Data \0 before \0 first \0 section\r\n[section1]\r\nkey1=changed\r\n";
         After(c, 0, std::string(kBytes, sizeof kBytes - 1));
       }},
      {"write.utf8_bom_file",
       "Windows reads no UTF-8 BOM: '\xEF\xBB\xBF[s]' is no header, so [s] is added; the "
       "value is written as ANSI",
       [](json& c) { After(c, 0, "\xEF\xBB\xBF[s]\r\nk=v\r\n[s]\r\nk2=\xE9\r\n"); }},
      {"write.readonly_file",
       "recorded as root; Windows refuses to write a read-only file (as the "
       "readonly_file_no_root_override case shows), and so do we, for root too",
       [](json& c) {
         Ret(c, 1, 0);
         After(c, 1, "[s]\r\nk=v\r\n");
         Ret(c, 2, 1, kV);
       }},
      {"write.all_null_flush", "Windows returns TRUE for the cache flush",
       [](json& c) { Ret(c, 0, 1); }},
      {"write.empty_section_name",
       "Windows crashes; we write an explicit [] block, which is what section \"\" reads",
       [](json& c) { After(c, 0, "[]\r\nkey=string\r\n"); }},
      {"profile.winini_mapped_section_windows",
       "no registry on Linux: WIN.INI is a plain file, [windows] included",
       [](json& c) {
         Ret(c, 0, 9, std::string("from_file\0", 10));
         After(c, 1, "[windows]\r\nProbeKey=to_registry\r\n");
         After(c, 4, "[windows]\r\n");
       }},
      {"profile.winini_section_names", "no registry on Linux: only the file's own sections",
       [](json& c) { Ret(c, 0, 15, std::string("ProbeSec\0Other\0\0", 16)); }},
      {"profile.mapping_applies_to_any_win_ini", "no registry on Linux: the file is read",
       [](json& c) { Ret(c, 0, 9, std::string("from_file\0", 10)); }},
      {"cache.external_edit_old_file_mtime_kept", "nothing is cached: every call reads the file",
       [](json& c) { Ret(c, 3, 6, std::string("222222\0", 7)); }},
      {"cache.external_edit_old_file_mtime_kept_then_api_write",
       "nothing is cached, so the other program's edit is kept",
       [](json& c) { After(c, 3, "[s]\r\nk=222\r\next=1\r\nother=x\r\n"); }},
      {"cache.external_edit_after_api_write_wait", "nothing is cached: the edit is seen",
       [](json& c) { Ret(c, 3, 3, std::string("ext\0", 4)); }},
  };
  return list;
}

// Cases where Windows is not established (or its difference is no rule of
// the functions) and the Wine recording stands, with the reason.
const Expectation kFollowingWine[] = {
    {"parse.nul_in_value", "NUL bytes: not established on Windows", {}},
    {"parse.nul_in_key", "NUL bytes: not established on Windows", {}},
    {"parse.nul_in_section_header", "NUL bytes: not established on Windows", {}},
    {"parse.cp1252_key_value", "case folding of non-ASCII letters: not established", {}},
    {"parse.cp1252_section_case", "case folding of non-ASCII letters: not established", {}},
    {"getstring.enum_keys_sizes",
     "sizes 2 and below (the default's first character at size 2): not established",
     {}},
    {"getstring.enum_sections_sizes", "sizes 2 and 1 (one NUL): not established", {}},
    {"getint.len_29_and_30", "29 characters counted, as Wine; not established", {}},
    {"write.empty_key_name", "Windows crashes; '=string' as Wine, readable with key \"\"", {}},
    {"write.relative_bare_name",
     "Windows refuses ordinary users its own directory; ours is a plain configurable one",
     {}},
    {"write.same_value_no_rewrite", "no rewrite when nothing changes: not established", {}},
};

}  // namespace

std::vector<std::string> ListedVectorCases() {
  std::vector<std::string> names;
  for (const Expectation& e : Expectations()) names.push_back(e.name);
  for (const Expectation& e : kFollowingWine) names.push_back(e.name);
  return names;
}

std::string FollowingWineReason(const std::string& name) {
  for (const Expectation& e : kFollowingWine) {
    if (name == e.name) return e.reason;
  }
  return {};
}

void ApplyWindowsExpectations(const std::string& name, json* c, std::string* skip_reason) {
  for (const Expectation& e : Expectations()) {
    if (name != e.name) continue;
    if (!e.apply) {
      *skip_reason = e.reason;
    } else {
      e.apply(*c);
    }
  }
}

}  // namespace platform
