// SaveFile: the exact bytes written, round trips through LoadFile, and what a save leaves alone.
#include <string>
#include <vector>

#include "tests/support/faulty_allocator.h"
#include "tests/support/test_support.h"

namespace {

using dbtest::ReadBytes;
using dbtest::ScopedTable;
using dbtest::TempDir;
using namespace std::string_literals;

// A record's fields: nullptr leaves a field absent.
using Row = std::vector<const char*>;

void Build(TMainDB* db, int fieldCount, const std::vector<Row>& rows) {
  db->NewTable(fieldCount);
  for (const Row& row : rows) {
    db->AddRecord();
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (row[i] != nullptr) {
        ASSERT_EQ(db->SetField(static_cast<int>(i), row[i]), dbOK);
      }
    }
  }
}

void Target(TMainDB* db, const TempDir& dir, char delimiter = ';') {
  db->SetFileName(dir.File("out.csv").c_str());
  db->SetDelimiter(delimiter);
}

TEST(WriterTest, ExactBytes) {
  struct Case {
    const char* name;
    std::vector<Row> rows;
    std::string bytes;
    int fieldCount;
    char delimiter;
  };
  const Case cases[] = {
      {"absent and empty fields",
       {{"a", "", nullptr}, {"d", "e", "f"}},
       "a;;\r\nd;e;f\r\n",
       3,
       ';'},
      {"no fields", {{}, {}, {}}, "\r\n\r\n\r\n", 0, ';'},
      {"one field", {{"x"}, {nullptr}, {"y"}}, "x\r\n\r\ny\r\n", 1, ';'},
      {"all absent", {{nullptr, nullptr, nullptr}}, ";;\r\n", 3, ';'},
      {"delimiter, cr and lf in a text", {{"a;b", "c\r\nd\re\nf"}}, "a;b;c\r\nd\re\nf\r\n", 2, ';'},
      {"quotes and high bytes",
       {{"\"q\"", "\xE4\xF6\xFC\xDF"}},
       "\"q\";\xE4\xF6\xFC\xDF\r\n",
       2,
       ';'},
      {"nul delimiter", {{"a", "b", "c"}}, "a\0b\0c\r\n"s, 3, '\0'},
      {"lf delimiter", {{"a", "b"}}, "a\nb\r\n", 2, '\n'},
      {"high byte delimiter",
       {{"a", "b"}},
       "a\xA7"
       "b\r\n",
       2,
       '\xA7'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ScopedTable db;
    Build(db.get(), c.fieldCount, c.rows);
    Target(db.get(), dir, c.delimiter);
    EXPECT_EQ(db->SaveFile(), static_cast<int>(c.rows.size()));
    EXPECT_EQ(ReadBytes(dir.File("out.csv")), c.bytes);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.csv"});
    EXPECT_INVARIANTS(db.get());
  }
}

TEST(WriterTest, LargeTablesAreWrittenWhole) {
  // Many write buffers (1 MiB), single fields larger than one, over 8 MiB in all (where the
  // writer starts handing the file to the disk while it writes).
  TempDir dir;
  ScopedTable db;
  Target(db.get(), dir);
  db->NewTable(3);
  std::string expected;
  for (int r = 0; r < 30000; ++r) {
    db->AddRecord();
    const std::string a = std::to_string(r) + std::string(static_cast<std::size_t>(r % 97), 'v');
    const std::string big(
        r % 10000 == 9999 ? (std::size_t{3} << 20) + static_cast<std::size_t>(r) : 0, 'B');
    db->SetField(0, a.c_str());
    db->SetField(2, big.c_str());
    expected.append(a).append(";;").append(big).append("\r\n");
  }
  EXPECT_EQ(db->SaveFile(), 30000);
  EXPECT_EQ(ReadBytes(dir.File("out.csv")), expected);
  EXPECT_EQ(dir.Entries().size(), 1U);
}

TEST(WriterTest, RoundTrips) {
  struct Case {
    std::string loaded;
    std::string saved;  // what the first save writes
  };
  const Case cases[] = {
      {"a;b\r\nc;d\r\n", "a;b\r\nc;d\r\n"}, {"a;b\nc;d", "a;b\r\nc;d\r\n"},
      {"a;b\nc\n", "a;b\r\nc;\r\n"},        {"a\rb;;c\n\n;x", "ab;;c\r\n;;\r\n;x;\r\n"},
      {"\xE4;\"q\"\n", "\xE4;\"q\"\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.loaded);
    TempDir dir;
    ScopedTable db;
    ASSERT_GT(dbtest::LoadBytes(db.get(), dir, c.loaded, ';', "out.csv"), 0);
    const std::string dump = dbtest::Dump(db.get());
    const int records = db->GetRecordCount();
    EXPECT_EQ(db->SaveFile(), records);
    EXPECT_EQ(ReadBytes(dir.File("out.csv")), c.saved);
    // The saved file loads back to the same texts; absent fields of lines ended by a line feed
    // come back as empty texts, so a second save writes the same bytes.
    int fieldCount = 0;
    DB_BOOL same = 0;
    ASSERT_EQ(db->LoadFile(&fieldCount, 0, &same), records);
    EXPECT_EQ(same, 1);
    EXPECT_EQ(db->SaveFile(), records);
    EXPECT_EQ(ReadBytes(dir.File("out.csv")), c.saved);
    std::string expected = dump;
    for (std::string::size_type at; (at = expected.find("<absent>")) != std::string::npos;) {
      expected.erase(at, 8);
    }
    EXPECT_EQ(dbtest::Dump(db.get()), expected);
  }
}

TEST(WriterTest, ReplacesLongerFileAndWritesEmptyTableAsZeroBytes) {
  TempDir dir;
  ScopedTable db;
  Target(db.get(), dir);
  dbtest::WriteBytes(dir.File("out.csv"), std::string(10000, 'o') + "\r\n");
  Build(db.get(), 2, {{"n", "m"}});
  EXPECT_EQ(db->SaveFile(), 1);
  EXPECT_EQ(ReadBytes(dir.File("out.csv")), "n;m\r\n");
  db->NewTable(2);
  EXPECT_EQ(db->SaveFile(), 0);
  EXPECT_EQ(ReadBytes(dir.File("out.csv")), "");
  // The same with every record deleted, and to a file that did not exist.
  Build(db.get(), 1, {{"z"}});
  db->DeleteRecord();
  db->SetFileName(dir.File("new.csv").c_str());
  EXPECT_EQ(db->SaveFile(), 0);
  EXPECT_EQ(ReadBytes(dir.File("new.csv")), "");
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"new.csv", "out.csv"}));
}

