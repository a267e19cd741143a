// Both loaders read in blocks; no field, CR LF pair or line end may be mishandled where a block
// ends. Every input is read with tiny blocks, with 4000-byte blocks and with the module's own size.
#include <string>
#include <vector>

#include "tests/support/faulty_allocator.h"
#include "tests/support/test_support.h"

namespace {

using dbtest::ScopedTable;
using dbtest::TempDir;
using namespace std::string_literals;

constexpr std::uint32_t kBlockSizes[] = {1, 2, 3, 7, 4000, kReadBlockSize};
constexpr std::size_t kBlock = kReadBlockSize;

struct Input {
  std::string name;
  std::string bytes;
  std::string dump;  // the records as dbtest::Dump shows them
};

// A file of two-field records. Padding goes into field 0 of the first record so that the byte
// named by `at` (an index into the unpadded file) lands at file offset `offset`.
Input Placed(const std::string& name, std::vector<std::vector<std::string>> records,
             const std::string& lineEnd, bool lastEnded, std::size_t at, std::size_t offset) {
  records[0][0] += std::string(offset - at, 'p');
  Input input{name, "", ""};
  for (std::size_t r = 0; r < records.size(); ++r) {
    input.bytes += records[r][0] + ";" + records[r][1];
    if (r + 1 < records.size() || lastEnded) {
      input.bytes += lineEnd;
    }
    input.dump += records[r][0] + "|" + records[r][1] + "\n";
  }
  return input;
}

std::vector<Input> Inputs() {
  const std::vector<std::vector<std::string>> two = {{"a", "bc"}, {"de", "f"}};
  std::vector<Input> inputs = {
      // "a;bc\r\n": the CR is byte 4 and the LF byte 5 of the unpadded file.
      Placed("cr lf split across blocks", two, "\r\n", true, 4, kBlock - 1),
      Placed("lf first of a block", two, "\r\n", true, 5, kBlock),
      Placed("delimiter last of a block", two, "\n", true, 1, kBlock - 1),
      Placed("delimiter first of a block", two, "\n", true, 1, kBlock),
      Placed("field across a block end", two, "\n", true, 2, kBlock - 1),
      // "a;bc\nde;f\n" has 10 bytes; its last LF is byte 9.
      Placed("two blocks, last byte lf", two, "\n", true, 9, 2 * kBlock - 1),
      Placed("two blocks, cr lf", two, "\r\n", true, 11, 2 * kBlock - 1),
      Placed("one block, no final lf", two, "\n", false, 8, kBlock - 1),
      Placed("one block and a final lf", two, "\n", true, 9, kBlock),
      Placed("field over two block ends", {{"x", std::string(2 * kBlock + 1000, 'y')}, {"", "z"}},
             "\r\n", false, 0, 0),
      {"empty lines", "\n\n\r\n\n", "\n\n\n\n"},
      {"ragged", "a;b;c\r\nd\r\n;;\r\ne", "a|b|c\nd|<absent>|<absent>\n||\ne|<absent>|<absent>\n"},
      {"nul in fields", "a\0b;c\0\r\nd;\0\n"s, "a|c\nd|\n"},
      {"cr everywhere", "\ra\r;\rb\r\r\n\r", "a|b\n<absent>|<absent>\n"},
  };
  // Many short lines: every block size meets every position within a line.
  Input many{"many lines", "", ""};
  for (int i = 0; i < 1500; ++i) {
    const std::string field = std::string(static_cast<std::size_t>(i % 5), 'k');
    many.bytes += field + ";" + std::to_string(i) + (i % 2 == 0 ? "\r\n" : "\n");
    many.dump += field + "|" + std::to_string(i) + "\n";
  }
  inputs.push_back(many);
  return inputs;
}

int Lines(const std::string& dump) {
  return static_cast<int>(std::count(dump.begin(), dump.end(), '\n'));
}

TEST(BlockSizeTest, LoadFileReadsTheSameRecordsWithEveryBlockSize) {
  TempDir dir;
  for (const Input& input : Inputs()) {
    dbtest::WriteBytes(dir.File("in.csv"), input.bytes);
    for (const std::uint32_t block : kBlockSizes) {
      SCOPED_TRACE(input.name + ", block " + std::to_string(block));
      ScopedTable db(dbtest::MakeEnv(nullptr, nullptr, block));
      db->SetFileName(dir.File("in.csv").c_str());
      db->SetDelimiter(';');
      int fieldCount = 0;
      DB_BOOL same = 0;
      EXPECT_EQ(db->LoadFile(&fieldCount, 0, &same), Lines(input.dump));
      EXPECT_EQ(fieldCount, db->GetFieldCount());
      EXPECT_INVARIANTS(db.get());
      EXPECT_EQ(dbtest::Dump(db.get()), input.dump);
    }
  }
}

TEST(BlockSizeTest, AppendFileReadsTheSameRecordsWithEveryBlockSize) {
  TempDir dir;
  for (const Input& input : Inputs()) {
    dbtest::WriteBytes(dir.File("in.csv"), input.bytes);
    for (const std::uint32_t block : kBlockSizes) {
      SCOPED_TRACE(input.name + ", block " + std::to_string(block));
      ScopedTable db(dbtest::MakeEnv(nullptr, nullptr, block));
      db->SetFileName(dir.File("in.csv").c_str());
      db->SetDelimiter(';');
      db->NewTable(0);
      const int lines = Lines(input.dump);
      EXPECT_EQ(db->AppendFile(nullptr, 0, nullptr), lines);  // into an empty table
      EXPECT_EQ(db->AppendFile(nullptr, 0, nullptr), lines);  // after its own records
      EXPECT_EQ(db->GetRecordCount(), 2 * lines);
      EXPECT_INVARIANTS(db.get());
      EXPECT_EQ(dbtest::Dump(db.get()), input.dump + input.dump);
    }
  }
}

}  // namespace
