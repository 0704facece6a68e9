// The fixture of the DBServer tests: a copy of the demo installation per
// test, SET DELETED on, and the errors raised caught.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "runtime/convert.h"
#include "runtime/settings.h"
#include "tables/dbserver.h"
#include "tables/testing/table_fixture.h"

namespace tables::dbftest {

class DBServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = scratch_.Copy(dbftest::DemoTree(), "tree");
    old_deleted_ = rt::SetDeleted(true);
  }
  void TearDown() override { rt::SetDeleted(old_deleted_); }
  std::string Ind(const std::string& doc) { return tree_ + "/root/data/" + doc + "/ind_100.dbf"; }
  std::string Tarif(const std::string& doc) { return tree_ + "/root/data/" + doc + "/tarif.dbf"; }
  std::string Ref(const std::string& name) { return tree_ + "/prog/" + name; }

  ScratchDir scratch_;
  std::string tree_;
  bool old_deleted_ = false;
  ErrorCatcher errors_;
};

// The key of the first tag of ind_100 for the current record.
inline std::string Key(DBServer& s) {
  return s.FieldGet("INDEX_TYP").GetString() + rt::DToS(s.FieldGet("INDEX_DAT").GetDate());
}

}  // namespace tables::dbftest
