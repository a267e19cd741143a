// Long lines: a record whose texts are large compared with a chunk is a block of its own, so
// deleting it gives its memory back at once, and a long line loads and appends without a partial
// copy of it left behind (on a 32-bit host, where the address space is 2 GiB, these loads ran out
// of memory before). Texts of up to INT_MAX bytes are taken where memory allows.
#include <climits>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include "tests/support/faulty_allocator.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/test_support.h"

namespace {

using dbtest::FaultyAllocator;
using dbtest::FaultyFileSystem;
using dbtest::ScopedTable;

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

// Serves a file of `before` short lines, a line of one field of length bytes 'x' ended by
// lineEnd, and `after` short lines; the file exists only in the file layer.
void ServeLongLine(FaultyFileSystem& files, int before, std::uint64_t length, int after,
                   const std::string& lineEnd = "\n") {
  std::string head;
  std::string tail = lineEnd;
  for (int i = 0; i < before + after; ++i) {
    (i < before ? head : tail) += "s" + std::to_string(i) + "\n";
  }
  const std::uint64_t longEnd = head.size() + length;
  files.ServeGenerated(longEnd + tail.size(), [=](std::uint64_t at, char* out, std::uint32_t n) {
    for (const std::uint64_t end = at + n; at < end;) {
      if (at >= head.size() && at < longEnd) {
        const auto run = static_cast<std::size_t>((end < longEnd ? end : longEnd) - at);
        std::memset(out, 'x', run);
        out += run;
        at += run;
      } else {
        *out++ = at < head.size() ? head[static_cast<std::size_t>(at)]
                                  : tail[static_cast<std::size_t>(at - longEnd)];
        ++at;
      }
    }
  });
}

// The length of field 0 of the current record, as GetField reports it to a null buffer.
int Length(TMainDB* db) {
  return db->GetField(0, nullptr, 0);
}

// Whether the machine can give this process bytes more of memory: never on a 32-bit host.
bool HasMemory(std::uint64_t bytes) {
  std::ifstream info("/proc/meminfo");
  std::string key;
  std::uint64_t kb = 0;
  while (sizeof(void*) >= 8 && info >> key >> kb) {
    if (key == "MemAvailable:") {
      return kb * 1024 >= bytes;
    }
    info.ignore(64, '\n');
  }
  return false;
}

TEST(LongRecordsTest, LoadDeleteAndAppendLongLines) {
  struct Case {
    const char* name;
    int before;
    std::uint64_t length;
    int after;
    std::uint64_t appended;  // a second file: one line of this length, without a line feed
  };
  const Case cases[] = {
      {"a 260 MiB field, and another appended", 0, 260 * kMiB, 0, 260 * kMiB},
      {"a 400 MiB line among 1,000 short ones, deleted, then 480 MiB appended", 500, 400 * kMiB,
       500, 480 * kMiB},
      {"a line of 64 KiB among short ones", 3000, 64 * 1024, 3000, 70000},
  };
  dbtest::TempDir dir;
  dbtest::WriteBytes(dir.File("in.csv"), "placeholder");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FaultyFileSystem files;
    FaultyAllocator memory;
    ScopedTable db(dbtest::MakeEnv(&memory, &files));
    db->SetFileName(dir.File("in.csv").c_str());
    db->SetDelimiter(';');
    ServeLongLine(files, c.before, c.length, c.after);
    const int lines = c.before + 1 + c.after;
    ASSERT_EQ(db->LoadFile(nullptr, 0, nullptr), lines);
    const int at = c.before + 1;
    for (int r = db->FirstRecord(); r > 0 && r < at; r = db->NextRecord()) {
    }
    ASSERT_EQ(Length(db.get()), static_cast<int>(c.length));
    EXPECT_INVARIANTS(db.get());
    if (c.before > 0) {
      // Its own block goes back at once, though short records before and after it stay.
      const std::size_t held = memory.Live();
      ASSERT_EQ(db->DeleteRecord(), c.before);
      EXPECT_EQ(memory.Live(), held - 1);
      EXPECT_EQ(dbtest::Field(db.get(), 0), "s" + std::to_string(c.before - 1));
    }
    ServeLongLine(files, 0, c.appended, 0, "");
    const int kept = db->GetRecordCount();
    ASSERT_EQ(db->AppendFile(nullptr, 0, nullptr), 1);
    ASSERT_EQ(db->LastRecord(), kept + 1);
    EXPECT_EQ(Length(db.get()), static_cast<int>(c.appended));
    EXPECT_EQ(db->PriorRecord(), kept);
    if (c.after > 0) {
      EXPECT_EQ(dbtest::Field(db.get(), 0), "s" + std::to_string(c.before + c.after - 1));
    } else {
      EXPECT_EQ(Length(db.get()), static_cast<int>(c.length));
    }
    EXPECT_INVARIANTS(db.get());
    db->CloseTable();
    EXPECT_EQ(memory.Live(), 2U);  // the object and its file name
  }
}

