// Running out of memory: every allocation of every allocating operation fails in turn, once
// (transient) or from then on (persistent). Each time the result, the table's state and the
// blocks it holds must be as documented, and the table must go on working.
#include <functional>
#include <string>

#include "tests/support/faulty_allocator.h"
#include "tests/support/test_support.h"

namespace {

using dbtest::Dump;
using dbtest::FaultyAllocator;
using dbtest::ScopedTable;
using dbtest::TempDir;

struct Attempt {
  int result;
  std::uint64_t failed;  // the allocation that failed, 0 when none did
  std::size_t liveBefore;
};

using Step = std::function<void(TDatenbank*)>;
using Act = std::function<int(TDatenbank*)>;
using Check = std::function<void(TDatenbank*, const FaultyAllocator&, const Attempt&)>;

// Fails allocation n of act for n = 1, 2, ... until act runs without reaching allocation n, so
// every allocation act makes fails in turn, however many there are, and the last run is one
// without a failure. check sees each run; act must allocate, or nothing was tested.
void EveryAllocationFails(bool persistent, const Step& setup, const Act& act, const Check& check) {
  for (std::uint64_t n = 1;; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n) + (persistent ? " and after" : " alone"));
    FaultyAllocator memory;
    bool injected = false;
    {
      ScopedTable db(dbtest::MakeEnv(&memory));
      setup(db.get());
      Attempt attempt{0, 0, memory.Live()};
      memory.FailAt(n, persistent);
      attempt.result = act(db.get());
      injected = memory.Failures() > 0;
      attempt.failed = injected ? n : 0;
      memory.Heal();
      EXPECT_INVARIANTS(db.get());
      check(db.get(), memory, attempt);
      // The table still works, and gives back every block once closed and nameless.
      db->NewTable(2);
      EXPECT_EQ(db->AddRecord(), 1);
      EXPECT_EQ(db->SetField(1, "still"), dbOK);
      EXPECT_EQ(dbtest::Field(db.get(), 1), "still");
      db->CloseTable();
      db->FreeFileName();
      EXPECT_EQ(memory.Live(), 1U) << "blocks left besides the object";
    }
    EXPECT_EQ(memory.Live(), 0U);
    EXPECT_EQ(memory.BadReleases(), 0U);
    if (!injected) {
      EXPECT_GT(n, 1U) << "the operation allocated nothing, so no failure was tested";
      return;
    }
  }
}

class AllocFailureTest : public ::testing::TestWithParam<bool> {
 protected:
  static bool persistent() { return GetParam(); }
  TempDir dir_;
};

INSTANTIATE_TEST_SUITE_P(Modes, AllocFailureTest, ::testing::Values(false, true),
                         [](const auto& mode) { return mode.param ? "Persistent" : "Transient"; });

TEST_P(AllocFailureTest, Factory) {
  for (std::uint64_t n = 1;; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n));
    FaultyAllocator memory;
    memory.FailAt(n, persistent());
    TMainDB* db = NewTableObject(dbtest::MakeEnv(&memory));
    if (memory.Failures() > 0) {
      // Whichever allocation failed, there is no object and nothing is held.
      EXPECT_EQ(db, nullptr);
      EXPECT_EQ(memory.Live(), 0U);
      continue;
    }
    ASSERT_NE(db, nullptr);
    EXPECT_GT(n, 1U) << "the factory allocated nothing";
    memory.Heal();
    EXPECT_EQ(db->GetRecordCount(), dbErrNotOpen);
    EXPECT_EQ(db->NewTable(1), dbOK);
    EXPECT_EQ(db->AddRecord(), 1);
    db->CloseTable();
    EXPECT_EQ(memory.Live(), 1U);
    memory.Release(db);
    EXPECT_EQ(memory.BadReleases(), 0U);
    break;
  }
  // The next try after a failure makes a working object.
  FaultyAllocator memory;
  memory.FailAt(1, false);
  EXPECT_EQ(NewTableObject(dbtest::MakeEnv(&memory)), nullptr);
  ScopedTable db(dbtest::MakeEnv(&memory));
  ASSERT_NE(db.get(), nullptr);
  EXPECT_EQ(db->NewTable(3), dbOK);
}

TEST_P(AllocFailureTest, SetFileName) {
  for (const bool own : {false, true}) {
    SCOPED_TRACE(own ? "its own name" : "a new name");
    EveryAllocationFails(
        persistent(), [](TDatenbank* db) { db->SetFileName("old name"); },
        [own](TDatenbank* db) { return db->SetFileName(own ? db->GetFileName() : "a new name"); },
        [own](TDatenbank* db, const FaultyAllocator& memory, const Attempt& a) {
          if (a.failed != 0) {
            // No name is left, the old one included, and its block is gone.
            EXPECT_EQ(a.result, 0);
            EXPECT_EQ(db->GetFileName(), nullptr);
            EXPECT_EQ(memory.Live(), a.liveBefore - 1);
            db->SetDelimiter(';');
            EXPECT_EQ(db->LoadFile(nullptr, 0, nullptr), dbErrNoFileName);
          } else {
            EXPECT_EQ(a.result, 1);
            EXPECT_STREQ(db->GetFileName(), own ? "old name" : "a new name");
            EXPECT_EQ(memory.Live(), a.liveBefore);
          }
        });
  }
}

