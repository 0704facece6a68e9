// The dump is written with nlohmann-json, one element of each list to a line,
// so that dumps of big tables stay readable with line tools; the records are
// kept as text until their checksum, which comes before them, is known.
#include "tables/tools/table_dump.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/cp1252.h"
#include "tables/dbf/dbf_field.h"
#include "tables/dbf/fpt_file.h"
#include "tables/dbf/key_codec.h"
#include "tables/dbf_value.h"
#include "tables/dbserver.h"
#include "tables/tools/cdx_check.h"
#include "tables/tools/digest.h"

namespace tables {
namespace {

// Keys in the order they are set.
using Json = nlohmann::ordered_json;

constexpr size_t kMemoHead = 4096;  // bytes of a memo shown as hex and text

// Windows-1252 text as a JSON string; the undefined bytes become U+0081 etc.
Json Text(std::string_view cp1252) { return platform::Cp1252ToUtf8(cp1252); }

// Whole numbers without a fraction; the rest as the shortest text that
// reads back as the same double.
Json Number(double v) {
  if (v == std::floor(v) && std::fabs(v) < 1e15) return static_cast<int64_t>(v);
  return v;
}

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }

bool IsMemo(char type) { return type == 'M' || type == 'G' || type == 'P' || type == 'W'; }

Json HeaderJson(Table& t) {
  const DbfHeader& h = t.header();
  uint64_t size = 0;
  t.file()->Size(&size);
  uint8_t last = 0;
  size_t got = 0;
  if (size > 0) t.file()->ReadAt(size - 1, &last, 1, &got);
  char hex2[4];
  std::snprintf(hex2, sizeof hex2, "%02x", h.version);
  return Json{{"version", h.version},
              {"version_hex", hex2},
              {"year_byte", h.year},
              {"month_byte", h.month},
              {"day_byte", h.day},
              {"record_count", h.stored_count},
              {"header_length", h.header_length},
              {"record_length", h.record_length},
              {"byte28", h.flags},
              {"byte29", h.codepage},
              {"file_size", size},
              {"ends_with_1a", last == 0x1A},
              {"records_from_size", t.RecordCount()}};
}

Json FieldJson(const FieldDesc& f) {
  return Json{{"name", Text(f.name)},   {"type", Text(std::string(1, f.type))},
              {"len", f.length},        {"dec", f.decimals},
              {"len_byte", f.len_byte}, {"dec_byte", f.dec_byte},
              {"flags", f.flags},       {"offset", f.offset}};
}

Status MemoJson(Table& t, Json* out) {
  MemoFile* memo = t.memo();
  if (!memo) return Status::Ok();
  uint32_t next_free = 0;
  uint64_t memo_size = 0;
  TABLE_RETURN_IF_ERROR(memo->ReadState(&next_free, &memo_size));
  *out = Json{{"name", Text(BaseName(memo->name()))},
              {"file_size", memo_size},
              {"block_size", memo->block_size()},
              {"next_free_block", next_free}};
  return Status::Ok();
}

Status IndexJson(DBServer& s, Json* out) {
  CdxIndex* index = s.index();
  if (!index) return Status::Ok();
  uint64_t index_size = 0;
  platform::OsStatus os = s.index_file()->Size(&index_size);
  if (!os.ok()) {
    return Status(Status::kRead, index->file_name() + ": cannot read the file size", os.code(),
                  index->file_name());
  }
  *out = Json{{"name", Text(BaseName(index->file_name()))},
              {"file_size", index_size},
              {"tag_count", index->tag_count()}};
  return Status::Ok();
}

// What the field's value says beside its raw bytes; `plain` is the record
// with the field's NULL bit cleared.
void AddFieldValue(Table& t, size_t fi, const std::vector<uint8_t>& rec,
                   const std::vector<uint8_t>& plain, Json* out) {
  const FieldDesc& f = t.header().fields[fi];
  rt::Value v;
  Status st = FieldGetValue(t, fi, plain.data(), &v);
  if (!st.ok()) {
    (*out)["error"] = Text(st.text());
  } else if (f.type == 'C' || f.type == 'V' || f.type == 'Q') {
    const std::string& text = v.GetString();
    if (f.type != 'C') (*out)["length"] = text.size();
    (*out)["hex"] = Hex(text);
    (*out)["text"] = Text(text);
  } else if (IsMemo(f.type)) {
    const std::string& text = v.GetString();
    uint32_t block = 0;
    MemoBlock(f, rec.data() + f.offset, &block);
    std::string head = text.substr(0, kMemoHead);
    (*out)["block"] = block ? Json(block) : Json(nullptr);
    (*out)["length"] = text.size();
    (*out)["sha256"] = Sha256Hex(text);
    (*out)["hex"] = Hex(head);
    (*out)["text"] = Text(head);
    (*out)["truncated"] = text.size() > kMemoHead;
  } else if (v.IsDate()) {
    (*out)["value"] = v.GetDate().empty() ? std::string() : DtosFromJulian(v.GetDate().julian);
  } else if (f.type == 'L') {
    int l = ParseLogical(rec[f.offset]);
    (*out)["value"] = l == 1 ? Json(true) : l == 0 ? Json(false) : Json(nullptr);
  } else if (f.type == 'T') {
    (*out)["value"] = Text(v.GetString());
  } else if (v.IsNumeric()) {
    if (f.type == 'N' || f.type == 'F') {
      std::string_view raw(reinterpret_cast<const char*>(rec.data()) + f.offset, f.length);
      size_t b = raw.find_first_not_of(' ');
      size_t e = raw.find_last_not_of(' ');
      (*out)["text"] = Text(b == std::string_view::npos ? "" : raw.substr(b, e - b + 1));
    }
    (*out)["value"] = Number(v.GetFloat());
  }
}

Json RecordJson(Table& t, uint32_t recno, const std::vector<uint8_t>& rec) {
  const DbfHeader& h = t.header();
  std::string_view whole(reinterpret_cast<const char*>(rec.data()), rec.size());
  Json fields = Json::object();
  for (size_t fi = 0; fi < h.fields.size(); ++fi) {
    const FieldDesc& f = h.fields[fi];
    Json field{{"raw", Hex(whole.substr(f.offset, f.length))}};
    if (f.type != '0') {
      if (f.nullable()) field["null"] = NullBit(h, rec.data(), f.null_bit);
      // The stored value is shown for NULL fields too, as other engines do.
      std::vector<uint8_t> plain = rec;
      SetNullBit(h, plain.data(), f.null_bit, false);
      AddFieldValue(t, fi, rec, plain, &field);
    }
    fields[platform::Cp1252ToUtf8(f.name)] = std::move(field);
  }
  return Json{{"recno", recno},
              {"deleted", rec[0] == '*'},
              {"flag", Hex(whole.substr(0, 1))},
              {"fields", std::move(fields)}};
}

// The tag's facts and every entry in index order.
Status TagJson(CdxIndex& index, size_t tag, Json* out) {
  const TagInfo& info = index.tag(tag);
  *out = Json{{"order", tag + 1},
              {"name", Text(info.name)},
              {"key", Text(info.key_expr)},
              {"for", Text(info.for_expr)},
              {"unique", info.unique},
              {"descending", info.descending},
              {"raw_key_length", info.key_length},
              {"options", info.options},
              {"header_offset", info.header_offset}};
  std::string walk_text;
  Json entries = Json::array();
  IndexCursor c;
  Status is = index.First(tag, &c);
  while (is.ok() && c.valid) {
    std::string kh = Hex(c.key);
    walk_text += std::to_string(c.recno) + " " + kh + "\n";
    entries.push_back(Json::array({c.recno, kh}));
    is = index.Next(&c);
  }
  if (!is.ok()) return is.WithFile(index.file_name());
  (*out)["key_count"] = entries.size();
  (*out)["entry_count"] = entries.size();
  (*out)["entries_sha256"] = Sha256Hex(walk_text);
  (*out)["entries"] = std::move(entries);
  return Status::Ok();
}

// "key": value for one member of the top-level object, compact.
std::string Member(const char* key, const Json& value) {
  return Json(key).dump() + ": " + value.dump();
}

}  // namespace

