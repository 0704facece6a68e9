// A failure of the table service as the runtime's error record: every kind of
// failure the tables and the indexes report keeps its general code, sub code,
// OS code, text, file and retry answer on the way to the error system.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "runtime/error.h"
#include "tables/dbserver.h"

namespace tables {
namespace {

// The table service counts in the runtime's general codes without seeing the
// runtime: each code must keep the runtime's number.
constexpr bool SameCode(Status::Code code, rt::GenCode gen) {
  return static_cast<uint32_t>(code) == static_cast<uint32_t>(gen);
}
static_assert(SameCode(Status::kArgument, rt::kGenArg) && SameCode(Status::kNoVar, rt::kGenNoVar) &&
              SameCode(Status::kOpen, rt::kGenOpen) && SameCode(Status::kRead, rt::kGenRead) &&
              SameCode(Status::kWrite, rt::kGenWrite) &&
              SameCode(Status::kUnsupported, rt::kGenUnsupported) &&
              SameCode(Status::kCorruption, rt::kGenCorruption) &&
              SameCode(Status::kDataType, rt::kGenDataType) &&
              SameCode(Status::kDataWidth, rt::kGenDataWidth) &&
              SameCode(Status::kNoOrder, rt::kGenNoOrder) &&
              SameCode(Status::kLockRequired, rt::kGenUnlocked) &&
              SameCode(Status::kReadOnly, rt::kGenReadOnly) &&
              SameCode(Status::kAppendLock, rt::kGenAppendLock) &&
              SameCode(Status::kLock, rt::kGenLock));

struct Case {
  const char* what;
  std::function<Status()> make;
  uint32_t gen_code;
  uint32_t sub_code;
  uint32_t os_code;
  bool can_retry;
  const char* file_name;  // as reported; the table's path when the status names none
};

TEST(ErrorInfoTest, EveryFailureKeepsItsCodesTextFileAndRetryAnswer) {
  const std::string kIndex = "C:\\DATA\\IND_100.CDX";
  const std::string kTable = "C:\\DATA\\IND_100.DBF";
  const Case kCases[] = {
      // Failures of an index, named by the index file.
      {"index corruption", [&] { return Status::Corruption("t").WithFile(kIndex); },
       rt::kGenCorruption, 1012, 0, false, "C:\\DATA\\IND_100.CDX"},
      {"index lock", [&] { return Status::Io(Status::kLock, "t", 0).WithFile(kIndex); },
       rt::kGenLock, 1038, 0, true, "C:\\DATA\\IND_100.CDX"},
      {"index read, sharing violation",
       [&] { return Status::Io(Status::kRead, "t", 32).WithFile(kIndex); }, rt::kGenRead, 1010, 32,
       true, "C:\\DATA\\IND_100.CDX"},
      {"index read, lock violation",
       [&] { return Status::Io(Status::kRead, "t", 33).WithFile(kIndex); }, rt::kGenRead, 1010, 33,
       true, "C:\\DATA\\IND_100.CDX"},
      {"index write, disk full",
       [&] { return Status::Io(Status::kWrite, "t", 112).WithFile(kIndex); }, rt::kGenWrite, 1011,
       112, false, "C:\\DATA\\IND_100.CDX"},
      {"index unsupported", [&] { return Status::Unsupported("t").WithFile(kIndex); },
       rt::kGenUnsupported, 0, 0, false, "C:\\DATA\\IND_100.CDX"},
      {"index data type", [&] { return Status::DataType("t").WithFile(kIndex); }, rt::kGenDataType,
       1020, 0, false, "C:\\DATA\\IND_100.CDX"},
      {"index argument", [&] { return Status::Argument("t").WithFile(kIndex); }, rt::kGenArg, 0, 0,
       false, "C:\\DATA\\IND_100.CDX"},
      // Failures of the table.
      {"open refused", [&] { return Status(Status::kOpen, "t", 32, "C:\\DATA\\OTHER.DBF"); },
       rt::kGenOpen, 1001, 32, true, "C:\\DATA\\OTHER.DBF"},
      {"append lock", [&] { return Status(Status::kAppendLock, "t"); }, rt::kGenAppendLock, 1024, 0,
       true, "C:\\DATA\\IND_100.DBF"},
      {"lock required", [&] { return Status(Status::kLockRequired, "t"); }, rt::kGenUnlocked, 1022,
       0, true, "C:\\DATA\\IND_100.DBF"},
      {"record lock", [&] { return Status(Status::kLock, "t"); }, rt::kGenLock, 1038, 0, true,
       "C:\\DATA\\IND_100.DBF"},
      {"read-only", [&] { return Status(Status::kReadOnly, "t"); }, rt::kGenReadOnly, 1025, 0,
       false, "C:\\DATA\\IND_100.DBF"},
      {"data width", [&] { return Status(Status::kDataWidth, "t"); }, rt::kGenDataWidth, 1021, 0,
       false, "C:\\DATA\\IND_100.DBF"},
      {"no order", [&] { return Status(Status::kNoOrder, "t"); }, rt::kGenNoOrder, 1201, 0, false,
       "C:\\DATA\\IND_100.DBF"},
      {"table write, disk full", [&] { return Status(Status::kWrite, "t", 112); }, rt::kGenWrite,
       1011, 112, false, "C:\\DATA\\IND_100.DBF"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Status st = c.make();
    ASSERT_FALSE(st.ok());
    rt::ErrorInfo info = MakeErrorInfo(st, "DBSERVER:SEEK", kTable);
    EXPECT_EQ("DBFCDX", info.subsystem);
    EXPECT_EQ(c.gen_code, info.gen_code);
    EXPECT_EQ(c.sub_code, info.sub_code);
    EXPECT_EQ(c.os_code, info.os_code);
    EXPECT_EQ(c.can_retry, info.can_retry);
    EXPECT_EQ(c.can_retry, st.can_retry());
    EXPECT_TRUE(info.can_default);
    EXPECT_EQ("DBSERVER:SEEK", info.operation);
    EXPECT_EQ("t", info.description);
    EXPECT_EQ(c.file_name, info.file_name);
  }
  // Success stays success on its way up from an index, naming no file.
  Status ok = Status::Ok().WithFile(kIndex);
  EXPECT_TRUE(ok.ok());
  EXPECT_EQ("", ok.file());
  EXPECT_EQ("", ok.text());
}

}  // namespace
}  // namespace tables