TEST(WriterTest, SavingChangesNothingInTheTable) {
  TempDir dir;
  ScopedTable db;
  ASSERT_EQ(dbtest::LoadBytes(db.get(), dir, "a;\n;b\nc;d", ';', "in.csv"), 3);
  Target(db.get(), dir);
  for (const int position : {0, 1, 2, 3}) {  // 0: no current record, as after the load
    SCOPED_TRACE(position);
    if (position > 0) {
      db->FirstRecord();
      for (int i = 1; i < position; ++i) {
        db->NextRecord();
      }
    }
    ASSERT_EQ(db->GetRecordIndex(), position == 0 ? dbErrNoRecordSelected : position);
    EXPECT_EQ(db->SaveFile(), 3);
    EXPECT_EQ(db->GetRecordIndex(), position == 0 ? dbErrNoRecordSelected : position);
    EXPECT_EQ(db->GetRecordCount(), 3);
    EXPECT_EQ(db->GetFieldCount(), 2);
    EXPECT_EQ(std::string(db->GetFileName()), dir.File("out.csv"));
    EXPECT_EQ(db->GetDelimiter(), ';');
    EXPECT_INVARIANTS(db.get());
    EXPECT_EQ(ReadBytes(dir.File("out.csv")), "a;\r\n;b\r\nc;d\r\n");
    EXPECT_EQ(ReadBytes(dir.File("in.csv")), "a;\n;b\nc;d");
  }
  EXPECT_EQ(dbtest::Dump(db.get()), "a|\n|b\nc|d\n");
}

TEST(WriterTest, ChecksInOrderTouchNoFile) {
  enum State { kFresh, kOpen, kClosed };
  struct Case {
    const char* name;
    State state;
    bool fileName, delimiter;
    const char* path;  // relative to the test directory
    int result;
  };
  const Case cases[] = {
      {"fresh object", kFresh, true, true, "new.csv", dbErrNotOpen},
      {"closed table", kClosed, true, true, "new.csv", dbErrNotOpen},
      {"closed, nothing set", kClosed, false, false, "", dbErrNotOpen},
      {"no name, no delimiter", kOpen, false, false, "", dbErrNoFileName},
      {"empty name", kOpen, true, true, "", dbErrNoFileName},
      {"no delimiter", kOpen, true, false, "out.csv", dbErrNoDelimiter},
      {"no delimiter, new file", kOpen, true, false, "new.csv", dbErrNoDelimiter},
      {"missing directory", kOpen, true, true, "no/such/dir/out.csv", dbErrFileAccess},
      {"directory", kOpen, true, true, "sub", dbErrFileAccess},
      {"trailing slash", kOpen, true, true, "out.csv/", dbErrFileAccess},
      {"trailing slash, new file", kOpen, true, true, "new.csv/", dbErrFileAccess},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "sub");
    dbtest::WriteBytes(dir.File("out.csv"), "old\r\n");
    ScopedTable db;
    if (c.state != kFresh) {
      Build(db.get(), 1, {{"x"}});
    }
    if (c.state == kClosed) {
      db->CloseTable();
    }
    if (c.fileName) {
      db->SetFileName(c.path[0] == '\0' ? "" : dir.File(c.path).c_str());
    }
    if (c.delimiter) {
      db->SetDelimiter(';');
    }
    EXPECT_EQ(db->SaveFile(), c.result);
    EXPECT_EQ(ReadBytes(dir.File("out.csv")), "old\r\n");
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"out.csv", "sub"}));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "sub"));
    EXPECT_INVARIANTS(db.get());
  }
}

TEST(WriterTest, SmallWriteBufferGivesTheSameBytes) {
  // Without memory for its large buffer the writer falls back to small writes.
  TempDir dir;
  dbtest::FaultyAllocator memory;
  ScopedTable db(dbtest::MakeEnv(&memory));
  Target(db.get(), dir);
  db->NewTable(2);
  std::string expected;
  for (int r = 0; r < 200; ++r) {
    const std::string text(static_cast<std::size_t>(r * 7 % 1500), static_cast<char>('a' + r % 26));
    db->AddRecord();
    db->SetField(1, text.c_str());
    expected += ";" + text + "\r\n";
  }
  memory.FailAt(1, true);
  EXPECT_EQ(db->SaveFile(), 200);
  EXPECT_GT(memory.Failures(), 0U);
  EXPECT_EQ(ReadBytes(dir.File("out.csv")), expected);
}

}  // namespace