// Needs about 5 GiB (a loaded text, then the test's own text and the table's copy of it); where
// the machine has less, and always on a 32-bit host, the same calls must run out of memory.
TEST(LongRecordsTest, TextsOfIntMaxBytesWhereMemoryAllows_Needs5GiB) {
  const bool room = HasMemory(5 * 1024 * kMiB);
  SCOPED_TRACE(room ? "with the memory" : "without the memory");
  dbtest::TempDir dir;
  dbtest::WriteBytes(dir.File("in.csv"), "placeholder");
  FaultyFileSystem files;
  FaultyAllocator memory;
  ScopedTable db(dbtest::MakeEnv(&memory, &files));
  db->SetFileName(dir.File("in.csv").c_str());
  db->SetDelimiter(';');
  // A field of INT_MAX bytes with its CR LF, and one of a byte more.
  for (const std::uint64_t length : {std::uint64_t{INT_MAX}, std::uint64_t{INT_MAX} + 1}) {
    ServeLongLine(files, 0, length, 0, "\r\n");
    const int loaded = db->LoadFile(nullptr, 0, nullptr);
    EXPECT_EQ(loaded, room && length == INT_MAX ? 1 : dbErrOutOfMemory);
    if (loaded == 1) {
      ASSERT_EQ(db->FirstRecord(), 1);
      EXPECT_EQ(Length(db.get()), INT_MAX);
      EXPECT_INVARIANTS(db.get());
    }
  }
  EXPECT_EQ(memory.Live(), 2U);
  if (room) {
    const std::string text(std::size_t{INT_MAX} + 1, 'y');
    ASSERT_EQ(db->NewTable(1), dbOK);
    ASSERT_EQ(db->AddRecord(), 1);
    EXPECT_EQ(db->SetField(0, text.c_str() + 1), dbOK);
    EXPECT_EQ(Length(db.get()), INT_MAX);
    EXPECT_EQ(db->SetField(0, text.c_str()), dbErrOutOfMemory);
    EXPECT_EQ(Length(db.get()), INT_MAX);
  }
}

// The check behind CheckInvariants: a text that is not where the store put it is reported.
TEST(LongRecordsTest, TheWindowCheckFindsATextOutsideTheStoresBlocks) {
  TRecordStore store(&SystemAllocator());
  TRecordNode* record = store.NewRecord(2);
  ASSERT_NE(record, nullptr);
  ASSERT_TRUE(store.SetText(record, 0, "short", 5));
  EXPECT_EQ(store.CheckTexts(record, 2), nullptr);
  char elsewhere[] = "abc\0defghijklmnopqrstuvwxyz";  // not zeros up to a window after its NUL
  record->Fields()[1] = elsewhere;
  EXPECT_NE(store.CheckTexts(record, 2), nullptr);
  record->Fields()[1] = nullptr;
  store.FreeRecord(record, 2);
}

}  // namespace
