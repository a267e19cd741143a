// Where a table's memory goes: loaded records share large chunks, and a chunk goes back as soon
// as its last record is deleted; texts set later and added records are blocks of their own. A
// table edited for a long time holds what its records need, not what they once needed.
#include <string>

#include "tests/support/faulty_allocator.h"
#include "tests/support/test_support.h"

namespace {

using dbtest::FaultyAllocator;
using dbtest::ScopedTable;
using dbtest::TempDir;

std::string ManyLines(int count) {
  std::string file;
  for (int r = 0; r < count; ++r) {
    file += "record " + std::to_string(r) + ";" + std::string(40, 'x') + "\n";
  }
  return file;
}

TEST(RecordMemoryTest, DeletingRecordsGivesTheirChunksBack) {
  TempDir dir;
  FaultyAllocator memory;
  ScopedTable db(dbtest::MakeEnv(&memory));
  ASSERT_EQ(dbtest::LoadBytes(db.get(), dir, ManyLines(100000)), 100000);
  const std::size_t loaded = memory.Live();
  EXPECT_GT(loaded, 4U) << "a file of several MB spreads over several chunks";
  // Deleting from the front frees each chunk once its last record is gone.
  ASSERT_EQ(db->FirstRecord(), 1);
  for (int r = 0; r < 99999; ++r) {
    ASSERT_EQ(db->DeleteRecord(), 1);
  }
  EXPECT_LT(memory.Live(), loaded);
  EXPECT_EQ(memory.Live(), 3U);  // the object, its file name, the chunk of the last record
  EXPECT_EQ(dbtest::Field(db.get(), 0), "record 99999");
  EXPECT_EQ(db->DeleteRecord(), 0);
  EXPECT_EQ(memory.Live(), 2U);
  EXPECT_EQ(memory.BadReleases(), 0U);
  EXPECT_INVARIANTS(db.get());
}

TEST(RecordMemoryTest, ReplacedAndAddedTextsAreReleased) {
  TempDir dir;
  FaultyAllocator memory;
  ScopedTable db(dbtest::MakeEnv(&memory));
  ASSERT_EQ(dbtest::LoadBytes(db.get(), dir, ManyLines(1000)), 1000);
  const std::size_t loaded = memory.Live();
  // Setting a loaded field gives it a block of its own; setting it again replaces that block.
  ASSERT_EQ(db->FirstRecord(), 1);
  for (int round = 0; round < 1000; ++round) {
    ASSERT_EQ(db->SetField(1, ("text " + std::to_string(round)).c_str()), dbOK);
  }
  EXPECT_EQ(memory.Live(), loaded + 1);
  // Added records come and go without leaving anything behind.
  for (int round = 0; round < 1000; ++round) {
    ASSERT_EQ(db->AddRecord(), 1001);
    ASSERT_EQ(db->SetField(0, "added"), dbOK);
    ASSERT_EQ(db->DeleteRecord(), 1000);
  }
  EXPECT_EQ(memory.Live(), loaded + 1);
  // Deleting a record with a text of its own releases the text too.
  ASSERT_EQ(db->FirstRecord(), 1);
  ASSERT_EQ(db->DeleteRecord(), 1);
  EXPECT_EQ(memory.Live(), loaded);
  // Closing releases every record, text and chunk, also after edits.
  ASSERT_EQ(db->SetField(0, "edited"), dbOK);
  ASSERT_EQ(db->AddRecord(), 1000);
  ASSERT_EQ(db->SetField(1, "added"), dbOK);
  db->CloseTable();
  EXPECT_EQ(memory.Live(), 2U);  // the object and its file name
  EXPECT_EQ(memory.BadReleases(), 0U);
}

TEST(RecordMemoryTest, AppendedRecordsJoinTheTablesMemory) {
  TempDir dir;
  FaultyAllocator memory;
  ScopedTable db(dbtest::MakeEnv(&memory));
  ASSERT_EQ(dbtest::LoadBytes(db.get(), dir, ManyLines(50000)), 50000);
  ASSERT_EQ(db->AppendFile(nullptr, 0, nullptr), 50000);
  ASSERT_EQ(db->LastRecord(), 100000);
  ASSERT_EQ(db->SetField(0, "own text"), dbOK);
  EXPECT_INVARIANTS(db.get());
  db->CloseTable();
  EXPECT_EQ(memory.Live(), 2U);
  EXPECT_EQ(memory.BadReleases(), 0U);
}

}  // namespace

namespace {

// The process heap's large blocks (mapped with their pages present on Linux) hold what is
// written to them and go back when their records are gone.
TEST(RecordMemoryTest, LargeChunksOfTheProcessHeap) {
  TempDir dir;
  TDatenbank* db = dbtest::NewTable();
  ASSERT_EQ(dbtest::LoadBytes(db, dir, ManyLines(200000)), 200000);
  ASSERT_EQ(db->LastRecord(), 200000);
  EXPECT_EQ(dbtest::Field(db, 0), "record 199999");
  for (int r = 200000; r > 100000; --r) {
    ASSERT_EQ(db->DeleteRecord(), r - 1);
  }
  EXPECT_EQ(dbtest::Field(db, 0), "record 99999");
  ASSERT_EQ(db->AppendFile(nullptr, 0, nullptr), 200000);
  ASSERT_EQ(db->LastRecord(), 300000);
  EXPECT_EQ(dbtest::Field(db, 1), std::string(40, 'x'));
  EXPECT_INVARIANTS(db);
  db->CloseTable();
  EXPECT_EQ(db->GetRecordCount(), dbErrNotOpen);
}

}  // namespace
