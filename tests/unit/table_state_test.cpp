// The table object's states: fresh, open and empty, open with records, closed; and the two
// operations that end and begin a table, CloseTable and NewTable.
#include <climits>
#include <string>

#include "tests/support/test_support.h"

namespace {

using dbtest::TempDir;

// Every record, cursor, field, append and save operation refuses a table that is not open, even
// with a file name and a delimiter set, and changes nothing.
void ExpectNotOpen(TDatenbank* db, const TempDir& dir) {
  const std::string path = dir.File("present.csv");
  dbtest::WriteBytes(path, "p;q\r\n");
  db->SetFileName(path.c_str());
  db->SetDelimiter(';');
  EXPECT_EQ(db->GetFieldCount(), dbErrNotOpen);  // the moves and the index: cursor_test.cpp
  EXPECT_EQ(db->GetRecordCount(), dbErrNotOpen);
  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(db->GetField(0, buffer, sizeof(buffer)), dbErrNotOpen);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(db->SetField(0, "t"), dbErrNotOpen);
  EXPECT_EQ(db->DeleteRecord(), dbErrNotOpen);
  EXPECT_EQ(db->AddRecord(), dbErrNotOpen);
  int fieldCount = 5;
  DB_BOOL same = 0;
  EXPECT_EQ(db->AppendFile(&fieldCount, 0, &same), dbErrNotOpen);
  EXPECT_EQ(fieldCount, 5);
  EXPECT_EQ(db->SaveFile(), dbErrNotOpen);
  EXPECT_EQ(dbtest::ReadBytes(path), "p;q\r\n");
  EXPECT_EQ(db->GetRecordCount(), dbErrNotOpen);
  EXPECT_INVARIANTS(db);
}

TEST(TableStateTest, FreshObjectIsClosedAndEmpty) {
  TempDir dir;
  TDatenbank* db = dbtest::NewTable();
  ASSERT_NE(db, nullptr);
  EXPECT_INVARIANTS(db);
  EXPECT_EQ(db->GetFileName(), nullptr);
  EXPECT_EQ(db->GetDelimiter(), '\0');
  EXPECT_EQ(db->CloseTable(), 1);
  EXPECT_EQ(db->GetRecordCount(), dbErrNotOpen);
  EXPECT_INVARIANTS(db);
  ExpectNotOpen(db, dir);
}

TEST(TableStateTest, FactoryGivesIndependentObjects) {
  TempDir dir;
  TDatenbank* first = dbtest::NewTable();
  TDatenbank* second = dbtest::NewTable();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  ASSERT_EQ(dbtest::LoadBytes(first, dir, "a;b\r\nc;d\r\n"), 2);
  EXPECT_EQ(second->GetRecordCount(), dbErrNotOpen);
  EXPECT_EQ(second->GetFileName(), nullptr);
  EXPECT_EQ(second->GetDelimiter(), '\0');
  ASSERT_EQ(second->SetFileName("second.csv"), 1);
  second->SetDelimiter('\t');
  EXPECT_EQ(first->GetFileName(), dir.File("input.csv"));
  EXPECT_EQ(first->GetDelimiter(), ';');

  ASSERT_EQ(second->NewTable(3), dbOK);
  ASSERT_EQ(second->AddRecord(), 1);
  ASSERT_EQ(second->SetField(0, "z"), dbOK);
  EXPECT_EQ(first->GetFieldCount(), 2);
  EXPECT_EQ(first->GetRecordIndex(), dbErrNoRecordSelected);
  EXPECT_EQ(dbtest::Dump(first), "a|b\nc|d\n");
  EXPECT_EQ(first->CloseTable(), 1);
  EXPECT_EQ(dbtest::Dump(second), "z|<absent>|<absent>\n");
  EXPECT_INVARIANTS(first);
  EXPECT_INVARIANTS(second);
}

TEST(TableStateTest, CloseTableWithRecordsCloses) {
  TempDir dir;
  TDatenbank* db = dbtest::NewTable();
  ASSERT_EQ(dbtest::LoadBytes(db, dir, "a\r\nb\r\nc\r\n"), 3);
  ASSERT_EQ(db->LastRecord(), 3);
  EXPECT_EQ(db->CloseTable(), 1);
  EXPECT_INVARIANTS(db);
  EXPECT_EQ(db->CloseTable(), 1);
  EXPECT_INVARIANTS(db);
  ExpectNotOpen(db, dir);
  // The settings survive: the same file loads again at once.
  ASSERT_EQ(dbtest::LoadBytes(db, dir, "a\r\nb\r\nc\r\n"), 3);
  EXPECT_EQ(dbtest::Dump(db), "a\nb\nc\n");
}

// An open table without records is not closed by CloseTable, however it became empty.
TEST(TableStateTest, CloseTableLeavesOpenEmptyTableOpen) {
  for (const bool byDelete : {false, true}) {
    SCOPED_TRACE(byDelete ? "emptied by DeleteRecord" : "made by NewTable");
    TDatenbank* db = dbtest::NewTable();
    ASSERT_EQ(db->NewTable(4), dbOK);
    if (byDelete) {
      ASSERT_EQ(db->AddRecord(), 1);
      ASSERT_EQ(db->DeleteRecord(), 0);
    }
    EXPECT_EQ(db->CloseTable(), 1);
    EXPECT_INVARIANTS(db);
    EXPECT_EQ(db->GetRecordCount(), 0);
    EXPECT_EQ(db->GetFieldCount(), 4);
    EXPECT_EQ(db->FirstRecord(), dbErrNoRecords);
    EXPECT_EQ(db->AddRecord(), 1);
    EXPECT_EQ(db->GetRecordCount(), 1);
    EXPECT_INVARIANTS(db);
  }
}

TEST(TableStateTest, NewTableReplacesRecordsAndKeepsSettings) {
  TempDir dir;
  TDatenbank* db = dbtest::NewTable();
  ASSERT_EQ(dbtest::LoadBytes(db, dir, "a;b\r\nc;d\r\n"), 2);
  ASSERT_EQ(db->FirstRecord(), 1);
  const char* name = db->GetFileName();
  EXPECT_EQ(db->NewTable(5), dbOK);
  EXPECT_INVARIANTS(db);
  EXPECT_EQ(db->GetRecordCount(), 0);
  EXPECT_EQ(db->GetFieldCount(), 5);
  EXPECT_EQ(db->GetRecordIndex(), dbErrNoRecords);
  EXPECT_EQ(db->NextRecord(), dbErrNoRecords);
  EXPECT_EQ(db->GetFileName(), name);
  EXPECT_EQ(db->GetDelimiter(), ';');
  // The new table is written at once under the name already set.
  ASSERT_EQ(db->AddRecord(), 1);
  ASSERT_EQ(db->SetField(4, "e"), dbOK);
  EXPECT_EQ(db->SaveFile(), 1);
  EXPECT_EQ(dbtest::ReadBytes(dir.File("input.csv")), ";;;;e\r\n");
}

TEST(TableStateTest, NewTableFromEveryState) {
  TDatenbank* db = dbtest::NewTable();
  EXPECT_EQ(db->NewTable(2), dbOK);  // fresh
  EXPECT_EQ(db->GetFieldCount(), 2);
  EXPECT_EQ(db->GetRecordCount(), 0);
  EXPECT_EQ(db->NewTable(3), dbOK);  // open, empty
  EXPECT_EQ(db->GetFieldCount(), 3);
  EXPECT_EQ(db->GetRecordCount(), 0);
  for (int i = 1; i <= 3; ++i) {
    ASSERT_EQ(db->AddRecord(), i);
  }
  EXPECT_EQ(db->CloseTable(), 1);
  EXPECT_EQ(db->NewTable(1), dbOK);  // closed
  EXPECT_INVARIANTS(db);
  EXPECT_EQ(db->GetFieldCount(), 1);
  EXPECT_EQ(db->GetRecordCount(), 0);
  EXPECT_EQ(db->LastRecord(), dbErrNoRecords);
  EXPECT_EQ(db->AddRecord(), 1);  // nothing of the earlier records is left
  EXPECT_EQ(dbtest::Dump(db), "<absent>\n");
  EXPECT_EQ(db->NewTable(2), dbOK);  // open with records
  EXPECT_INVARIANTS(db);
  EXPECT_EQ(db->GetRecordCount(), 0);
}

// A negative count is stored as given and reported back; no record can be made with it, and the
// failed AddRecord leaves the table open and empty.
TEST(TableStateTest, NegativeFieldCounts) {
  for (const int count : {-1, -3, -15, INT_MIN}) {
    SCOPED_TRACE("field count " + std::to_string(count));
    TDatenbank* db = dbtest::NewTable();
    EXPECT_EQ(db->NewTable(count), dbOK);
    EXPECT_EQ(db->GetFieldCount(), count);
    EXPECT_EQ(db->GetRecordCount(), 0);
    EXPECT_EQ(db->AddRecord(), dbErrOutOfMemory);
    EXPECT_INVARIANTS(db);
    EXPECT_EQ(db->GetRecordCount(), 0);
    EXPECT_EQ(db->GetRecordIndex(), dbErrNoRecords);
    EXPECT_EQ(db->CloseTable(), 1);
    EXPECT_EQ(db->GetFieldCount(), count);
    EXPECT_EQ(db->NewTable(1), dbOK);
    EXPECT_EQ(db->AddRecord(), 1);
  }
}

}  // namespace
