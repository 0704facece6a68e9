#include "apps/make_demo/create_table.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/file.h"
#include "tables/cdx/cdx_tree.h"
#include "tables/cdx/index.h"
#include "tables/dbf/dbf_create.h"
#include "tables/dbf/dbf_field.h"
#include "tables/dbf/table.h"
#include "tables/expr/expr.h"

namespace demo {
namespace {

std::string WithExtension(const std::string& path, const char* ext) {
  size_t dot = path.find_last_of('.');
  return (dot == std::string::npos ? path : path.substr(0, dot)) + ext;
}

std::string OsText(const std::string& path, platform::OsStatus s) {
  return path + ": OS error " + std::to_string(s.code());
}

// The new files: the table, its memo file, and the structural CDX with the
// tags (left open exclusively in *cdx / *index when there are tags).
bool CreateFiles(const std::string& path, const std::vector<FieldSpec>& fields,
                 const std::vector<TagDef>& tags, std::unique_ptr<platform::File>* cdx,
                 std::unique_ptr<tables::CdxIndex>* index, std::string* error) {
  std::vector<tables::FieldSpec> specs;
  for (const FieldSpec& f : fields) {
    specs.push_back({f.name, f.type, static_cast<uint32_t>(f.length),
                     static_cast<uint32_t>(f.decimals), false, false});
  }
  tables::Status st = tables::CreateTable(path, 0x03, specs);
  if (!st.ok()) {
    *error = st.text();
    return false;
  }
  if (tags.empty()) return true;

  // The record layout as the index code sees it.
  std::vector<tables::IndexField> layout;
  {
    std::unique_ptr<tables::Table> table;
    tables::OpenOptions options;
    options.shared = false;
    st = tables::Table::Open(path, options, &table);
    if (!st.ok()) {
      *error = st.text();
      return false;
    }
    layout = table->index_fields();
    table->Close();
  }
  // Header byte 28, bit 0: the table has a structural CDX.
  std::unique_ptr<platform::File> dbf;
  platform::OsStatus os =
      platform::OpenFile(path, platform::Access::kReadWrite, platform::Share::kExclusive,
                         platform::Disposition::kOpenExisting, 0, &dbf);
  uint8_t flag = 0x01;
  if (os.ok()) os = dbf->WriteAt(28, &flag, 1);
  if (!os.ok()) {
    *error = OsText(path, os);
    return false;
  }
  dbf.reset();

  std::string cdx_path = WithExtension(path, ".cdx");
  os = platform::OpenFile(cdx_path, platform::Access::kReadWrite, platform::Share::kExclusive,
                          platform::Disposition::kCreateAlways, 0x20, cdx);
  if (!os.ok()) {
    *error = OsText(cdx_path, os);
    return false;
  }
  std::vector<tables::TagSpec> tag_specs;
  for (const TagDef& t : tags) tag_specs.push_back({t.name, t.key, "", false, false});
  tables::IndexOptions options;
  options.shared = false;
  tables::Status ist =
      tables::CdxIndex::Create(cdx->get(), cdx_path, layout, tag_specs, options, index);
  if (!ist.ok()) {
    *error = cdx_path + ": " + ist.text();
    return false;
  }
  return true;
}

// The keys of one tag for every record, in one flat buffer.
struct TagKeys {
  uint32_t length = 0;
  std::vector<uint8_t> bytes;  // count * length
  std::vector<uint32_t> recnos;
};

// Inserts the keys in (key, record number) order: every insertion lands at
// the end of the tree, whose last leaf then splits keeping its left part
// full. Committed every `slice` keys so that the changed pages stay few.
bool InsertSorted(tables::CdxIndex& index, size_t tag, TagKeys& keys, const std::string& where,
                  std::string* error) {
  const uint32_t len = keys.length;
  const uint8_t* base = keys.bytes.data();
  std::vector<uint32_t> order(keys.recnos.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    int c =
        std::memcmp(base + static_cast<size_t>(a) * len, base + static_cast<size_t>(b) * len, len);
    return c != 0 ? c < 0 : keys.recnos[a] < keys.recnos[b];
  });
  constexpr size_t kSlice = 100000;
  tables::cdx::Tree& tree = index.tree(tag);
  const bool unique = index.tag(tag).unique;
  for (size_t at = 0; at < order.size(); at += kSlice) {
    tables::Status st = index.BeginUpdate();
    for (size_t i = at; st.ok() && i < std::min(order.size(), at + kSlice); ++i) {
      std::string_view key(
          reinterpret_cast<const char*>(base) + static_cast<size_t>(order[i]) * len, len);
      bool inserted = false;
      st = tree.Insert(key, keys.recnos[order[i]], unique, &inserted);
    }
    if (!st.ok()) {
      index.AbortUpdate();
      *error = where + ": " + st.text();
      return false;
    }
    st = index.EndUpdate();
    if (!st.ok()) {
      *error = where + ": " + st.text();
      return false;
    }
  }
  return true;
}

// Every tag's key of record recno added to keys (key: scratch space).
bool AddKeys(tables::CdxIndex* index, std::span<const uint8_t> record, uint32_t recno,
             const std::string& path, std::string* key, std::vector<TagKeys>* keys,
             std::string* error) {
  for (size_t t = 0; t < keys->size(); ++t) {
    TagKeys& tag = (*keys)[t];
    bool included = false;
    tables::Status ist = index->KeyOf(t, record, recno, key, &included);
    if (!ist.ok()) {
      *error = path + ": " + ist.text();
      return false;
    }
    if (!included) continue;
    if (key->size() != tag.length) {
      *error = path + ": key of record " + std::to_string(recno) + " has " +
               std::to_string(key->size()) + " bytes";
      return false;
    }
    tag.bytes.insert(tag.bytes.end(), key->begin(), key->end());
    tag.recnos.push_back(recno);
  }
  return true;
}

}  // namespace

