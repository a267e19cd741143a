// Adding records at the end and deleting the current record, with where the cursor goes.
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using dbtest::TempDir;

constexpr const char* kFiveRecords = "r1\nr2\nr3\nr4\nr5\n";

TEST(AddRecordTest, NewRecordIsLastCurrentAndWithoutTexts) {
  TDatenbank* db = dbtest::NewTable();
  ASSERT_EQ(db->NewTable(3), dbOK);
  EXPECT_EQ(db->AddRecord(), 1);
  EXPECT_INVARIANTS(db);
  EXPECT_EQ(db->GetRecordCount(), 1);
  EXPECT_EQ(db->GetRecordIndex(), 1);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(db->GetField(i, nullptr, 0), dbErrFieldEmpty) << i;
  }
  ASSERT_EQ(db->SetField(0, "first"), dbOK);
  EXPECT_EQ(db->AddRecord(), 2);
  ASSERT_EQ(db->SetField(0, "second"), dbOK);
  EXPECT_EQ(db->AddRecord(), 3);
  ASSERT_EQ(db->SetField(0, "third"), dbOK);
  EXPECT_INVARIANTS(db);
  EXPECT_EQ(dbtest::Dump(db),
            "first|<absent>|<absent>\nsecond|<absent>|<absent>\nthird|<absent>|<absent>\n");
}

TEST(AddRecordTest, AddsAtTheEndWhateverIsCurrent) {
  TempDir dir;
  TDatenbank* db = dbtest::NewTable();
  ASSERT_EQ(dbtest::LoadBytes(db, dir, kFiveRecords), 5);
  EXPECT_EQ(db->AddRecord(), 6);  // no current record before
  ASSERT_EQ(db->SetField(0, "r6"), dbOK);
  ASSERT_EQ(db->FirstRecord(), 1);
  ASSERT_EQ(db->NextRecord(), 2);
  EXPECT_EQ(db->AddRecord(), 7);
  EXPECT_INVARIANTS(db);
  EXPECT_EQ(db->GetRecordIndex(), 7);
  EXPECT_EQ(db->GetRecordCount(), 7);
  EXPECT_EQ(dbtest::Field(db, 0), "<absent>");
  EXPECT_EQ(db->PriorRecord(), 6);
  EXPECT_EQ(dbtest::Field(db, 0), "r6");
  EXPECT_EQ(db->NextRecord(), 7);
  EXPECT_EQ(db->NextRecord(), dbErrNoSuchRecord);
  EXPECT_EQ(dbtest::Dump(db), "r1\nr2\nr3\nr4\nr5\nr6\n<absent>\n");
}

TEST(AddRecordTest, ZeroFieldsWriteEmptyLines) {
  TempDir dir;
  TDatenbank* db = dbtest::NewTable();
  ASSERT_EQ(db->SetFileName(dir.File("out.csv").c_str()), 1);
  db->SetDelimiter(';');
  ASSERT_EQ(db->NewTable(0), dbOK);
  EXPECT_EQ(db->AddRecord(), 1);
  EXPECT_EQ(db->AddRecord(), 2);
  EXPECT_INVARIANTS(db);
  EXPECT_EQ(db->SaveFile(), 2);
  EXPECT_EQ(dbtest::ReadBytes(dir.File("out.csv")), "\r\n\r\n");
}

TEST(DeleteRecordTest, RefusedWithoutOpenTableRecordsOrCursor) {
  TempDir dir;
  TDatenbank* db = dbtest::NewTable();
  EXPECT_EQ(db->DeleteRecord(), dbErrNotOpen);
  EXPECT_EQ(db->AddRecord(), dbErrNotOpen);
  ASSERT_EQ(db->NewTable(2), dbOK);
  EXPECT_EQ(db->DeleteRecord(), dbErrNoRecords);
  EXPECT_INVARIANTS(db);
  EXPECT_EQ(db->GetRecordCount(), 0);

  ASSERT_EQ(dbtest::LoadBytes(db, dir, kFiveRecords), 5);
  EXPECT_EQ(db->DeleteRecord(), dbErrNoRecordSelected);
  EXPECT_INVARIANTS(db);
  EXPECT_EQ(db->GetRecordCount(), 5);
  EXPECT_EQ(dbtest::Dump(db), "r1\nr2\nr3\nr4\nr5\n");

  ASSERT_EQ(db->CloseTable(), 1);
  EXPECT_EQ(db->DeleteRecord(), dbErrNotOpen);
  EXPECT_EQ(db->AddRecord(), dbErrNotOpen);
  EXPECT_INVARIANTS(db);
}

struct Deletion {
  int records;
  int deleted;      // position of the current record that is deleted
  int result;       // also the index afterwards
  const char* now;  // field 0 of the current record afterwards
  const char* left;
};

// After deleting the first record the cursor stands on the one that followed; after any other,
// on the one before it.
const Deletion kDeletions[] = {{5, 1, 1, "r2", "r2\nr3\nr4\nr5\n"},
                               {5, 2, 1, "r1", "r1\nr3\nr4\nr5\n"},
                               {5, 3, 2, "r2", "r1\nr2\nr4\nr5\n"},
                               {5, 4, 3, "r3", "r1\nr2\nr3\nr5\n"},
                               {5, 5, 4, "r4", "r1\nr2\nr3\nr4\n"},
                               {2, 1, 1, "r2", "r2\n"},
                               {2, 2, 1, "r1", "r1\n"}};

