// The record cursor: the four moves and the three counts.
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using dbtest::TempDir;

// Each walk starts on a freshly loaded table of records "r1", "r2", ..., which has no current
// record. Moves: N next, P prior, F first, L last. A refused move leaves the cursor where it was.
TEST(CursorTest, Walks) {
  const struct {
    const char* file;
    const char* moves;
    std::vector<int> results;
  } walks[] = {
      {"r1\nr2\nr3\n", "NNNN", {1, 2, 3, dbErrNoSuchRecord}},
      {"r1\nr2\nr3\n", "PPPP", {3, 2, 1, dbErrNoSuchRecord}},
      {"r1\nr2\nr3\n", "FP", {1, dbErrNoSuchRecord}},
      {"r1\nr2\nr3\n", "LN", {3, dbErrNoSuchRecord}},
      {"r1\nr2\nr3", "LPNFNN", {3, 2, 3, 1, 2, 3}},
      {"r1\n", "NNP", {1, dbErrNoSuchRecord, dbErrNoSuchRecord}},
      {"r1\n", "PPN", {1, dbErrNoSuchRecord, dbErrNoSuchRecord}},
      {"r1", "FLF", {1, 1, 1}},
  };
  for (const auto& walk : walks) {
    SCOPED_TRACE(walk.moves);
    TempDir dir;
    TDatenbank* db = dbtest::NewTable();
    const int records = dbtest::LoadBytes(db, dir, walk.file);
    ASSERT_GT(records, 0);
    EXPECT_EQ(db->GetRecordIndex(), dbErrNoRecordSelected);
    int at = -1;
    for (std::size_t i = 0; walk.moves[i] != '\0'; ++i) {
      SCOPED_TRACE("step " + std::to_string(i));
      const char move = walk.moves[i];
      const int result = move == 'N'   ? db->NextRecord()
                         : move == 'P' ? db->PriorRecord()
                         : move == 'F' ? db->FirstRecord()
                                       : db->LastRecord();
      EXPECT_EQ(result, walk.results.at(i));
      at = result > 0 ? result : at;
      EXPECT_EQ(dbtest::Field(db, 0), "r" + std::to_string(at));
      EXPECT_EQ(db->GetRecordIndex(), at);
      EXPECT_INVARIANTS(db);
    }
    // Moving changes neither the records nor the counts.
    EXPECT_EQ(db->GetRecordCount(), records);
    EXPECT_EQ(db->GetFieldCount(), 1);
  }
}

// The results of the four moves and the three counts, in that order.
std::vector<int> AllSeven(TMainDB* db) {
  return {db->NextRecord(),    db->FirstRecord(),    db->LastRecord(),    db->PriorRecord(),
          db->GetFieldCount(), db->GetRecordIndex(), db->GetRecordCount()};
}

TEST(CursorTest, NotOpenRefusesAllSeven) {
  TempDir dir;
  TDatenbank* fresh = dbtest::NewTable();
  TDatenbank* closed = dbtest::NewTable();
  ASSERT_EQ(dbtest::LoadBytes(closed, dir, "a;b\r\nc;d\r\n"), 2);
  ASSERT_EQ(closed->LastRecord(), 2);
  ASSERT_EQ(closed->CloseTable(), 1);
  EXPECT_EQ(AllSeven(fresh), std::vector<int>(7, dbErrNotOpen));
  EXPECT_EQ(AllSeven(closed), std::vector<int>(7, dbErrNotOpen));
  EXPECT_INVARIANTS(closed);
}

// An open table without records, however it became empty: the moves and the index find no
// records, the field count comes back as stored (negative ones too), the record count is 0.
TEST(CursorTest, OpenEmptyTable) {
  for (const int fields : {5, 0, -3}) {
    SCOPED_TRACE("field count " + std::to_string(fields));
    TDatenbank* db = dbtest::NewTable();
    ASSERT_EQ(db->NewTable(fields), dbOK);
    const std::vector<int> expected = {
        dbErrNoRecords, dbErrNoRecords, dbErrNoRecords, dbErrNoRecords, fields, dbErrNoRecords, 0};
    EXPECT_EQ(AllSeven(db), expected);
    EXPECT_INVARIANTS(db);
    if (fields >= 0) {
      ASSERT_EQ(db->AddRecord(), 1);
      ASSERT_EQ(db->DeleteRecord(), 0);
      EXPECT_EQ(AllSeven(db), expected);
    }
  }
}

// Loading again drops the cursor, and the index follows the records as they are added.
TEST(CursorTest, IndexAcrossReloadAndAdd) {
  TempDir dir;
  TDatenbank* db = dbtest::NewTable();
  ASSERT_EQ(dbtest::LoadBytes(db, dir, "r1\nr2\nr3\n"), 3);
  ASSERT_EQ(db->LastRecord(), 3);
  int fieldCount = 0;
  DB_BOOL same = 0;
  ASSERT_EQ(db->LoadFile(&fieldCount, 0, &same), 3);
  EXPECT_EQ(db->GetRecordIndex(), dbErrNoRecordSelected);
  EXPECT_EQ(db->NextRecord(), 1);
  EXPECT_EQ(db->AddRecord(), 4);
  EXPECT_EQ(db->GetRecordIndex(), 4);
  EXPECT_EQ(db->PriorRecord(), 3);
  EXPECT_EQ(dbtest::Field(db, 0), "r3");
  EXPECT_EQ(db->NextRecord(), 4);
  EXPECT_EQ(dbtest::Field(db, 0), "<absent>");
  EXPECT_EQ(db->NextRecord(), dbErrNoSuchRecord);
  EXPECT_EQ(db->GetRecordCount(), 4);
  EXPECT_INVARIANTS(db);
}

}  // namespace
