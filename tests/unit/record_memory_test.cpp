// Where a table's memory goes: loaded records share large chunks, and a chunk goes back as soon
// as its last record is deleted; texts set later and added records are blocks of their own. A
// table edited for a long time holds what its records need, not what they once needed. Records
// that could never fit are refused before any is made.
#include <cstddef>
#include <cstdint>
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

namespace {

// A line of fields fields, then lines - 1 empty lines.
std::string Shape(int lines, int fields) {
  return std::string(static_cast<std::size_t>(fields - 1), ';') + '\n' +
         std::string(static_cast<std::size_t>(lines - 1), '\n');
}

// Records that could never fit under the allocator's figure (their nodes and field arrays alone)
// are refused after the checks of the count pass, before anything is allocated for them.
TEST(RecordMemoryTest, RecordsBeyondTheMemoryFigureAreRefusedBeforeTheBuild) {
  const auto need = [](std::uint64_t records, int fields) {
    return records * (sizeof(TRecordNode) + sizeof(char*) * static_cast<std::uint64_t>(fields));
  };
  struct Case {
    const char* name;
    int held;  // records of the table before (0: a load into a fresh object, else an append)
    int lines, fields;
    std::uint64_t capacity;
    int expectedCount;  // with checkFieldCount, else 0
    DB_BOOL sameIn;
    int result;
  };
  const std::uint64_t kGiB = std::uint64_t{1} << 30;
  const Case cases[] = {
      {"a million fields, 200,000 empty lines", 0, 200001, 1000000, 64 * kGiB, 0, 0,
       dbErrOutOfMemory},
      {"the same, expected 3 fields", 0, 200001, 1000000, 64 * kGiB, 3, 1, dbErrFieldCount},
      {"the same, lines to agree", 0, 200001, 1000000, 64 * kGiB, 0, 1, dbErrIntegrity},
      {"appended to 2 records", 2, 200001, 1000000, 64 * kGiB, 0, 0, dbErrOutOfMemory},
      {"just fits", 0, 1000, 100, need(1000, 100), 0, 0, 1000},
      {"a byte short", 0, 1000, 100, need(1000, 100) - 1, 0, 0, dbErrOutOfMemory},
      {"appended, just fits", 600, 400, 100, need(1000, 100), 100, 0, 400},
      {"appended, a byte short", 600, 400, 100, need(1000, 100) - 1, 100, 0, dbErrOutOfMemory},
      {"past a 32-bit address space", 0, 32768, 32768, UINT64_MAX, 0, 0,
       sizeof(std::size_t) < 8 ? dbErrOutOfMemory : 0},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.result == 0) {
      continue;  // only where the address space is 32 bits
    }
    FaultyAllocator memory;
    ScopedTable db(dbtest::MakeEnv(&memory));
    if (c.held > 0) {
      ASSERT_EQ(dbtest::LoadBytes(db.get(), dir, Shape(c.held, c.fields)), c.held);
      ASSERT_EQ(db->NextRecord(), 1);
    }
    dbtest::WriteBytes(dir.File("in.csv"), Shape(c.lines, c.fields));
    db->SetFileName(dir.File("in.csv").c_str());
    db->SetDelimiter(';');
    memory.ReportCapacity(c.capacity);
    memory.Heal();
    int fieldCount = c.expectedCount;
    DB_BOOL same = c.sameIn;
    const DB_BOOL check = c.expectedCount != 0 ? 1 : 0;
    EXPECT_EQ(c.held > 0 ? db->AppendFile(&fieldCount, check, &same)
                         : db->LoadFile(&fieldCount, check, &same),
              c.result);
    EXPECT_EQ(fieldCount, c.fields);
    EXPECT_EQ(same, c.result == dbErrFieldCount ? c.sameIn : (c.lines == 1 ? 1 : 0));
    if (c.result < 0) {
      EXPECT_EQ(memory.Attempts(), 0U) << "nothing was allocated";
      EXPECT_EQ(db->GetRecordCount(), c.held > 0 ? c.held : dbErrNotOpen);
      EXPECT_EQ(db->GetRecordIndex(), c.held > 0 ? 1 : dbErrNotOpen);
    } else {
      EXPECT_EQ(db->GetRecordCount(), c.held + c.result);
    }
    EXPECT_INVARIANTS(db.get());
  }
}

}  // namespace