bool CreateTable(const std::string& path, const std::vector<FieldSpec>& fields,
                 const std::vector<TagDef>& tags, std::string* error) {
  std::unique_ptr<platform::File> cdx;
  std::unique_ptr<tables::CdxIndex> index;
  return CreateFiles(path, fields, tags, &cdx, &index, error);
}

void RecordBuilder::Char(size_t field, std::string_view text) {
  const Slot& s = slots_[field];
  size_t n = std::min<size_t>(text.size(), s.length);
  std::memcpy(record_ + s.offset, text.data(), n);
  std::memset(record_ + s.offset + n, ' ', s.length - n);
}

void RecordBuilder::Date(size_t field, int32_t julian) {
  tables::FormatDate(julian, reinterpret_cast<char*>(record_ + slots_[field].offset));
}

void RecordBuilder::Number(size_t field, double value) {
  const Slot& s = slots_[field];
  char* out = reinterpret_cast<char*>(record_ + s.offset);
  if (!tables::FormatNumeric(value, s.length, s.decimals, out)) std::memset(out, '*', s.length);
}

void RecordBuilder::Logical(size_t field, bool value) {
  record_[slots_[field].offset] = value ? 'T' : 'F';
}

bool CreateFilledTable(const std::string& path, const std::vector<FieldSpec>& fields,
                       const std::vector<TagDef>& tags, uint32_t count,
                       const std::function<void(uint32_t, RecordBuilder&)>& make,
                       std::string* error) {
  std::unique_ptr<platform::File> cdx;
  std::unique_ptr<tables::CdxIndex> index;
  if (!CreateFiles(path, fields, tags, &cdx, &index, error)) return false;

  std::unique_ptr<tables::Table> table;
  tables::OpenOptions options;
  options.shared = false;
  tables::Status st = tables::Table::Open(path, options, &table);
  auto fail = [&](const tables::Status& s) {
    *error = s.text();
    return false;
  };
  if (!st.ok()) return fail(st);
  RecordBuilder builder;
  for (const FieldSpec& f : fields) {
    int at = table->FieldIndex(f.name);
    if (at < 0)
      return fail(tables::Status(tables::Status::kArgument, "no field " + f.name, 0, path));
    const tables::FieldDesc& d = table->fields()[static_cast<size_t>(at)];
    builder.slots_.push_back({d.offset, d.length, d.decimals});
  }

  std::vector<TagKeys> keys(index ? index->tag_count() : 0);
  for (size_t t = 0; t < keys.size(); ++t) {
    keys[t].length = index->tag(t).key_length;
    keys[t].bytes.reserve(static_cast<size_t>(count) * keys[t].length);
    keys[t].recnos.reserve(count);
  }
  const uint32_t length = table->record_length();
  const std::vector<uint8_t> blank = table->BlankRecord();
  constexpr uint32_t kChunk = 16384;
  std::vector<uint8_t> chunk(static_cast<size_t>(kChunk) * length);
  std::string key;
  st = table->BeginAppend();
  if (!st.ok()) return fail(st);
  for (uint32_t done = 0; done < count;) {
    uint32_t n = std::min(kChunk, count - done);
    for (uint32_t i = 0; i < n; ++i) {
      builder.record_ = chunk.data() + static_cast<size_t>(i) * length;
      std::memcpy(builder.record_, blank.data(), length);
      make(done + i, builder);
      std::span<const uint8_t> record(builder.record_, length);
      if (!AddKeys(index.get(), record, done + i + 1, path, &key, &keys, error)) return false;
    }
    uint32_t first = 0;
    st = table->AppendRecords(chunk.data(), n, false, &first);
    if (!st.ok()) return fail(st);
    done += n;
  }
  st = table->EndAppend();
  if (st.ok()) st = table->Close();
  if (!st.ok()) return fail(st);

  for (size_t t = 0; t < keys.size(); ++t) {
    if (!InsertSorted(*index, t, keys[t], index->file_name() + ", tag " + index->tag(t).name,
                      error)) {
      return false;
    }
    keys[t] = TagKeys();
  }
  return true;
}

}  // namespace demo