Status DumpTable(const std::string& path, std::ostream& out) {
  std::unique_ptr<DBServer> s;
  TABLE_RETURN_IF_ERROR(DBServer::TryOpen(path, true, true, "DBFCDX", LockSchemeId::kVfp, &s));
  Table& t = s->table();
  const DbfHeader& h = t.header();
  Json memo, index_file;
  TABLE_RETURN_IF_ERROR(MemoJson(t, &memo));
  TABLE_RETURN_IF_ERROR(IndexJson(*s, &index_file));

  out << "{\n"
      << Member("format", "table-dump/1") << ",\n"
      << Member("table", Text(BaseName(path))) << ",\n"
      << Member("header", HeaderJson(t)) << ",\n\"fields\": [";
  for (size_t i = 0; i < h.fields.size(); ++i) {
    out << (i ? ",\n " : "\n ") << FieldJson(h.fields[i]).dump();
  }
  out << "],\n"
      << Member("memo_file", memo) << ",\n"
      << Member("index_file", index_file) << ",\n"
      << Member("records_total", t.RecordCount()) << ",\n"
      << Member("records_truncated", false) << ",\n";

  std::string checksum_text;
  std::ostringstream records;
  std::vector<uint8_t> rec(t.record_length());
  for (uint32_t n = 1; n <= t.RecordCount(); ++n) {
    TABLE_RETURN_IF_ERROR(t.ReadRecord(n, rec.data()));
    std::string_view whole(reinterpret_cast<const char*>(rec.data()), rec.size());
    checksum_text += std::to_string(n) + " " + Hex(whole) + "\n";
    records << (n > 1 ? ",\n " : "\n ") << RecordJson(t, n, rec).dump();
  }
  out << Member("records_sha256", Sha256Hex(checksum_text)) << ",\n\"records\": [" << records.str()
      << "],\n\"tags\": [";

  CdxIndex* index = s->index();
  size_t tags = index ? index->tag_count() : 0;
  for (size_t tag = 0; tag < tags; ++tag) {
    Json tag_json;
    TABLE_RETURN_IF_ERROR(TagJson(*index, tag, &tag_json));
    out << (tag ? ",\n " : "\n ") << tag_json.dump();
  }
  Json autorder{{"indexord", tags ? 1 : 0}, {"tag", Text(tags ? index->tag(0).name : "")}};
  out << "],\n" << Member("autorder1", autorder) << "\n}\n";
  return Status::Ok();
}

