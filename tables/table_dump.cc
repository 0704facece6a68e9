#include "tables/table_dump.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>

#include "runtime/convert.h"
#include "tables/cdx_check.h"
#include "tables/dbf_field.h"
#include "tables/dbf_value.h"
#include "tables/dbserver.h"
#include "tables/digest.h"
#include "tables/fpt_file.h"

namespace tables {
namespace {

// A JSON string of Windows-1252 text (undefined bytes become U+0081 etc.).
std::string JsonText(std::string_view cp1252) {
  static const uint16_t kHigh[32] = {
      0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
  std::string out = "\"";
  for (unsigned char c : cp1252) {
    uint32_t cp = c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : c;
    if (cp == '"' || cp == '\\') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (cp < 0x20 || cp == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", cp);
      out += buf;
    } else if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out + "\"";
}


// The shortest text that reads back as the same double.
std::string Number(double v) {
  if (v == std::floor(v) && std::fabs(v) < 1e15) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", v);
    return buf;
  }
  char buf[40];
  for (int p = 1; p <= 17; ++p) {
    std::snprintf(buf, sizeof buf, "%.*g", p, v);
    if (std::strtod(buf, nullptr) == v) break;
  }
  return buf;
}

std::string BaseName(const std::string& path) {
  return path.substr(path.find_last_of("\\/") + 1);
}

}  // namespace

Status DumpTable(const std::string& path, std::ostream& out) {
  std::unique_ptr<DBServer> s;
  TABLE_RETURN_IF_ERROR(DBServer::TryOpen(path, true, true, "DBFCDX", LockSchemeId::kVfp, &s));
  Table& t = s->table();
  const DbfHeader& h = t.header();
  uint64_t size = 0;
  t.file()->Size(&size);
  uint8_t last = 0;
  size_t got = 0;
  if (size > 0) t.file()->ReadAt(size - 1, &last, 1, &got);
  std::string name = BaseName(path);
  char hex2[4];
  std::snprintf(hex2, sizeof hex2, "%02x", h.version);

  out << "{\n\"format\": \"table-dump/1\",\n\"table\": " << JsonText(name) << ",\n";
  out << "\"header\": {\"version\": " << int(h.version) << ", \"version_hex\": \"" << hex2
      << "\", \"year_byte\": " << int(h.year) << ", \"month_byte\": " << int(h.month)
      << ", \"day_byte\": " << int(h.day) << ", \"record_count\": " << h.stored_count
      << ", \"header_length\": " << h.header_length << ", \"record_length\": "
      << h.record_length << ", \"byte28\": " << int(h.flags) << ", \"byte29\": "
      << int(h.codepage) << ", \"file_size\": " << size << ", \"ends_with_1a\": "
      << (last == 0x1A ? "true" : "false") << ", \"records_from_size\": " << t.RecordCount()
      << "},\n\"fields\": [";
  for (size_t i = 0; i < h.fields.size(); ++i) {
    const FieldDesc& f = h.fields[i];
    out << (i ? ",\n " : "\n ") << "{\"name\": " << JsonText(f.name) << ", \"type\": "
        << JsonText(std::string(1, f.type)) << ", \"len\": " << f.length << ", \"dec\": "
        << f.decimals << ", \"len_byte\": " << int(f.len_byte) << ", \"dec_byte\": "
        << int(f.dec_byte) << ", \"flags\": " << int(f.flags) << ", \"offset\": " << f.offset
        << "}";
  }
  out << "],\n\"memo_file\": ";
  if (MemoFile* memo = t.memo()) {
    uint32_t next_free = 0;
    uint64_t memo_size = 0;
    TABLE_RETURN_IF_ERROR(memo->ReadState(&next_free, &memo_size));
    out << "{\"name\": " << JsonText(BaseName(memo->name())) << ", \"file_size\": " << memo_size
        << ", \"block_size\": " << memo->block_size() << ", \"next_free_block\": " << next_free
        << "}";
  } else {
    out << "null";
  }
  out << ",\n\"index_file\": ";
  if (CdxIndex* index = s->index()) {
    uint64_t index_size = 0;
    platform::OsStatus os = s->index_file()->Size(&index_size);
    if (!os.ok()) {
      return Status(Status::kRead, index->file_name() + ": cannot read the file size", os.code(),
                    index->file_name());
    }
    out << "{\"name\": " << JsonText(BaseName(index->file_name())) << ", \"file_size\": "
        << index_size << ", \"tag_count\": " << index->tag_count() << "}";
  } else {
    out << "null";
  }
  out << ",\n\"records_total\": " << t.RecordCount() << ",\n\"records_truncated\": false,\n";

  std::string checksum_text;
  std::ostringstream records;
  std::vector<uint8_t> rec(t.record_length());
  for (uint32_t n = 1; n <= t.RecordCount(); ++n) {
    TABLE_RETURN_IF_ERROR(t.ReadRecord(n, rec.data()));
    std::string_view whole(reinterpret_cast<const char*>(rec.data()), rec.size());
    checksum_text += std::to_string(n) + " " + Hex(whole) + "\n";
    records << (n > 1 ? ",\n " : "\n ") << "{\"recno\": " << n << ", \"deleted\": "
            << (rec[0] == '*' ? "true" : "false") << ", \"flag\": \"" << Hex(whole.substr(0, 1))
            << "\", \"fields\": {";
    for (size_t fi = 0; fi < h.fields.size(); ++fi) {
      const FieldDesc& f = h.fields[fi];
      std::string_view raw = whole.substr(f.offset, f.length);
      records << (fi ? ", " : "") << JsonText(f.name) << ": {\"raw\": \"" << Hex(raw) << "\"";
      if (f.type != '0') {
        if (f.nullable()) {
          records << ", \"null\": " << (NullBit(h, rec.data(), f.null_bit) ? "true" : "false");
        }
        // The stored value is shown for NULL fields too, as other engines do.
        std::vector<uint8_t> plain = rec;
        SetNullBit(h, plain.data(), f.null_bit, false);
        rt::Value v;
        Status st = FieldGetValue(t, fi, plain.data(), &v);
        if (!st.ok()) {
          records << ", \"error\": " << JsonText(st.text());
        } else if (f.type == 'C' || f.type == 'V' || f.type == 'Q') {
          const std::string& text = v.GetString();
          if (f.type != 'C') records << ", \"length\": " << text.size();
          records << ", \"hex\": \"" << Hex(text) << "\", \"text\": " << JsonText(text);
        } else if (f.type == 'M' || f.type == 'G' || f.type == 'P' || f.type == 'W') {
          const std::string& text = v.GetString();
          uint32_t block = 0;
          MemoBlock(f, rec.data() + f.offset, &block);
          records << ", \"block\": ";
          if (block) records << block; else records << "null";
          std::string head = text.substr(0, 4096);
          records << ", \"length\": " << text.size() << ", \"sha256\": \"" << Sha256Hex(text)
                  << "\", \"hex\": \"" << Hex(head) << "\", \"text\": " << JsonText(head)
                  << ", \"truncated\": " << (text.size() > 4096 ? "true" : "false");
        } else if (v.IsDate()) {
          records << ", \"value\": \""
                  << (v.GetDate().empty() ? std::string() : rt::DToS(v.GetDate())) << "\"";
        } else if (f.type == 'L') {
          int l = ParseLogical(rec[f.offset]);
          records << ", \"value\": " << (l == 1 ? "true" : l == 0 ? "false" : "null");
        } else if (f.type == 'T') {
          records << ", \"value\": " << JsonText(v.GetString());
        } else if (v.IsNumeric()) {
          if (f.type == 'N' || f.type == 'F') {
            std::string text(raw);
            size_t b = text.find_first_not_of(' ');
            size_t e = text.find_last_not_of(' ');
            text = b == std::string::npos ? "" : text.substr(b, e - b + 1);
            records << ", \"text\": " << JsonText(text);
          }
          records << ", \"value\": " << Number(v.GetFloat());
        }
      }
      records << "}";
    }
    records << "}}";
  }
  out << "\"records_sha256\": \"" << Sha256Hex(checksum_text) << "\",\n\"records\": ["
      << records.str() << "],\n\"tags\": [";

  CdxIndex* index = s->index();
  if (index) {
    for (size_t tag = 0; tag < index->tag_count(); ++tag) {
      const TagInfo& info = index->tag(tag);
      out << (tag ? ",\n " : "\n ") << "{\"order\": " << tag + 1 << ", \"name\": "
          << JsonText(info.name) << ", \"key\": " << JsonText(info.key_expr) << ", \"for\": "
          << JsonText(info.for_expr) << ", \"unique\": " << (info.unique ? "true" : "false")
          << ", \"descending\": " << (info.descending ? "true" : "false")
          << ", \"raw_key_length\": " << info.key_length << ", \"options\": "
          << int(info.options) << ", \"header_offset\": " << info.header_offset;
      std::string walk_text;
      std::ostringstream entries;
      IndexCursor c;
      IndexStatus is = index->First(tag, &c);
      uint64_t count = 0;
      while (is.ok() && c.valid) {
        std::string kh = Hex(c.key);
        walk_text += std::to_string(c.recno) + " " + kh + "\n";
        entries << (count ? ", " : "") << "[" << c.recno << ", \"" << kh << "\"]";
        ++count;
        is = index->Next(&c);
      }
      if (!is.ok()) return Status::FromIndex(is, index->file_name());
      out << ", \"key_count\": " << count << ", \"entry_count\": " << count
          << ", \"entries_sha256\": \"" << Sha256Hex(walk_text) << "\", \"entries\": ["
          << entries.str() << "]}";
    }
  }
  out << "],\n\"autorder1\": {\"indexord\": " << (index && index->tag_count() ? 1 : 0)
      << ", \"tag\": " << JsonText(index && index->tag_count() ? index->tag(0).name : "")
      << "}\n}\n";
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
    IndexStatus is = CheckIndex(
        *index, t.RecordCount(),
        [&](uint32_t recno, std::vector<uint8_t>* out) {
          out->resize(t.record_length());
          Status st = t.ReadRecord(recno, out->data());
          return st.ok() ? IndexStatus::Ok() : IndexStatus::Corruption(st.text());
        },
        &report);
    if (!is.ok()) faults->push_back(is.text());
    for (const std::string& f : report.faults) faults->push_back(f);
    is = writable ? index->CheckWritable() : IndexStatus::Ok();
    if (!is.ok()) faults->push_back("writes refused: " + is.text());
  }
  return Status::Ok();
}

}  // namespace tables
