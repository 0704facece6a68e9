#include "tables/dbf/dbf_create.h"

#include <memory>
#include <string>

#include "platform/file.h"
#include "platform/local_time.h"
#include "tables/dbf/fpt_file.h"

namespace tables {

Status CreateTable(std::string_view path, uint8_t version, const std::vector<FieldSpec>& fields,
                   uint32_t memo_block_size) {
  bool memo = false;
  for (const FieldSpec& f : fields) {
    if (f.type == 'M' || f.type == 'G' || f.type == 'W' || f.type == 'P') memo = true;
  }
  if (memo && version == 0x03) version = 0xF5;
  platform::LocalTime now = platform::LocalNow();
  std::vector<uint8_t> header;
  TABLE_RETURN_IF_ERROR(CreateHeader(version, fields, 0, now.year, now.month, now.day, &header));
  header.push_back(0x1A);
  std::string p(path);
  std::unique_ptr<platform::File> f;
  platform::OsStatus s =
      platform::OpenFile(p, platform::Access::kReadWrite, platform::Share::kExclusive,
                         platform::Disposition::kCreateAlways, 0x20, &f);
  if (!s.ok()) return Status(Status::kOpen, "cannot create " + p, s.code(), p);
  s = f->WriteAt(0, header.data(), header.size());
  if (!s.ok()) return Status(Status::kWrite, "cannot write " + p, s.code(), p);
  if (memo) {
    size_t dot = p.find_last_of('.');
    size_t slash = p.find_last_of("\\/");
    std::string memo_path =
        (dot != std::string::npos && (slash == std::string::npos || dot > slash) ? p.substr(0, dot)
                                                                                 : p) +
        ".fpt";
    std::unique_ptr<platform::File> m;
    s = platform::OpenFile(memo_path, platform::Access::kReadWrite, platform::Share::kExclusive,
                           platform::Disposition::kCreateAlways, 0x20, &m);
    if (!s.ok()) return Status(Status::kOpen, "cannot create " + memo_path, s.code(), memo_path);
    TABLE_RETURN_IF_ERROR(MemoFile::InitFpt(m.get(), memo_block_size));
  }
  return Status::Ok();
}

}  // namespace tables
