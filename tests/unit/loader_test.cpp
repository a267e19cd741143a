// LoadFile: the file format as read, byte for byte, the out-parameters and the order of the checks.
#include <string>
#include <vector>

#include "tests/support/faulty_allocator.h"
#include "tests/support/test_support.h"

namespace {

using dbtest::Dump;
using dbtest::ScopedTable;
using dbtest::TempDir;
using namespace std::string_literals;

struct LoadResult {
  int result;
  int fieldCount;
  DB_BOOL same;
};

LoadResult Load(TMainDB* db, int fieldCount = -99, DB_BOOL check = 0, DB_BOOL same = 7) {
  LoadResult r{0, fieldCount, same};
  r.result = db->LoadFile(&r.fieldCount, check, &r.same);
  return r;
}

void UseFile(TMainDB* db, const TempDir& dir, const std::string& bytes, char delimiter = ';',
             const std::string& name = "in.csv") {
  dbtest::WriteBytes(dir.File(name), bytes);
  ASSERT_EQ(db->SetFileName(dir.File(name).c_str()), 1);
  ASSERT_EQ(db->SetDelimiter(delimiter), 1);
}

// A table with three records and the cursor on the second, built without any file.
void MakeThreeRecords(TMainDB* db) {
  db->NewTable(2);
  for (const char* text : {"r1", "r2", "r3"}) {
    db->AddRecord();
    db->SetField(0, text);
  }
  db->FirstRecord();
  db->NextRecord();
}
const char* const kThreeRecords = "r1|<absent>\nr2|<absent>\nr3|<absent>\n";

struct FormatCase {
  const char* name;
  std::string bytes;
  char delimiter;
  int records;
  const char* dump;  // fields joined by '|', absent ones as <absent>
  int fieldCount;
  DB_BOOL same;
};

TEST(LoaderTest, FileFormat) {
  const FormatCase cases[] = {
      {"crlf", "a;b\r\nc;d\r\n", ';', 2, "a|b\nc|d\n", 2, 1},
      {"last line without lf", "a;b\r\nc;d", ';', 2, "a|b\nc|d\n", 2, 1},
      {"short line", "a;b\nc\n", ';', 2, "a|b\nc|<absent>\n", 2, 0},
      {"longer last line unended", "a;b\nc;d;e", ';', 2, "a|b|<absent>\nc|d|e\n", 3, 1},
      {"empty line", "a;b\n\nc;d\n", ';', 3, "a|b\n|<absent>\nc|d\n", 2, 0},
      {"trailing delimiter", "a;b;\n", ';', 1, "a|b|\n", 3, 1},
      {"trailing delimiter unended", "a;b;", ';', 1, "a|b|<absent>\n", 3, 1},
      {"lf at start", "\na;b\n", ';', 2, "|<absent>\na|b\n", 2, 0},
      {"single lf", "\n", ';', 1, "\n", 1, 1},
      {"empty last line", "a\n\n", ';', 2, "a\n\n", 1, 1},
      {"cr lf empty line", "a;b\r\n\r\n", ';', 2, "a|b\n|<absent>\n", 2, 0},
      {"delimiters only", ";;\n", ';', 1, "||\n", 3, 1},
      {"quotes do not protect", "\"a;b\"\n", ';', 1, "\"a|b\"\n", 2, 1},
      {"cr inside field", "a\rb;c\n", ';', 1, "ab|c\n", 2, 1},
      {"cr only line ends", "a;b\rc;d\r", ';', 1, "a|bc|d\n", 3, 1},
      {"nul cuts field", "a\0b;c\n"s, ';', 1, "a|c\n", 2, 1},
      {"nul cuts last field", "x;a\0b"s, ';', 1, "x|a\n", 2, 1},
      {"bom and high bytes",
       "\xEF\xBB\xBF"
       "a;\xE4\xFC\n",
       ';', 1,
       "\xEF\xBB\xBF"
       "a|\xE4\xFC\n",
       2, 1},
      {"nul delimiter", "a\0b\nc\0d\n"s, '\0', 2, "a|b\nc|d\n", 2, 1},
      // A line feed as delimiter ends the line and, as the delimiter, the field: the first line
      // keeps one field, every later line counts two, the second of them absent.
      {"lf delimiter", "a\nb\n", '\n', 2, "a|<absent>\nb|<absent>\n", 2, 0},
      {"lf delimiter unended", "a\nb", '\n', 2, "a|<absent>\nb|<absent>\n", 2, 1},
      // A CR as delimiter separates fields and is still never stored.
      {"cr delimiter", "a\rb\nc\rd\r\n", '\r', 2, "a|b|<absent>\nc|d|\n", 3, 0},
      {"comma delimiter", "a;b,c\n", ',', 1, "a;b|c\n", 2, 1},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ScopedTable db;
    UseFile(db.get(), dir, c.bytes, c.delimiter);
    const LoadResult r = Load(db.get(), -99, 0, 0);
    EXPECT_EQ(r.result, c.records);
    EXPECT_EQ(r.fieldCount, c.fieldCount);
    EXPECT_EQ(r.same, c.same);
    EXPECT_INVARIANTS(db.get());
    EXPECT_EQ(db->GetRecordCount(), c.records);
    EXPECT_EQ(db->GetFieldCount(), c.fieldCount);
    EXPECT_EQ(db->GetRecordIndex(), dbErrNoRecordSelected);
    EXPECT_EQ(Dump(db.get()), c.dump);
    EXPECT_EQ(db->GetDelimiter(), c.delimiter);
    EXPECT_EQ(std::string(db->GetFileName()), dir.File("in.csv"));
  }
}

TEST(LoaderTest, EmptyFileLoadsNothingAndWritesNoOutParameter) {
  enum Start { kFresh, kLoaded, kOpenEmpty };
  for (const Start start : {kFresh, kLoaded, kOpenEmpty}) {
    SCOPED_TRACE(start);
    TempDir dir;
    ScopedTable db;
    if (start == kLoaded) {
      MakeThreeRecords(db.get());
    } else if (start == kOpenEmpty) {
      db->NewTable(5);
    }
    UseFile(db.get(), dir, "");
    const LoadResult r = Load(db.get(), 42, 1, 1);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.fieldCount, 42);
    EXPECT_EQ(r.same, 1);
    EXPECT_INVARIANTS(db.get());
    EXPECT_EQ(db->GetRecordCount(), start == kOpenEmpty ? 0 : dbErrNotOpen);
    EXPECT_EQ(db->GetFieldCount(), start == kOpenEmpty ? 5 : dbErrNotOpen);
  }
}

