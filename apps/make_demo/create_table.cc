#include "apps/make_demo/create_table.h"

#include <cstdint>
#include <ctime>
#include <memory>

#include "platform/file.h"
#include "tables/expr.h"
#include "tables/index.h"

namespace demo {
namespace {

void PutLE16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void PutLE32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

bool WriteWhole(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
  std::unique_ptr<platform::File> f;
  platform::OsStatus s = platform::OpenFile(path, platform::Access::kReadWrite,
                                            platform::Share::kExclusive,
                                            platform::Disposition::kCreateAlways, 0x20, &f);
  if (s.ok()) s = f->WriteAt(0, bytes.data(), bytes.size());
  if (!s.ok()) *error = path + ": cannot write (OS error " + std::to_string(s.code()) + ")";
  return s.ok();
}

std::string WithExtension(const std::string& path, const char* ext) {
  size_t dot = path.find_last_of('.');
  return (dot == std::string::npos ? path : path.substr(0, dot)) + ext;
}

}  // namespace

bool CreateTable(const std::string& path, const std::vector<FieldSpec>& fields,
                 const std::vector<TagDef>& tags, std::string* error) {
  bool memo = false;
  uint32_t record_length = 1;
  for (const FieldSpec& f : fields) {
    memo = memo || f.type == 'M';
    record_length += static_cast<uint32_t>(f.length);
  }
  // Header, one descriptor per field, the terminator and one pad byte, then
  // the end-of-file marker of an empty table.
  const uint32_t header_length = 32 + 32 * static_cast<uint32_t>(fields.size()) + 2;
  std::vector<uint8_t> dbf(header_length + 1, 0);
  std::time_t now = std::time(nullptr);
  std::tm tm = *std::gmtime(&now);
  dbf[0] = memo ? 0xF5 : 0x03;
  dbf[1] = static_cast<uint8_t>(tm.tm_year);
  dbf[2] = static_cast<uint8_t>(tm.tm_mon + 1);
  dbf[3] = static_cast<uint8_t>(tm.tm_mday);
  PutLE32(dbf, 4, 0);
  PutLE16(dbf, 8, header_length);
  PutLE16(dbf, 10, record_length);
  dbf[28] = tags.empty() ? 0 : 0x01;
  std::vector<tables::IndexField> index_fields;
  uint32_t offset = 1;
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldSpec& f = fields[i];
    size_t at = 32 + 32 * i;
    for (size_t c = 0; c < f.name.size() && c < 10; ++c) dbf[at + c] = f.name[c];
    dbf[at + 11] = static_cast<uint8_t>(f.type);
    dbf[at + 16] = static_cast<uint8_t>(f.length & 0xFF);
    // Long character fields keep the high byte of the length in "decimals".
    dbf[at + 17] = static_cast<uint8_t>(f.type == 'C' ? f.length >> 8 : f.decimals);
    index_fields.push_back({f.name, f.type, offset, static_cast<uint32_t>(f.length),
                            static_cast<uint32_t>(f.decimals), 0});
    offset += static_cast<uint32_t>(f.length);
  }
  dbf[header_length - 2] = 0x0D;
  dbf[header_length] = 0x1A;
  if (!WriteWhole(path, dbf, error)) return false;

  if (memo) {
    // FPT header: next free block (BE) 8 = 512 / 64, block size (BE) 64.
    std::vector<uint8_t> fpt(512, 0);
    fpt[3] = 8;
    fpt[7] = 64;
    if (!WriteWhole(WithExtension(path, ".fpt"), fpt, error)) return false;
  }
  if (tags.empty()) return true;

  std::string cdx_path = WithExtension(path, ".cdx");
  std::unique_ptr<platform::File> cdx;
  platform::OsStatus s = platform::OpenFile(cdx_path, platform::Access::kReadWrite,
                                            platform::Share::kExclusive,
                                            platform::Disposition::kCreateAlways, 0x20, &cdx);
  if (!s.ok()) {
    *error = cdx_path + ": cannot create (OS error " + std::to_string(s.code()) + ")";
    return false;
  }
  std::vector<tables::TagSpec> specs;
  for (const TagDef& t : tags) specs.push_back({t.name, t.key, "", false, false});
  tables::IndexOptions options;
  options.shared = false;
  std::unique_ptr<tables::CdxIndex> index;
  tables::IndexStatus st =
      tables::CdxIndex::Create(cdx.get(), cdx_path, index_fields, specs, options, &index);
  if (!st.ok()) {
    *error = cdx_path + ": " + st.text();
    return false;
  }
  index.reset();
  return true;
}

}  // namespace demo
