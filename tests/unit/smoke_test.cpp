// A first round trip through load, edit and save.
#include "tests/support/test_support.h"

namespace {

using dbtest::TempDir;

TEST(SmokeTest, LoadEditSave) {
  TempDir dir;
  TDatenbank* db = dbtest::NewTable();
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(dbtest::LoadBytes(db, dir, "a;b\r\nc;d\r\n"), 2);
  EXPECT_INVARIANTS(db);
  EXPECT_EQ(dbtest::Dump(db), "a|b\nc|d\n");
  EXPECT_EQ(db->FirstRecord(), 1);
  EXPECT_EQ(db->SetField(1, "x"), 0);
  EXPECT_EQ(db->SaveFile(), 2);
  EXPECT_EQ(dbtest::ReadBytes(dir.File("input.csv")), "a;x\r\nc;d\r\n");
  EXPECT_EQ(dir.Entries().size(), 1U);
  db->CloseTable();
  db->FreeFileName();
}

}  // namespace
