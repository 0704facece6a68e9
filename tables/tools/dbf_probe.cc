#include "tables/tools/dbf_probe.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

#include "tables/dbf/dbf_field.h"
#include "tables/dbf/fpt_file.h"
#include "tables/dbf/lock_table.h"
#include "tables/dbf/table.h"
#include "tables/dbf_value.h"

namespace tables {
namespace {

bool WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return static_cast<bool>(out);
}

}  // namespace

Status ProbeDbfBytes(const uint8_t* data, size_t size, const std::string& scratch_dir) {
  std::string path = scratch_dir + "/probe.dbf";
  std::remove((scratch_dir + "/probe.fpt").c_str());
  if (!WriteBytes(path, data, size)) return Status(Status::kWrite, "cannot write " + path);
  // Give memo tables a small memo file, made of the same bytes.
  if (size > 0 && (data[0] == 0xF5 || data[0] == 0x30 || data[0] == 0x31 || data[0] == 0x32)) {
    WriteBytes(scratch_dir + "/probe.fpt", data, size);
  }
  std::unique_ptr<Table> t;
  OpenOptions o;
  o.read_only = true;
  TABLE_RETURN_IF_ERROR(Table::Open(path, o, &t));
  std::vector<uint8_t> rec(t->record_length());
  Status first_failure;
  for (uint32_t n = 1; n <= t->RecordCount() && n <= 10000; ++n) {
    TABLE_RETURN_IF_ERROR(t->ReadRecord(n, rec.data()));
    for (size_t fi : t->visible_fields()) {
      rt::Value v;
      Status st = FieldGetValue(*t, fi, rec.data(), &v);
      if (!st.ok() && first_failure.ok()) first_failure = st;
    }
  }
  return first_failure;
}

Status ProbeFptBytes(const uint8_t* data, size_t size, const std::string& scratch_dir) {
  if (size < 4) return Status(Status::kArgument, "too short");
  uint32_t block = Le32(data);
  std::string path = scratch_dir + "/probe.fpt";
  if (!WriteBytes(path, data + 4, size - 4)) return Status(Status::kWrite, "cannot write " + path);
  std::unique_ptr<platform::File> f;
  platform::OsStatus s = OpenSharedFile(path, platform::Access::kRead, platform::Share::kDenyNone,
                                        platform::Disposition::kOpenExisting, &f);
  if (!s.ok()) return Status(Status::kOpen, "cannot open " + path, s.code());
  std::unique_ptr<MemoFile> m;
  TABLE_RETURN_IF_ERROR(MemoFile::Open(std::move(f), path, 'F', true, {}, &m));
  std::string out;
  uint32_t type = 0;
  TABLE_RETURN_IF_ERROR(m->Read(block, &out, &type));
  m->BlocksOf(block);
  return Status::Ok();
}

}  // namespace tables