TEST(LoaderTest, OutParametersAndFlagValues) {
  const std::string consistent = "a;b\nc;d\n";
  const std::string ragged = "a;b\nc\n";
  struct Case {
    const std::string* file;
    int fieldCountIn;
    int result;
    int fieldCountOut;
    DB_BOOL check;
    DB_BOOL sameIn;
    DB_BOOL sameOut;
  };
  const Case cases[] = {
      {&consistent, 3, dbErrFieldCount, 2, 1, 7, 7},  // *sameFieldCount is left alone
      {&consistent, 2, 2, 2, 1, 7, 1},
      {&consistent, 3, 2, 2, 0, 0, 1},
      {&consistent, 3, 2, 2, 2, 0, 1},  // only the value 1 counts as set
      {&consistent, 3, 2, 2, 255, 0, 1},
      {&consistent, 1, dbErrFieldCount, 2, 1, 1, 1},
      {&consistent, 0, 2, 2, 0, 1, 1},
      {&ragged, 0, dbErrIntegrity, 2, 0, 1, 0},
      {&ragged, 2, dbErrIntegrity, 2, 1, 1, 0},
      {&ragged, 3, dbErrFieldCount, 2, 1, 1, 1},  // the field count is checked first
      {&ragged, 0, 2, 2, 0, 0, 0},
      {&ragged, 0, 2, 2, 0, 2, 0},
      {&ragged, 0, 2, 2, 0, 255, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(*c.file + " check " + std::to_string(c.check) + " same " +
                 std::to_string(c.sameIn) + " count " + std::to_string(c.fieldCountIn));
    TempDir dir;
    ScopedTable db;
    UseFile(db.get(), dir, *c.file);
    const LoadResult r = Load(db.get(), c.fieldCountIn, c.check, c.sameIn);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.fieldCount, c.fieldCountOut);
    EXPECT_EQ(r.same, c.sameOut);
    EXPECT_EQ(db->GetRecordCount(), c.result < 0 ? dbErrNotOpen : c.result);
    EXPECT_INVARIANTS(db.get());
  }
}

TEST(LoaderTest, NullOutParametersAreNotWritten) {
  TempDir dir;
  ScopedTable db;
  UseFile(db.get(), dir, "a;b\nc\n");
  // A null *sameFieldCount counts as not set, so the ragged file loads.
  EXPECT_EQ(db->LoadFile(nullptr, 0, nullptr), 2);
  EXPECT_EQ(Dump(db.get()), "a|b\nc|<absent>\n");
  int fieldCount = 2;
  EXPECT_EQ(db->LoadFile(&fieldCount, 1, nullptr), 2);
  DB_BOOL same = 7;
  EXPECT_EQ(db->LoadFile(nullptr, 0, &same), 2);
  EXPECT_EQ(same, 0);
  // No expected count to compare with: refused, and the table that was loaded is closed.
  same = 1;
  EXPECT_EQ(db->LoadFile(nullptr, 1, &same), dbErrFieldCount);
  EXPECT_EQ(same, 1);
  EXPECT_EQ(db->GetRecordCount(), dbErrNotOpen);
  EXPECT_INVARIANTS(db.get());
}