TEST(DeleteRecordTest, CursorMovesToANeighbour) {
  for (const Deletion& d : kDeletions) {
    SCOPED_TRACE("record " + std::to_string(d.deleted) + " of " + std::to_string(d.records));
    TempDir dir;
    TDatenbank* db = dbtest::NewTable();
    std::string file;
    for (int i = 1; i <= d.records; ++i) {
      file += "r" + std::to_string(i) + "\n";
    }
    ASSERT_EQ(dbtest::LoadBytes(db, dir, file), d.records);
    ASSERT_EQ(db->FirstRecord(), 1);
    for (int i = 2; i <= d.deleted; ++i) {
      ASSERT_EQ(db->NextRecord(), i);
    }
    EXPECT_EQ(db->DeleteRecord(), d.result);
    EXPECT_INVARIANTS(db);
    EXPECT_EQ(db->GetRecordIndex(), d.result);
    EXPECT_EQ(db->GetRecordCount(), d.records - 1);
    EXPECT_EQ(dbtest::Field(db, 0), d.now);
    // The neighbours are linked to each other: a step forward reaches the record after the gap.
    const int next = db->NextRecord();
    if (d.result < d.records - 1) {
      EXPECT_EQ(next, d.result + 1);
      EXPECT_EQ(dbtest::Field(db, 0), "r" + std::to_string(d.deleted + (d.deleted == 1 ? 2 : 1)));
    } else {
      EXPECT_EQ(next, dbErrNoSuchRecord);
    }
    EXPECT_EQ(dbtest::Dump(db), d.left);
    EXPECT_INVARIANTS(db);
  }
}

// Repeated deletes go back to the first record, then on through the records that followed, until
// the only record goes (result 0); the table stays open, takes new records and saves as an empty
// file.
TEST(DeleteRecordTest, RepeatedDeletesEmptyTheTable) {
  TempDir dir;
  TDatenbank* db = dbtest::NewTable();
  ASSERT_EQ(dbtest::LoadBytes(db, dir, kFiveRecords), 5);
  ASSERT_EQ(db->FirstRecord(), 1);
  ASSERT_EQ(db->NextRecord(), 2);
  ASSERT_EQ(db->NextRecord(), 3);
  struct Expect {
    int result;
    const char* now;
  };
  const Expect steps[] = {{2, "r2"}, {1, "r1"}, {1, "r4"}, {1, "r5"}, {0, "<code -10>"}};
  int count = 5;
  for (const Expect& step : steps) {
    SCOPED_TRACE("deleting down to " + std::to_string(count - 1));
    EXPECT_EQ(db->DeleteRecord(), step.result);
    EXPECT_INVARIANTS(db);
    EXPECT_EQ(db->GetRecordCount(), --count);
    EXPECT_EQ(dbtest::Field(db, 0), step.now);
  }
  EXPECT_EQ(db->DeleteRecord(), dbErrNoRecords);
  EXPECT_EQ(db->GetRecordIndex(), dbErrNoRecords);
  EXPECT_EQ(db->GetFieldCount(), 1);
  EXPECT_EQ(db->SaveFile(), 0);
  EXPECT_EQ(dbtest::ReadBytes(dir.File("input.csv")), "");
  EXPECT_EQ(db->AddRecord(), 1);
  ASSERT_EQ(db->SetField(0, "again"), dbOK);
  EXPECT_EQ(db->AddRecord(), 2);
  EXPECT_INVARIANTS(db);
  EXPECT_EQ(dbtest::Dump(db), "again\n<absent>\n");
  EXPECT_EQ(db->SaveFile(), 2);
  EXPECT_EQ(dbtest::ReadBytes(dir.File("input.csv")), "again\r\n\r\n");
}

// Adds and deletes mixed: the list, the count and the index agree after every step.
TEST(DeleteRecordTest, MixedWithAdds) {
  TDatenbank* db = dbtest::NewTable();
  ASSERT_EQ(db->NewTable(1), dbOK);
  for (int i = 1; i <= 4; ++i) {
    ASSERT_EQ(db->AddRecord(), i);
    ASSERT_EQ(db->SetField(0, ("a" + std::to_string(i)).c_str()), dbOK);
  }
  ASSERT_EQ(db->PriorRecord(), 3);
  EXPECT_EQ(db->DeleteRecord(), 2);  // a3 goes, a2 is current
  EXPECT_INVARIANTS(db);
  EXPECT_EQ(db->AddRecord(), 4);
  EXPECT_INVARIANTS(db);
  EXPECT_EQ(db->DeleteRecord(), 3);  // the new last record goes, a4 is current
  EXPECT_EQ(dbtest::Field(db, 0), "a4");
  EXPECT_EQ(db->FirstRecord(), 1);
  EXPECT_EQ(db->DeleteRecord(), 1);  // a1 goes, a2 is current
  EXPECT_EQ(dbtest::Field(db, 0), "a2");
  EXPECT_INVARIANTS(db);
  EXPECT_EQ(db->GetRecordCount(), 2);
  EXPECT_EQ(dbtest::Dump(db), "a2\na4\n");
}

}  // namespace
