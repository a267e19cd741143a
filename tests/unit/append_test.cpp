// AppendFile: records of a second file after the open table's last record; every refusal and
// every failure leaves the table as it was.
#include <string>

#include "tests/support/faulty_allocator.h"
#include "tests/support/test_support.h"

namespace {

using dbtest::Dump;
using dbtest::ScopedTable;
using dbtest::TempDir;

// Loads the one record (a, b) from dir/base.csv.
void LoadAB(TMainDB* db, const TempDir& dir) {
  ASSERT_EQ(dbtest::LoadBytes(db, dir, "a;b\r\n", ';', "base.csv"), 1);
}

// Writes bytes to dir/more.csv and makes it the stored name.
void UseFile(TMainDB* db, const TempDir& dir, const std::string& bytes) {
  dbtest::WriteBytes(dir.File("more.csv"), bytes);
  ASSERT_EQ(db->SetFileName(dir.File("more.csv").c_str()), 1);
}

struct Snapshot {
  int records, fields, index;
  std::string dump;
  bool operator==(const Snapshot& o) const {
    return records == o.records && fields == o.fields && index == o.index && dump == o.dump;
  }
};

// Counts, cursor and records; the cursor is put back where it stood.
Snapshot Take(TMainDB* db) {
  Snapshot s{db->GetRecordCount(), db->GetFieldCount(), db->GetRecordIndex(), Dump(db)};
  if (s.index > 0) {
    db->FirstRecord();
    while (db->GetRecordIndex() < s.index) {
      db->NextRecord();
    }
  }
  return s;
}

void PrintTo(const Snapshot& s, std::ostream* os) {
  *os << s.records << " records, " << s.fields << " fields, index " << s.index << ":\n" << s.dump;
}

TEST(AppendTest, AppendsAfterTheLastRecordAndDropsTheCursor) {
  TempDir dir;
  ScopedTable db;
  LoadAB(db.get(), dir);
  ASSERT_EQ(db->FirstRecord(), 1);
  UseFile(db.get(), dir, "c;d\r\n");
  int fieldCount = 0;
  DB_BOOL same = 0;
  EXPECT_EQ(db->AppendFile(&fieldCount, 0, &same), 1);
  EXPECT_EQ(fieldCount, 2);
  EXPECT_EQ(same, 1);
  EXPECT_INVARIANTS(db.get());
  EXPECT_EQ(db->GetRecordCount(), 2);
  EXPECT_EQ(db->GetRecordIndex(), dbErrNoRecordSelected);
  EXPECT_EQ(db->PriorRecord(), 2);  // from no current record to the last
  EXPECT_EQ(Dump(db.get()), "a|b\nc|d\n");
  EXPECT_EQ(std::string(db->GetFileName()), dir.File("more.csv"));
  // A ragged file whose widest line matches, and a last line without a line feed.
  UseFile(db.get(), dir, "e\nf;g\nh;");
  same = 0;
  EXPECT_EQ(db->AppendFile(&fieldCount, 1, &same), 3);
  EXPECT_EQ(same, 0);
  EXPECT_EQ(Dump(db.get()), "a|b\nc|d\ne|<absent>\nf|g\nh|<absent>\n");
  EXPECT_EQ(db->GetRecordCount(), 5);
}

TEST(AppendTest, TheLoadedFileAppendedToItself) {
  TempDir dir;
  ScopedTable db;
  ASSERT_EQ(dbtest::LoadBytes(db.get(), dir, "1;x\n2;y\n3;z"), 3);
  EXPECT_EQ(db->AppendFile(nullptr, 0, nullptr), 3);
  EXPECT_EQ(Dump(db.get()), "1|x\n2|y\n3|z\n1|x\n2|y\n3|z\n");
  EXPECT_INVARIANTS(db.get());
  EXPECT_EQ(db->LastRecord(), 6);
  EXPECT_EQ(db->PriorRecord(), 5);
}

TEST(AppendTest, IntoAnOpenTableWithoutRecords) {
  TempDir dir;
  enum Start { kNewTable, kAllDeleted };
  for (const Start start : {kNewTable, kAllDeleted}) {
    SCOPED_TRACE(start);
    ScopedTable db;
    db->SetDelimiter(';');
    if (start == kNewTable) {
      db->NewTable(4);
    } else {
      LoadAB(db.get(), dir);
      db->FirstRecord();
      ASSERT_EQ(db->DeleteRecord(), 0);
    }
    UseFile(db.get(), dir, "c;d;e\nf\n");
    int fieldCount = 0;
    EXPECT_EQ(db->AppendFile(&fieldCount, 0, nullptr), 2);
    EXPECT_EQ(fieldCount, 3);
    EXPECT_INVARIANTS(db.get());
    EXPECT_EQ(db->GetFieldCount(), 3);
    EXPECT_EQ(db->GetRecordCount(), 2);
    EXPECT_EQ(db->FirstRecord(), 1);
    EXPECT_EQ(dbtest::Field(db.get(), 0), "c");
    EXPECT_EQ(db->PriorRecord(), dbErrNoSuchRecord);
    EXPECT_EQ(Dump(db.get()), "c|d|e\nf|<absent>|<absent>\n");
  }
}

TEST(AppendTest, RefusalsLeaveTheTableAsItWas) {
  struct Case {
    const char* name;
    std::string bytes;
    int fieldCountIn;
    int result;
    int fieldCountOut;  // -99: not written
    DB_BOOL check;
    DB_BOOL sameIn;
    DB_BOOL sameOut;
  };
  const Case cases[] = {
      {"wider file", "c;d;e\n", 2, dbErrFieldCount, 3, 0, 1, 1},
      {"wider file, checked", "c;d;e\n", 3, dbErrFieldCount, 3, 1, 1, 1},
      {"narrower file", "c\nd\n", 1, dbErrFieldCount, 1, 1, 0, 0},
      {"expected count differs", "c;d\n", 5, dbErrFieldCount, 2, 1, 7, 7},
      {"no expected count", "c;d\n", -99, dbErrFieldCount, 2, 1, 7, 7},
      {"ragged", "c;d\ne\n", 0, dbErrIntegrity, 2, 0, 1, 0},
      {"empty file", "", -99, 0, -99, 1, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ScopedTable db;
    LoadAB(db.get(), dir);
    db->FirstRecord();
    const Snapshot before = Take(db.get());
    UseFile(db.get(), dir, c.bytes);
    int fieldCount = c.fieldCountIn;
    DB_BOOL same = c.sameIn;
    int* countArgument = c.fieldCountIn == -99 && c.result != 0 ? nullptr : &fieldCount;
    EXPECT_EQ(db->AppendFile(countArgument, c.check, &same), c.result);
    EXPECT_EQ(fieldCount, countArgument == nullptr ? -99 : c.fieldCountOut);
    EXPECT_EQ(same, c.sameOut);
    EXPECT_INVARIANTS(db.get());
    EXPECT_EQ(Take(db.get()), before);
  }
}

TEST(AppendTest, ATableWithoutRecordsTakesTheFileFieldCountOnRefusal) {
  TempDir dir;
  ScopedTable db;
  db->SetDelimiter(';');
  db->NewTable(7);
  UseFile(db.get(), dir, "c;d\ne\n");
  DB_BOOL same = 1;
  EXPECT_EQ(db->AppendFile(nullptr, 0, &same), dbErrIntegrity);
  EXPECT_EQ(db->GetFieldCount(), 2);
  EXPECT_EQ(db->GetRecordCount(), 0);
  int fieldCount = 9;
  EXPECT_EQ(db->AppendFile(&fieldCount, 1, nullptr), dbErrFieldCount);
  EXPECT_EQ(fieldCount, 2);
  UseFile(db.get(), dir, "");
  EXPECT_EQ(db->AppendFile(nullptr, 0, nullptr), 0);
  EXPECT_EQ(db->GetFieldCount(), 2);  // an empty file is not counted
  EXPECT_INVARIANTS(db.get());
}

TEST(AppendTest, NoTableOpenComesBeforeEveryOtherCheck) {
  TempDir dir;
  dbtest::WriteBytes(dir.File("in.csv"), "a;b\n");
  for (const bool closed : {false, true}) {
    for (const char* name : {static_cast<const char*>(nullptr), "", "in.csv", "missing.csv"}) {
      SCOPED_TRACE(std::string(closed ? "closed, " : "fresh, ") + (name ? name : "<none>"));
      ScopedTable db;
      if (closed) {
        LoadAB(db.get(), dir);
        db->CloseTable();
      }
      if (name != nullptr) {
        db->SetFileName(name[0] == '\0' ? "" : dir.File(name).c_str());
      }
      int fieldCount = -99;
      DB_BOOL same = 7;
      EXPECT_EQ(db->AppendFile(&fieldCount, 1, &same), dbErrNotOpen);
      EXPECT_EQ(fieldCount, -99);
      EXPECT_EQ(same, 7);
      EXPECT_EQ(db->GetRecordCount(), dbErrNotOpen);
    }
  }
}

TEST(AppendTest, OutOfMemoryAfterRecordsWereLinkedKeepsTheTable) {
  // The last allocation of an append is the final field of the file: every record has been built
  // by then. A first table measures how many allocations the append makes.
  TempDir dir;
  std::uint64_t allocations = 0;
  for (const bool fail : {false, true}) {
    dbtest::FaultyAllocator memory;
    ScopedTable db(dbtest::MakeEnv(&memory));
    LoadAB(db.get(), dir);
    db->FirstRecord();
    UseFile(db.get(), dir, "c;d\ne;f\ng;h");
    const Snapshot before = Take(db.get());
    const std::size_t live = memory.Live();
    memory.FailAt(fail ? allocations : 0, false);
    int fieldCount = 0;
    DB_BOOL same = 7;
    const int result = db->AppendFile(&fieldCount, 0, &same);
    EXPECT_EQ(fieldCount, 2);
    EXPECT_EQ(same, 1);
    EXPECT_INVARIANTS(db.get());
    if (!fail) {
      ASSERT_EQ(result, 3);
      allocations = memory.Attempts();
      continue;
    }
    EXPECT_EQ(result, dbErrOutOfMemory);
    EXPECT_EQ(memory.Failures(), 1U);
    EXPECT_EQ(Take(db.get()), before);
    EXPECT_EQ(memory.Live(), live);
    memory.Heal();
    EXPECT_EQ(db->AppendFile(nullptr, 0, nullptr), 3);
    EXPECT_EQ(Dump(db.get()), "a|b\nc|d\ne|f\ng|h\n");
  }
}

}  // namespace
