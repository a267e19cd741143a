// Helpers shared by the unit tests: temporary directories, whole-file reads and writes, and table
// objects made from the static core.
#ifndef OVELT_TESTS_SUPPORT_TEST_SUPPORT_H
#define OVELT_TESTS_SUPPORT_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "table/datenbank_table.h"

namespace dbtest {

// A fresh directory for one test, removed with everything in it afterwards.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / name as a string.
  std::string File(const std::string& name) const;
  // Names of the entries in the directory, sorted.
  std::vector<std::string> Entries() const;

 private:
  std::filesystem::path path_;
};

// Writes bytes to path, replacing it.
void WriteBytes(const std::string& path, const std::string& bytes);
// The whole content of path; fails the test when it cannot be read.
std::string ReadBytes(const std::string& path);

// A table object from the static core with env (default: the production environment).
TDatenbank* NewTable(const TModuleEnv& env = DefaultModuleEnv());

// The field text, "<absent>" for an absent field, or "<code N>" for any other result.
std::string Field(TMainDB* db, int index);

// Makes db a new table of two records, "n;1" and "n;2", named path with the delimiter ';': saved,
// it is kTwoRecords.
void MakeTwoRecords(TMainDB* db, const std::string& path);
constexpr char kTwoRecords[] = "n;1\r\nn;2\r\n";

// Every record from first to last as lines of fields joined by '|' (absent fields as "<absent>"),
// each line ended by '\n'. Moves the cursor.
std::string Dump(TMainDB* db);

// Loads bytes written to a file in dir with delimiter ';': the result of LoadFile.
int LoadBytes(TMainDB* db, const TempDir& dir, const std::string& bytes, char delimiter = ';',
              const std::string& name = "input.csv");

}  // namespace dbtest

// Fails the test when the table's invariants are broken.
#define EXPECT_INVARIANTS(table)                                    \
  do {                                                              \
    const char* broken_ = (table)->CheckInvariants();               \
    EXPECT_EQ(broken_, nullptr) << "invariant broken: " << broken_; \
  } while (0)

#endif  // OVELT_TESTS_SUPPORT_TEST_SUPPORT_H
