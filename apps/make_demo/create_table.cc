#include "apps/make_demo/create_table.h"

#include <memory>

#include "platform/file.h"
#include "tables/dbf_create.h"
#include "tables/expr.h"
#include "tables/index.h"
#include "tables/table.h"

namespace demo {
namespace {

std::string WithExtension(const std::string& path, const char* ext) {
  size_t dot = path.find_last_of('.');
  return (dot == std::string::npos ? path : path.substr(0, dot)) + ext;
}

std::string OsText(const std::string& path, platform::OsStatus s) {
  return path + ": OS error " + std::to_string(s.code());
}

}  // namespace

bool CreateTable(const std::string& path, const std::vector<FieldSpec>& fields,
                 const std::vector<TagDef>& tags, std::string* error) {
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
  platform::OsStatus os = platform::OpenFile(path, platform::Access::kReadWrite,
                                             platform::Share::kExclusive,
                                             platform::Disposition::kOpenExisting, 0, &dbf);
  uint8_t flag = 0x01;
  if (os.ok()) os = dbf->WriteAt(28, &flag, 1);
  if (!os.ok()) {
    *error = OsText(path, os);
    return false;
  }
  dbf.reset();

  std::string cdx_path = WithExtension(path, ".cdx");
  std::unique_ptr<platform::File> cdx;
  os = platform::OpenFile(cdx_path, platform::Access::kReadWrite, platform::Share::kExclusive,
                          platform::Disposition::kCreateAlways, 0x20, &cdx);
  if (!os.ok()) {
    *error = OsText(cdx_path, os);
    return false;
  }
  std::vector<tables::TagSpec> tag_specs;
  for (const TagDef& t : tags) tag_specs.push_back({t.name, t.key, "", false, false});
  tables::IndexOptions options;
  options.shared = false;
  std::unique_ptr<tables::CdxIndex> index;
  tables::IndexStatus ist =
      tables::CdxIndex::Create(cdx.get(), cdx_path, layout, tag_specs, options, &index);
  if (!ist.ok()) {
    *error = cdx_path + ": " + ist.text();
    return false;
  }
  return true;
}

}  // namespace demo