enum class Start { kFresh, kLoaded, kOpenEmpty };

// The file the loaders read below: four lines of up to three fields, the last without a line end.
const char kFile[] = "a;bb;c\nd\n;e;\nlast;x";
const char kFileDump[] = "a|bb|c\nd|<absent>|<absent>\n|e|\nlast|x|<absent>\n";

Step Prepare(Start start, const TempDir& dir) {
  return [start, &dir](TDatenbank* db) {
    dbtest::WriteBytes(dir.File("in.csv"), kFile);
    if (start == Start::kLoaded) {
      ASSERT_EQ(dbtest::LoadBytes(db, dir, "o1;o2;o3\np1;p2;p3\n", ';', "old.csv"), 2);
      ASSERT_EQ(db->LastRecord(), 2);
    } else if (start == Start::kOpenEmpty) {
      db->NewTable(5);
    }
    db->SetFileName(dir.File("in.csv").c_str());
    db->SetDelimiter(';');
  };
}

int LoadOrAppend(TDatenbank* db, bool append, int* fieldCount, DB_BOOL* same) {
  *fieldCount = -99;
  *same = 2;  // not set, and not a value the loaders write
  return append ? db->AppendFile(fieldCount, 0, same) : db->LoadFile(fieldCount, 0, same);
}

// A load that runs out of memory before it built a record leaves the table as its closing step
// left it: closed if it held records, else as it was. Once records were built they are gone again
// and the table may end up closed. With the load's first allocation failing, nothing was built.
bool LeftAsTheClosingStepLeftIt(Start start, const Attempt& a, TDatenbank* db) {
  return start == Start::kOpenEmpty && (a.failed == 1 || db->GetRecordCount() == 0);
}

TEST_P(AllocFailureTest, LoadFile) {
  for (const Start start : {Start::kFresh, Start::kLoaded, Start::kOpenEmpty}) {
    SCOPED_TRACE(static_cast<int>(start));
    int fieldCount = 0;
    DB_BOOL same = 0;
    EveryAllocationFails(
        persistent(), Prepare(start, dir_),
        [&](TDatenbank* db) { return LoadOrAppend(db, false, &fieldCount, &same); },
        [&](TDatenbank* db, const FaultyAllocator& memory, const Attempt& a) {
          EXPECT_EQ(fieldCount, 3);
          EXPECT_EQ(same, 0);
          if (a.failed == 0) {
            EXPECT_EQ(a.result, 4);
            EXPECT_EQ(Dump(db), kFileDump);
            return;
          }
          EXPECT_EQ(a.result, dbErrOutOfMemory);
          const bool open = LeftAsTheClosingStepLeftIt(start, a, db);
          EXPECT_EQ(db->GetRecordCount(), open ? 0 : dbErrNotOpen);
          EXPECT_EQ(db->GetFieldCount(), open ? 3 : dbErrNotOpen);
          EXPECT_EQ(memory.Live(), 2U);  // the object and its file name
        });
  }
}

TEST_P(AllocFailureTest, AppendFile) {
  for (const Start start : {Start::kLoaded, Start::kOpenEmpty}) {
    SCOPED_TRACE(static_cast<int>(start));
    int fieldCount = 0;
    DB_BOOL same = 0;
    const std::string before = start == Start::kLoaded ? "o1|o2|o3\np1|p2|p3\n" : "";
    EveryAllocationFails(
        persistent(), Prepare(start, dir_),
        [&](TDatenbank* db) { return LoadOrAppend(db, true, &fieldCount, &same); },
        [&](TDatenbank* db, const FaultyAllocator& memory, const Attempt& a) {
          EXPECT_EQ(fieldCount, 3);
          EXPECT_EQ(same, 0);
          EXPECT_EQ(db->GetFieldCount(), 3);
          if (a.failed == 0) {
            EXPECT_EQ(a.result, 4);
            EXPECT_EQ(Dump(db), before + kFileDump);
            return;
          }
          // Nothing of the table changes: records, cursor, counts and blocks held.
          EXPECT_EQ(a.result, dbErrOutOfMemory);
          EXPECT_EQ(memory.Live(), a.liveBefore);
          EXPECT_EQ(db->GetRecordIndex(),
                    start == Start::kLoaded ? 2 : static_cast<int>(dbErrNoRecords));
          EXPECT_EQ(db->GetRecordCount(), start == Start::kLoaded ? 2 : 0);
          EXPECT_EQ(Dump(db), before);
        });
  }
}

