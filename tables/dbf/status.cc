#include "tables/dbf/status.h"

namespace tables {

Status Status::FromIndex(const IndexStatus& s, std::string file) {
  if (s.ok()) return Status();
  return Status(static_cast<Code>(s.code()), s.text(), s.os_code(), std::move(file));
}

}  // namespace tables