Status CheckTable(const std::string& path, std::vector<std::string>* faults) {
  // Opened for writing (nothing is written) so that tags we could not
  // maintain show up; read-only when the files do not allow more.
  std::unique_ptr<DBServer> s;
  bool writable = DBServer::TryOpen(path, true, false, "DBFCDX", LockSchemeId::kVfp, &s).ok();
  if (!writable) {
    TABLE_RETURN_IF_ERROR(DBServer::TryOpen(path, true, true, "DBFCDX", LockSchemeId::kVfp, &s));
  }
  Table& t = s->table();
  for (const std::string& w : t.warnings()) faults->push_back(path + ": " + w);
  if (!t.write_refusal().empty()) faults->push_back(path + ": " + t.write_refusal());
  std::vector<uint8_t> rec(t.record_length());
  // Memo chains of live pointers must not overlap.
  std::multimap<uint32_t, std::pair<uint32_t, uint32_t>> chains;  // start → (end, recno)
  for (uint32_t n = 1; n <= t.RecordCount(); ++n) {
    Status st = t.ReadRecord(n, rec.data());
    if (!st.ok()) {
      faults->push_back(st.text());
      break;
    }
    if (rec[0] != ' ' && rec[0] != '*') {
      faults->push_back(path + ": record " + std::to_string(n) + ": bad deletion flag");
    }
    for (size_t fi : t.visible_fields()) {
      rt::Value v;
      st = FieldGetValue(t, fi, rec.data(), &v);
      if (!st.ok()) faults->push_back("record " + std::to_string(n) + ": " + st.text());
      const FieldDesc& f = t.fields()[fi];
      uint32_t block = 0;
      if ((f.type == 'M' || f.type == 'G' || f.type == 'P' || f.type == 'W') && st.ok() &&
          t.memo() && MemoBlock(f, rec.data() + f.offset, &block) && block != 0 &&
          t.memo()->kind() == 'F') {
        chains.insert({block, {block + std::max(1u, t.memo()->BlocksOf(block)), n}});
      }
    }
  }
  uint32_t end = 0, owner = 0;
  for (const auto& [start, chain] : chains) {
    if (start < end) {
      faults->push_back(path + ": memo block " + std::to_string(start) + " of record " +
                        std::to_string(chain.second) + " overlaps the memo of record " +
                        std::to_string(owner));
    }
    if (chain.first > end) {
      end = chain.first;
      owner = chain.second;
    }
  }
  if (CdxIndex* index = s->index()) {
    IndexCheckReport report;
    Status is = CheckIndex(
        *index, t.RecordCount(),
        [&](uint32_t recno, std::vector<uint8_t>* out) {
          out->resize(t.record_length());
          Status st = t.ReadRecord(recno, out->data());
          return st.ok() ? Status::Ok() : Status::Corruption(st.text());
        },
        &report);
    if (!is.ok()) faults->push_back(is.text());
    for (const std::string& f : report.faults) faults->push_back(f);
    is = writable ? index->CheckWritable() : Status::Ok();
    if (!is.ok()) faults->push_back("writes refused: " + is.text());
  }
  return Status::Ok();
}

}  // namespace tables