TEST_P(AllocFailureTest, SetField) {
  for (const int index : {0, 1}) {  // a field with text, an absent one
    SCOPED_TRACE(index);
    EveryAllocationFails(
        persistent(),
        [](TDatenbank* db) {
          db->NewTable(2);
          db->AddRecord();
          db->SetField(0, "old");
        },
        [index](TDatenbank* db) { return db->SetField(index, "new text"); },
        [index](TDatenbank* db, const FaultyAllocator& memory, const Attempt& a) {
          const std::string unchanged = index == 0 ? "old" : "<absent>";
          EXPECT_EQ(a.result, a.failed != 0 ? dbErrOutOfMemory : dbOK);
          EXPECT_EQ(dbtest::Field(db, index), a.failed != 0 ? unchanged : "new text");
          if (a.failed != 0) {
            EXPECT_EQ(memory.Live(), a.liveBefore);
          }
          EXPECT_EQ(db->GetRecordIndex(), 1);
        });
  }
}

TEST_P(AllocFailureTest, AddRecord) {
  EveryAllocationFails(
      persistent(),
      [](TDatenbank* db) {
        db->NewTable(3);
        db->AddRecord();
        db->SetField(2, "first");
        db->AddRecord();
        db->FirstRecord();
      },
      [](TDatenbank* db) { return db->AddRecord(); },
      [](TDatenbank* db, const FaultyAllocator& memory, const Attempt& a) {
        EXPECT_EQ(a.result, a.failed != 0 ? dbErrOutOfMemory : 3);
        EXPECT_EQ(db->GetRecordCount(), a.failed != 0 ? 2 : 3);
        EXPECT_EQ(db->GetRecordIndex(), a.failed != 0 ? 1 : 3);
        if (a.failed != 0) {
          EXPECT_EQ(memory.Live(), a.liveBefore);
        }
        db->FirstRecord();
        EXPECT_EQ(dbtest::Field(db, 2), "first");
      });
}

TEST_P(AllocFailureTest, SaveFileStillWritesEveryByte) {
  std::string expected;
  EveryAllocationFails(
      persistent(),
      [&](TDatenbank* db) {
        dbtest::WriteBytes(dir_.File("out.csv"), "old\r\n");
        db->SetFileName(dir_.File("out.csv").c_str());
        db->SetDelimiter(',');
        db->NewTable(2);
        expected.clear();
        for (int r = 0; r < 300; ++r) {
          const std::string text(static_cast<std::size_t>(r) * 3, 'w');
          db->AddRecord();
          db->SetField(0, text.c_str());
          expected += text + ",\r\n";
        }
        db->FirstRecord();
      },
      [](TDatenbank* db) { return db->SaveFile(); },
      [&](TDatenbank* db, const FaultyAllocator& memory, const Attempt& a) {
        EXPECT_EQ(a.result, 300);
        EXPECT_EQ(dbtest::ReadBytes(dir_.File("out.csv")), expected);
        EXPECT_EQ(dir_.Entries(), std::vector<std::string>{"out.csv"});
        EXPECT_EQ(memory.Live(), a.liveBefore);
        EXPECT_EQ(db->GetRecordIndex(), 1);
      });
}

}  // namespace

namespace {

// Records are packed into chunks of growing size; a line longer than a chunk moves, with what was
// read of it, into a chunk of its own. Every one of those allocations may fail.
TEST_P(AllocFailureTest, LoadingAcrossChunks) {
  const std::string huge((std::size_t{3} << 20) / 2, 'h');  // more than the largest chunk
  for (const bool hugeFirst : {true, false}) {
    SCOPED_TRACE(hugeFirst ? "the long line alone in its chunk" : "the long line after others");
    std::string file = hugeFirst ? "big;" + huge + "\n" : "";
    std::string dump = hugeFirst ? "big|" + huge + "\n" : "";
    for (int r = 0; r < 20000; ++r) {
      file += "r" + std::to_string(r) + ";x\n";
      dump += "r" + std::to_string(r) + "|x\n";
    }
    file += (hugeFirst ? "" : "big;" + huge + "\n") + "last;z";
    dump += (hugeFirst ? "" : "big|" + huge + "\n") + "last|z\n";
    for (const bool append : {false, true}) {
      SCOPED_TRACE(append ? "AppendFile" : "LoadFile");
      EveryAllocationFails(
          persistent(),
          [&](TDatenbank* db) {
            dbtest::WriteBytes(dir_.File("big.csv"), file);
            db->NewTable(2);
            db->SetFileName(dir_.File("big.csv").c_str());
            db->SetDelimiter(';');
          },
          [&](TDatenbank* db) {
            return append ? db->AppendFile(nullptr, 0, nullptr) : db->LoadFile(nullptr, 0, nullptr);
          },
          [&](TDatenbank* db, const FaultyAllocator& memory, const Attempt& a) {
            if (a.failed == 0) {
              EXPECT_EQ(a.result, 20002);
              EXPECT_EQ(Dump(db), dump);
              return;
            }
            EXPECT_EQ(a.result, dbErrOutOfMemory);
            EXPECT_EQ(memory.Live(), 2U);  // the object and its file name: no chunk is left
            // An append keeps the table; a load that built records may close it.
            EXPECT_EQ(
                db->GetRecordCount(),
                append || LeftAsTheClosingStepLeftIt(Start::kOpenEmpty, a, db) ? 0 : dbErrNotOpen);
          });
    }
  }
}

}  // namespace
