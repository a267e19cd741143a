// File name and delimiter: the two settings the file operations read. They belong to the object,
// not to the open table, so nothing but their own operations changes them.
#include <cstring>
#include <string>

#include "tests/support/test_support.h"

namespace {

using dbtest::TempDir;

// None -> set -> replaced -> freed (twice) -> set again; the stored name is a copy.
TEST(SettingsTest, NameLifecycle) {
  TDatenbank* db = dbtest::NewTable();
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->GetFileName(), nullptr);
  EXPECT_EQ(db->GetDelimiter(), '\0');
  EXPECT_EQ(db->FreeFileName(), 1);
  EXPECT_EQ(db->GetFileName(), nullptr);

  char host[] = "/tmp/some \xE4rger/file.csv";  // a Windows-1252 path passes through unchanged
  EXPECT_EQ(db->SetFileName(host), 1);
  const char* stored = db->GetFileName();
  ASSERT_NE(stored, nullptr);
  EXPECT_NE(stored, host);
  std::memset(host, 'Y', sizeof(host) - 1);
  EXPECT_STREQ(db->GetFileName(), "/tmp/some \xE4rger/file.csv");
  EXPECT_EQ(db->GetFileName(), stored);  // the stored copy itself, not a fresh one each time

  EXPECT_EQ(db->SetFileName("second.csv"), 1);
  EXPECT_STREQ(db->GetFileName(), "second.csv");
  const std::string longName(10000, 'n');
  EXPECT_EQ(db->SetFileName(longName.c_str()), 1);
  EXPECT_EQ(std::string(db->GetFileName()), longName);

  EXPECT_EQ(db->FreeFileName(), 1);
  EXPECT_EQ(db->GetFileName(), nullptr);
  EXPECT_EQ(db->FreeFileName(), 1);
  EXPECT_EQ(db->GetFileName(), nullptr);
  EXPECT_EQ(db->SetFileName("b.csv"), 1);
  EXPECT_STREQ(db->GetFileName(), "b.csv");
  // The object's own name passed back in is kept.
  EXPECT_EQ(db->SetFileName(db->GetFileName()), 1);
  ASSERT_NE(db->GetFileName(), nullptr);
  EXPECT_STREQ(db->GetFileName(), "b.csv");
}

TEST(SettingsTest, NullNameLeavesNoName) {
  TDatenbank* db = dbtest::NewTable();
  EXPECT_EQ(db->SetFileName(nullptr), 0);
  EXPECT_EQ(db->GetFileName(), nullptr);
  ASSERT_EQ(db->SetFileName("old.csv"), 1);
  EXPECT_EQ(db->SetFileName(nullptr), 0);
  EXPECT_EQ(db->GetFileName(), nullptr);
  EXPECT_EQ(db->NewTable(1), dbOK);
  db->SetDelimiter(';');
  EXPECT_EQ(db->SaveFile(), dbErrNoFileName);
}

// A missing and an empty name are refused alike, before the delimiter is looked at, and the
// out-parameters stay as the host left them.
TEST(SettingsTest, MissingOrEmptyNameRefusedByLoadAndSave) {
  for (const bool emptyName : {false, true}) {
    SCOPED_TRACE(emptyName ? "empty name" : "no name");
    TDatenbank* db = dbtest::NewTable();
    if (emptyName) {
      EXPECT_EQ(db->SetFileName(""), 1);
      ASSERT_NE(db->GetFileName(), nullptr);
      EXPECT_STREQ(db->GetFileName(), "");
    }
    int fieldCount = 77;
    DB_BOOL same = 1;
    EXPECT_EQ(db->LoadFile(&fieldCount, 1, &same), dbErrNoFileName);
    EXPECT_EQ(fieldCount, 77);
    EXPECT_EQ(same, 1);
    EXPECT_EQ(db->GetRecordCount(), dbErrNotOpen);

    ASSERT_EQ(db->NewTable(2), dbOK);
    ASSERT_EQ(db->AddRecord(), 1);
    EXPECT_EQ(db->SaveFile(), dbErrNoFileName);
    db->SetDelimiter(';');
    EXPECT_EQ(db->LoadFile(&fieldCount, 0, &same), dbErrNoFileName);
    EXPECT_EQ(db->SaveFile(), dbErrNoFileName);
    // The refused load left the table as it was.
    EXPECT_EQ(db->GetRecordCount(), 1);
    EXPECT_EQ(db->GetRecordIndex(), 1);
    EXPECT_INVARIANTS(db);
  }
}