TEST(LoaderTest, SettingsAreCheckedInOrderAndTouchNothing) {
  TempDir dir;
  dbtest::WriteBytes(dir.File("in.csv"), "x;y\n");
  std::filesystem::create_directory(dir.path() / "sub");
  struct Case {
    const char* name;  // null: no file name set
    bool delimiter;
    int result;
  };
  const Case cases[] = {
      {nullptr, false, dbErrNoFileName},
      {nullptr, true, dbErrNoFileName},
      {"", false, dbErrNoFileName},
      {"", true, dbErrNoFileName},
      {"missing.csv", false, dbErrFileNotFound},
      {"missing.csv", true, dbErrFileNotFound},
      {"sub", true, dbErrFileNotFound},
      {"in.csv", false, dbErrNoDelimiter},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name == nullptr ? "<none>" : c.name) + (c.delimiter ? " ;" : ""));
    ScopedTable db;
    MakeThreeRecords(db.get());
    if (c.name != nullptr) {
      const std::string path = c.name[0] == '\0' ? std::string() : dir.File(c.name);
      db->SetFileName(path.c_str());
    }
    if (c.delimiter) {
      db->SetDelimiter(';');
    }
    for (const bool append : {false, true}) {
      const LoadResult r = append ? LoadResult{db->AppendFile(nullptr, 1, nullptr), -99, 7}
                                  : Load(db.get(), -99, 1, 1);
      EXPECT_EQ(r.result, c.result) << (append ? "AppendFile" : "LoadFile");
      EXPECT_EQ(r.fieldCount, -99);
      EXPECT_EQ(r.same, append ? 7 : 1);
      EXPECT_EQ(db->GetRecordIndex(), 2);
      EXPECT_EQ(db->GetFieldCount(), 2);
    }
    EXPECT_INVARIANTS(db.get());
    EXPECT_EQ(Dump(db.get()), kThreeRecords);
  }
}

TEST(LoaderTest, LoadReplacesLoadedTable) {
  TempDir dir;
  dbtest::FaultyAllocator fresh;
  {
    ScopedTable db(dbtest::MakeEnv(&fresh));
    UseFile(db.get(), dir, "b1\nb2\n", ';', "b.csv");
    ASSERT_EQ(Load(db.get()).result, 2);
  }
  dbtest::FaultyAllocator memory;
  ScopedTable db(dbtest::MakeEnv(&memory));
  UseFile(db.get(), dir, "a1;x\na2;y\na3;z\n", ';', "a.csv");
  ASSERT_EQ(Load(db.get()).result, 3);
  ASSERT_EQ(db->LastRecord(), 3);
  UseFile(db.get(), dir, "b1\nb2\n", ';', "b.csv");
  const LoadResult r = Load(db.get(), 0, 1, 1);
  EXPECT_EQ(r.result, dbErrFieldCount);
  EXPECT_EQ(db->GetRecordCount(), dbErrNotOpen);
  EXPECT_EQ(memory.Live(), 2U);  // the object and its file name: the old records are gone
  ASSERT_EQ(Load(db.get()).result, 2);
  EXPECT_EQ(db->GetRecordIndex(), dbErrNoRecordSelected);
  EXPECT_EQ(db->GetFieldCount(), 1);
  EXPECT_INVARIANTS(db.get());
  EXPECT_EQ(Dump(db.get()), "b1\nb2\n");
  EXPECT_EQ(Load(db.get()).result, 2);  // the same file again
  EXPECT_EQ(Dump(db.get()), "b1\nb2\n");
  db->CloseTable();
  EXPECT_EQ(memory.Live(), 2U);
  EXPECT_EQ(memory.BadReleases(), 0U);
  EXPECT_EQ(fresh.BadReleases(), 0U);
}

TEST(LoaderTest, RefusalAfterTheClosingStep) {
  // The field count and consistency checks come after the closing step: a table with records is
  // closed, an open table without records stays open and takes the file's field count.
  TempDir dir;
  for (const DB_BOOL check : {DB_BOOL{0}, DB_BOOL{1}}) {
    for (const bool hadRecords : {false, true}) {
      SCOPED_TRACE(std::string(check != 0 ? "-5" : "-8") + (hadRecords ? " loaded" : " empty"));
      ScopedTable db;
      if (hadRecords) {
        MakeThreeRecords(db.get());
      } else {
        db->NewTable(5);
      }
      UseFile(db.get(), dir, "a;b;c\nd\n");
      const LoadResult r = Load(db.get(), 1, check, 1);
      EXPECT_EQ(r.result, check != 0 ? dbErrFieldCount : dbErrIntegrity);
      EXPECT_EQ(r.fieldCount, 3);
      EXPECT_EQ(r.same, check != 0 ? 1 : 0);
      EXPECT_INVARIANTS(db.get());
      EXPECT_EQ(db->GetRecordCount(), hadRecords ? dbErrNotOpen : 0);
      EXPECT_EQ(db->GetFieldCount(), hadRecords ? dbErrNotOpen : 3);
      EXPECT_EQ(db->AddRecord(), hadRecords ? dbErrNotOpen : 1);
      EXPECT_EQ(std::string(db->GetFileName()), dir.File("in.csv"));
      // The file was let go: a second object loads it at once.
      ScopedTable other;
      UseFile(other.get(), dir, "a;b;c\nd\n");
      EXPECT_EQ(Load(other.get()).result, 2);
    }
  }
}

}  // namespace