TEST(SettingsTest, EveryDelimiterByteIsStored) {
  TDatenbank* db = dbtest::NewTable();
  for (int value = 0; value < 256; ++value) {
    const char delimiter = static_cast<char>(value);
    EXPECT_EQ(db->SetDelimiter(delimiter), 1) << value;
    EXPECT_EQ(db->GetDelimiter(), delimiter) << value;
  }
}

TEST(SettingsTest, NulDelimiterCountsAsGiven) {
  TempDir dir;
  const std::string path = dir.File("in.csv");
  dbtest::WriteBytes(path, "a;b\r\nc\r\n");
  TDatenbank* db = dbtest::NewTable();
  ASSERT_EQ(db->SetFileName(path.c_str()), 1);
  int fieldCount = 0;
  DB_BOOL same = 0;
  EXPECT_EQ(db->LoadFile(&fieldCount, 0, &same), dbErrNoDelimiter);
  ASSERT_EQ(db->NewTable(1), dbOK);
  EXPECT_EQ(db->SaveFile(), dbErrNoDelimiter);
  EXPECT_EQ(dbtest::ReadBytes(path), "a;b\r\nc\r\n");

  EXPECT_EQ(db->SetDelimiter('\0'), 1);
  EXPECT_EQ(db->GetDelimiter(), '\0');
  // With NUL as the delimiter every line is one field.
  EXPECT_EQ(db->LoadFile(&fieldCount, 0, &same), 2);
  EXPECT_EQ(fieldCount, 1);
  EXPECT_EQ(dbtest::Dump(db), "a;b\nc\n");
  ASSERT_EQ(db->NewTable(1), dbOK);
  EXPECT_EQ(db->SaveFile(), 0);
  EXPECT_EQ(dbtest::ReadBytes(path), "");
}

// Closing, starting and loading a table, and failed loads, leave both settings alone; a delimiter
// once given is never taken back.
TEST(SettingsTest, TableOperationsLeaveSettingsAlone) {
  TempDir dir;
  TDatenbank* db = dbtest::NewTable();
  ASSERT_EQ(dbtest::LoadBytes(db, dir, "a,b\r\n", ','), 1);
  const char* name = db->GetFileName();
  ASSERT_NE(name, nullptr);
  const std::string expected = dir.File("input.csv");
  auto expectSettings = [&](const char* step) {
    SCOPED_TRACE(step);
    EXPECT_EQ(db->GetFileName(), name);
    EXPECT_EQ(std::string(db->GetFileName()), expected);
    EXPECT_EQ(db->GetDelimiter(), ',');
  };
  expectSettings("LoadFile");
  EXPECT_EQ(db->GetFieldCount(), 2);
  EXPECT_EQ(db->CloseTable(), 1);
  expectSettings("CloseTable");
  EXPECT_EQ(db->NewTable(4), dbOK);
  expectSettings("NewTable");
  EXPECT_EQ(db->AddRecord(), 1);
  EXPECT_EQ(db->SaveFile(), 1);
  expectSettings("SaveFile");
  EXPECT_EQ(db->CloseTable(), 1);
  int fieldCount = 0;
  DB_BOOL same = 0;
  EXPECT_EQ(db->LoadFile(&fieldCount, 0, &same), 1);
  expectSettings("LoadFile of the saved file");

  // The delimiter stays given after the name goes and comes back.
  EXPECT_EQ(db->FreeFileName(), 1);
  EXPECT_EQ(db->GetDelimiter(), ',');
  dbtest::WriteBytes(dir.File("other.csv"), "x\r\n");
  ASSERT_EQ(db->SetFileName(dir.File("other.csv").c_str()), 1);
  EXPECT_EQ(db->LoadFile(&fieldCount, 0, &same), 1);
  EXPECT_INVARIANTS(db);
}

}  // namespace
