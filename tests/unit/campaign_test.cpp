// Fault campaigns over whole host sessions. A session of a host ("load, edit, append, save" and
// "new, add 1,000 records, save") runs again and again; each time allocation N, or call N of the
// file layer, fails, once (transient) or from then on (persistent), for N = 1, 2, ... until the
// session runs without a failure. After each run: the call that met the failure answers as
// documented and leaves the table as documented, the invariants hold, every one of the 29
// operations still answers with a documented result, and the object gives back every block.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/allowed_results.h"
#include "tests/support/faulty_allocator.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/forwarding_file_system.h"
#include "tests/support/test_support.h"

namespace {

using dbtest::Dump;
using dbtest::FaultyAllocator;
using dbtest::FaultyFileSystem;
using dbtest::FileOp;
using dbtest::ScopedTable;
using dbtest::TempDir;

// ---- What every operation may answer -----------------------------------------------------------

using dbtest::Slot;
using namespace dbtest::slots;  // the 29 slot names

const char* NameOf(Slot slot) {
  return dbtest::AllowedFor(slot).name;
}

void ExpectAnswer(Slot slot, int result, bool memoryGone) {
  if (!dbtest::Documented(slot, result)) {
    ADD_FAILURE() << NameOf(slot) << " answered " << result << ", which it never documents";
  }
  if (memoryGone && result > dbtest::AllowedFor(slot).withoutMemory) {
    ADD_FAILURE() << NameOf(slot) << " answered " << result
                  << " although no allocation could succeed";
  }
}

// ---- Files of the sessions ---------------------------------------------------------------------

using Rows = std::vector<std::vector<std::string>>;

std::string Saved(const Rows& rows) {
  std::string bytes;
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      bytes += (i > 0 ? ";" : "") + row[i];
    }
    bytes += "\r\n";
  }
  return bytes;
}

// The file a session loads: 50 lines of up to four fields with empty fields, short lines (whose
// trailing fields stay absent) and CR LF line ends; the last line has no line end. bigField > 0
// puts a field of that many bytes into line 7.
std::string LoadedFile(Rows* rows, std::size_t bigField = 0) {
  std::string bytes;
  for (int r = 1; r <= 50; ++r) {
    const std::string n = std::to_string(r);
    std::vector<std::string> fields;
    if (r % 7 == 0) {
      fields = {"r" + n, std::to_string(r * 3)};
    } else if (r % 5 == 0) {
      fields = {"r" + n, "", "x" + n, ""};
    } else {
      fields = {"r" + n, std::string(static_cast<std::size_t>(r % 9), 'm'), "x" + n, "y" + n};
    }
    if (r == 7 && bigField > 0) {
      fields[1] = std::string(bigField, 'B');
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
      bytes += (i > 0 ? ";" : "") + fields[i];
    }
    if (r < 50) {
      bytes += "\r\n";
    }
    fields.resize(4);  // absent and empty fields are saved alike
    rows->push_back(fields);
  }
  return bytes;
}

// The file a session appends: ten lines of four fields.
std::string AppendedFile(Rows* rows) {
  std::string bytes;
  for (int r = 1; r <= 10; ++r) {
    const std::string n = std::to_string(r);
    rows->push_back({"s" + n, "a" + n, "b" + n, "c" + n});
    bytes += Saved({rows->back()});
  }
  return bytes;
}

std::size_t LineEnds(const std::string& bytes) {
  std::size_t count = 0;
  for (std::size_t at = bytes.find("\r\n"); at != std::string::npos;
       at = bytes.find("\r\n", at + 2)) {
    ++count;
  }
  return count;
}

// The platform's file layer without its two durability calls. A durable flush takes milliseconds;
// the allocation campaigns save thousands of times and are about memory, not about the disk (the
// file-fault tests make the real calls).
class NoSyncFiles final : public dbtest::ForwardingFileSystem {
 public:
  bool Flush(TSaveTarget* /*target*/) noexcept override { return true; }
  bool SyncDirectory(TSaveTarget* /*target*/) noexcept override { return true; }
};

// ---- The table as the host sees it -------------------------------------------------------------

// What the host can see of a table, and the blocks it holds.
struct Shot {
  std::size_t live = 0;
  bool named = false;
  int count = 0;
  int index = 0;
  int fields = 0;
  std::vector<std::string> current;  // the current record's fields
  bool hasContent = false;
  std::string content;  // every record; only where the cursor can be put back afterwards
};

Shot Take(TMainDB* db, const FaultyAllocator& memory, bool withContent) {
  Shot s;
  s.live = memory.Live();
  s.named = db->GetFileName() != nullptr;
  s.count = db->GetRecordCount();
  s.index = db->GetRecordIndex();
  s.fields = db->GetFieldCount();
  for (int i = 0; s.index >= 1 && i < s.fields; ++i) {
    s.current.push_back(dbtest::Field(db, i));
  }
  // Records without a current one cannot be walked without making one current.
  if (withContent && (s.index >= 1 || s.count <= 0)) {
    s.hasContent = true;
    s.content = Dump(db);
    if (s.index >= 1) {
      db->FirstRecord();
      for (int i = 1; i < s.index; ++i) {
        db->NextRecord();
      }
    }
  }
  return s;
}

void ExpectSameTable(const Shot& before, const Shot& after) {
  EXPECT_EQ(after.count, before.count);
  EXPECT_EQ(after.index, before.index);
  EXPECT_EQ(after.fields, before.fields);
  EXPECT_EQ(after.current, before.current);
  EXPECT_EQ(after.hasContent, before.hasContent);
  EXPECT_EQ(after.content, before.content);
}

// ---- The allocation campaign -------------------------------------------------------------------

// What a failed allocation inside a call must lead to.
enum class Rule {
  kNone,          // the call allocates nothing
  kNameDropped,   // SetFileName: false, no name is left, the old one's block is gone
  kLoadClosed,    // LoadFile into a fresh object: -7, no table open, nothing held
  kUnchanged,     // -7, and the table and the blocks it holds exactly as before
  kSaveComplete,  // SaveFile: without its buffer it still writes every byte
};

struct Call {
  Slot op;
  std::function<int(TMainDB*)> run;
  int result;  // the answer when nothing fails
  Rule rule;
  std::string path;  // the name SetFileName stores
};

struct Scenario {
  const char* name;
  std::vector<Call> calls;
  const TempDir* dir;
  std::string out;       // the file the session saves
  std::string outBytes;  // what the session's save writes when no failure changed the table
  std::string scratch;   // the file the check of every operation saves and loads
  bool checkEveryCall;   // invariants and whole-table snapshots (small tables only)
};

// What the host knows from the answers it got.
struct Host {
  const char* name = nullptr;
  bool delimiter = false;
  int saved = INT_MIN;  // SaveFile's answer; INT_MIN while not called
};

void Note(Host* host, const Call& call, int result) {
  if (call.op == kSetFileName) {
    host->name = result == 1 ? call.path.c_str() : nullptr;
  } else if (call.op == kSetDelimiter) {
    host->delimiter = true;
  } else if (call.op == kSaveFile) {
    host->saved = result;
  }
}

// Allocation counts of a run in which nothing fails: the call that makes allocation n.
struct Baseline {
  std::uint64_t factory = 0;
  std::vector<std::uint64_t> after;  // allocations made once call i has returned
  static constexpr std::size_t kFactory = static_cast<std::size_t>(-1);

  std::size_t CallOf(std::uint64_t n) const {
    if (n <= factory) {
      return kFactory;
    }
    return static_cast<std::size_t>(std::lower_bound(after.begin(), after.end(), n) -
                                    after.begin());
  }
  std::uint64_t Points() const { return after.empty() ? factory : after.back(); }
};

void ExpectFailureHandled(TMainDB* db, const FaultyAllocator& memory, const Scenario& sc,
                          const Call& call, int result, const Shot& before) {
  SCOPED_TRACE(std::string("failed in ") + NameOf(call.op));
  const Shot after = Take(db, memory, sc.checkEveryCall);
  switch (call.rule) {
    case Rule::kNone:
      ADD_FAILURE() << NameOf(call.op) << " allocated, which it never does";
      return;
    case Rule::kNameDropped:
      EXPECT_EQ(result, 0);
      EXPECT_EQ(db->GetFileName(), nullptr);
      EXPECT_EQ(after.live + (before.named ? 1 : 0), before.live);
      ExpectSameTable(before, after);
      return;
    case Rule::kLoadClosed:
      EXPECT_EQ(result, dbErrOutOfMemory);
      EXPECT_EQ(after.count, dbErrNotOpen);
      EXPECT_EQ(after.live, before.live);
      return;
    case Rule::kUnchanged:
      EXPECT_EQ(result, dbErrOutOfMemory);
      EXPECT_EQ(after.live, before.live);
      ExpectSameTable(before, after);
      return;
    case Rule::kSaveComplete:
      EXPECT_EQ(result, call.result);  // the bytes are compared once the run is over
      EXPECT_EQ(after.live, before.live);
      ExpectSameTable(before, after);
      return;
  }
}

// Calls each of the 29 operations once. The first group reads and moves through the table as the
// session left it; the second builds a table of one record, saves, loads and appends it, which
// succeeds exactly when memory can be had again.
void EveryOperationAnswers(TMainDB* db, const Scenario& sc, const Host& host, bool memoryGone) {
  SCOPED_TRACE("every operation");
  if (host.name == nullptr) {
    EXPECT_EQ(db->GetFileName(), nullptr);
  } else {
    EXPECT_STREQ(db->GetFileName(), host.name);
  }
  EXPECT_EQ(db->GetDelimiter(), host.delimiter ? ';' : '\0');
  int major = 0;
  int minor = 0;
  EXPECT_EQ(db->GetVersion(&major, &minor), 1);
  EXPECT_EQ(major * 100 + minor, 101);
  EXPECT_EQ(db->GetVersionTextLength(), 13);
  char text[DB_MESSAGE_BUFFER_SIZE + 64] = {};
  EXPECT_EQ(db->GetVersionText(text), 1);
  EXPECT_STREQ(text, "Beta-Version!");
  EXPECT_EQ(db->GetErrorText(dbErrOutOfMemory, text, sizeof(text)), 0);
  EXPECT_EQ(std::strlen(text), 81U);
  EXPECT_EQ(db->GetModuleName(text, sizeof(text)), 0);
  EXPECT_STREQ(text, "Ovelt Datenbank");
  EXPECT_EQ(db->GetCopyrightText(text, sizeof(text)), 0);
  EXPECT_GT(std::strlen(text), 0U);
  EXPECT_EQ(db->GetMakerText(text, sizeof(text)), 0);
  EXPECT_GT(std::strlen(text), 0U);
  EXPECT_EQ(db->GetDescription(text, sizeof(text)), 0);
  EXPECT_EQ(std::strlen(text), 111U);
  ExpectAnswer(kGetFieldCount, db->GetFieldCount(), memoryGone);
  ExpectAnswer(kGetRecordCount, db->GetRecordCount(), memoryGone);
  ExpectAnswer(kGetRecordIndex, db->GetRecordIndex(), memoryGone);
  ExpectAnswer(kGetField, db->GetField(0, text, sizeof(text)), memoryGone);
  ExpectAnswer(kLastRecord, db->LastRecord(), memoryGone);
  ExpectAnswer(kPriorRecord, db->PriorRecord(), memoryGone);
  ExpectAnswer(kFirstRecord, db->FirstRecord(), memoryGone);
  ExpectAnswer(kNextRecord, db->NextRecord(), memoryGone);
  ExpectAnswer(kDeleteRecord, db->DeleteRecord(), memoryGone);
  EXPECT_INVARIANTS(static_cast<TDatenbank*>(db));

  EXPECT_EQ(db->NewTable(2), dbOK);
  EXPECT_EQ(db->AddRecord(), memoryGone ? dbErrOutOfMemory : 1);
  EXPECT_EQ(db->SetField(1, "sweep"), memoryGone ? dbErrNoRecords : dbOK);
  EXPECT_EQ(db->SetDelimiter(';'), 1);
  EXPECT_EQ(db->SetFileName(sc.scratch.c_str()), memoryGone ? 0 : 1);
  EXPECT_EQ(db->SaveFile(), memoryGone ? dbErrNoFileName : 1);
  int fieldCount = -99;
  DB_BOOL same = 7;
  EXPECT_EQ(db->LoadFile(&fieldCount, 0, &same), memoryGone ? dbErrNoFileName : 1);
  EXPECT_EQ(db->AppendFile(&fieldCount, 0, &same), memoryGone ? dbErrNoFileName : 1);
  EXPECT_EQ(fieldCount, memoryGone ? -99 : 2);
  EXPECT_EQ(same, memoryGone ? 7 : 1);
  EXPECT_EQ(Dump(db), memoryGone ? "" : "|sweep\n|sweep\n");
  EXPECT_EQ(db->CloseTable(), 1);
  EXPECT_EQ(db->FreeFileName(), 1);
  EXPECT_EQ(db->GetFileName(), nullptr);
  EXPECT_INVARIANTS(static_cast<TDatenbank*>(db));
}

// Runs the session with allocation n failing (n = 0: none fails). Fills record, when given, with
// the allocation counts. Returns whether an allocation was failed.
bool RunSession(const Scenario& sc, const Baseline* base, std::uint64_t n, bool persistent,
                Baseline* record) {
  SCOPED_TRACE(std::string(sc.name) + ", allocation " + std::to_string(n) +
               (persistent ? " and every later one" : " alone"));
  std::error_code ignored;
  std::filesystem::remove(sc.out, ignored);
  std::filesystem::remove(sc.scratch, ignored);
  FaultyAllocator memory;
  NoSyncFiles files;
  memory.FailAt(n, persistent);
  bool injected = false;
  {
    ScopedTable db(dbtest::MakeEnv(&memory, &files));
    if (record != nullptr) {
      record->factory = memory.Attempts();
    }
    if (db.get() == nullptr) {
      // The factory's one allocation failed: the host has no object and nothing is held.
      EXPECT_GT(memory.Failures(), 0U);
      EXPECT_TRUE(base != nullptr && base->CallOf(n) == Baseline::kFactory);
      EXPECT_EQ(memory.Live(), 0U);
      return true;
    }
    Host host;
    bool failed = false;
    bool cleanSave = true;  // no failure changed what the save writes
    const std::size_t predicted = base != nullptr ? base->CallOf(n) : Baseline::kFactory;
    for (std::size_t i = 0; i < sc.calls.size(); ++i) {
      const Call& call = sc.calls[i];
      Shot before;
      if (!failed && i == predicted) {
        before = Take(db.get(), memory, sc.checkEveryCall);
      }
      const std::uint64_t failuresBefore = memory.Failures();
      const int result = call.run(db.get());
      if (record != nullptr) {
        record->after.push_back(memory.Attempts());
      }
      const bool hit = memory.Failures() > failuresBefore;
      if (sc.checkEveryCall) {
        EXPECT_INVARIANTS(db.get());
      }
      if (!failed && !hit) {
        if (result != call.result) {
          ADD_FAILURE() << NameOf(call.op) << " (call " << i << ") answered " << result
                        << " instead of " << call.result;
        }
      } else if (!failed) {
        failed = true;
        EXPECT_EQ(i, predicted) << "the failure met another call than in the run without one";
        EXPECT_INVARIANTS(db.get());
        ExpectFailureHandled(db.get(), memory, sc, call, result, before);
        cleanSave = call.rule == Rule::kSaveComplete;
        if (!persistent && call.rule != Rule::kSaveComplete) {
          Note(&host, call, result);
          break;  // the host stops at the first call that failed
        }
      } else {
        ExpectAnswer(call.op, result, true);
      }
      Note(&host, call, result);
    }
    injected = memory.Failures() > 0;
    EXPECT_INVARIANTS(db.get());

    // The session's save left the complete content, or nothing at all.
    if (host.saved >= 0) {
      const std::string bytes = dbtest::ReadBytes(sc.out);
      if (cleanSave) {
        EXPECT_EQ(bytes, sc.outBytes);
      } else {
        EXPECT_EQ(LineEnds(bytes), static_cast<std::size_t>(host.saved));
      }
    } else {
      EXPECT_FALSE(std::filesystem::exists(sc.out));
    }

    // A failure that was not met in the session must not be met by the check below either.
    const bool memoryGone = persistent && injected;
    if (!memoryGone) {
      memory.Heal();
    }
    EveryOperationAnswers(db.get(), sc, host, memoryGone);
    // No temporary file outlives a save.
    for (const std::string& entry : sc.dir->Entries()) {
      EXPECT_TRUE(entry == "in.csv" || entry == "second.csv" || sc.dir->File(entry) == sc.out ||
                  sc.dir->File(entry) == sc.scratch)
          << "left behind: " << entry;
    }
    db->CloseTable();
    db->FreeFileName();
    EXPECT_EQ(memory.Live(), 1U) << "blocks held besides the object";
  }
  EXPECT_EQ(memory.Live(), 0U);
  EXPECT_EQ(memory.BadReleases(), 0U);
  return injected;
}

// Fails every allocation point of the session in turn, alone and from it on, however many the
// session makes: a run without a failure finds them, and the run after the last point must get
// through without one. Every point is taken in both modes: the 1,000-record session runs in about
// 4 s here. The figures are printed and recorded, not asserted.
void AllocationCampaign(const Scenario& sc) {
  Baseline base;
  EXPECT_FALSE(RunSession(sc, nullptr, 0, false, &base));
  const std::uint64_t points = base.Points();
  EXPECT_GT(points, 0U) << "the session allocated nothing";
  if (::testing::Test::HasFailure()) {
    return;
  }
  std::uint64_t runs[2] = {0, 0};  // transient, persistent
  for (const bool persistent : {false, true}) {
    for (std::uint64_t n = 1;; ++n) {
      const bool injected = RunSession(sc, &base, n, persistent, nullptr);
      EXPECT_EQ(injected, n <= points) << "allocation " << n;
      if (!injected || ::testing::Test::HasFailure()) {
        break;
      }
      ++runs[persistent ? 1 : 0];
    }
  }
  std::printf(
      "[ campaign ] %s: %llu allocation points; %llu runs failing one of them, %llu "
      "failing every allocation from one of them on\n",
      sc.name, static_cast<unsigned long long>(points), static_cast<unsigned long long>(runs[0]),
      static_cast<unsigned long long>(runs[1]));
  ::testing::Test::RecordProperty("allocation_points", static_cast<int>(points));
}

Call Plain(Slot op, std::function<int(TMainDB*)> run, int result) {
  return {op, std::move(run), result, Rule::kNone, {}};
}

Call Allocating(Slot op, std::function<int(TMainDB*)> run, int result, Rule rule) {
  return {op, std::move(run), result, rule, {}};
}

Call SetName(const std::string& path) {
  Call call{kSetFileName, nullptr, 1, Rule::kNameDropped, path};
  call.run = [path](TMainDB* db) { return db->SetFileName(path.c_str()); };
  return call;
}

Call SetText(int index, const std::string& text) {
  return Allocating(
      kSetField, [index, text](TMainDB* db) { return db->SetField(index, text.c_str()); }, dbOK,
      Rule::kUnchanged);
}

// The out-parameters of both loaders are written exactly when the count pass got through.
void ExpectMeasured(int result, int fieldCount, DB_BOOL same, int wantCount, DB_BOOL wantSame) {
  const bool measured = result >= 0 || result == dbErrOutOfMemory;
  EXPECT_EQ(fieldCount, measured ? wantCount : -99);
  EXPECT_EQ(same, measured ? wantSame : 7);
}

TEST(CampaignTest, LoadEditAppendSaveFailsEveryAllocation) {
  TempDir dir;
  Rows rows;
  dbtest::WriteBytes(dir.File("in.csv"), LoadedFile(&rows));
  const std::string appended = AppendedFile(&rows);
  dbtest::WriteBytes(dir.File("second.csv"), appended);
  // The edits below, applied to what the files hold.
  rows[4][0] = "eins";
  rows[4][3] = "vier";
  rows[48][1] = "zwei";
  const std::vector<std::string> added = {"neu", "", "neu2", ""};
  rows.insert(rows.begin() + 50, added);
  rows.erase(rows.begin() + 1);

  Scenario sc{"load, edit, append, save", {},  &dir, dir.File("out.csv"), Saved(rows),
              dir.File("scratch.csv"),    true};
  sc.calls = {
      SetName(dir.File("in.csv")),
      Plain(
          kSetDelimiter, [](TMainDB* db) { return db->SetDelimiter(';'); }, 1),
      Allocating(
          kLoadFile,
          [](TMainDB* db) {
            int fieldCount = -99;
            DB_BOOL same = 7;
            const int result = db->LoadFile(&fieldCount, 0, &same);
            ExpectMeasured(result, fieldCount, same, 4, 0);
            return result;
          },
          50, Rule::kLoadClosed),
      Plain(
          kFirstRecord, [](TMainDB* db) { return db->FirstRecord(); }, 1),
      Plain(
          kNextRecord, [](TMainDB* db) { return db->NextRecord(); }, 2),
      Plain(
          kNextRecord, [](TMainDB* db) { return db->NextRecord(); }, 3),
      Plain(
          kNextRecord, [](TMainDB* db) { return db->NextRecord(); }, 4),
      Plain(
          kNextRecord, [](TMainDB* db) { return db->NextRecord(); }, 5),
      SetText(0, "eins"),
      SetText(3, "vier"),  // an absent field
      Plain(
          kLastRecord, [](TMainDB* db) { return db->LastRecord(); }, 50),
      Plain(
          kPriorRecord, [](TMainDB* db) { return db->PriorRecord(); }, 49),
      SetText(1, "zwei"),
      Allocating(
          kAddRecord, [](TMainDB* db) { return db->AddRecord(); }, 51, Rule::kUnchanged),
      SetText(0, "neu"),
      SetText(2, "neu2"),
      Plain(
          kFirstRecord, [](TMainDB* db) { return db->FirstRecord(); }, 1),
      Plain(
          kNextRecord, [](TMainDB* db) { return db->NextRecord(); }, 2),
      Plain(
          kDeleteRecord, [](TMainDB* db) { return db->DeleteRecord(); }, 1),
      SetName(dir.File("second.csv")),
      Allocating(
          kAppendFile,
          [](TMainDB* db) {
            int fieldCount = -99;
            DB_BOOL same = 7;
            const int result = db->AppendFile(&fieldCount, 0, &same);
            ExpectMeasured(result, fieldCount, same, 4, 1);
            return result;
          },
          10, Rule::kUnchanged),
      SetName(dir.File("out.csv")),
      Allocating(
          kSaveFile, [](TMainDB* db) { return db->SaveFile(); }, 60, Rule::kSaveComplete),
  };
  const std::string loaded = dbtest::ReadBytes(dir.File("in.csv"));
  AllocationCampaign(sc);
  // The inputs were only read.
  EXPECT_EQ(dbtest::ReadBytes(dir.File("in.csv")), loaded);
  EXPECT_EQ(dbtest::ReadBytes(dir.File("second.csv")), appended);
}

TEST(CampaignTest, NewTableOfThousandRecordsFailsEveryAllocation) {
  TempDir dir;
  constexpr int kRecords = 1000;
  Scenario sc{"new, add 1,000 records, save", {},   &dir, dir.File("out.csv"), {},
              dir.File("scratch.csv"),        false};
  sc.calls = {
      SetName(sc.out),
      Plain(
          kSetDelimiter, [](TMainDB* db) { return db->SetDelimiter(';'); }, 1),
      Plain(
          kNewTable, [](TMainDB* db) { return db->NewTable(3); }, dbOK),
  };
  for (int r = 1; r <= kRecords; ++r) {
    const std::string first = "r" + std::to_string(r);
    const std::string third = "v" + std::to_string(r * 7);
    sc.calls.push_back(Allocating(
        kAddRecord, [](TMainDB* db) { return db->AddRecord(); }, r, Rule::kUnchanged));
    sc.calls.push_back(SetText(0, first));
    sc.calls.push_back(SetText(2, third));
    sc.outBytes += Saved({{first, "", third}});
  }
  sc.calls.push_back(Allocating(
      kSaveFile, [](TMainDB* db) { return db->SaveFile(); }, kRecords, Rule::kSaveComplete));
  AllocationCampaign(sc);
}

// ---- The file-layer campaign -------------------------------------------------------------------

const char kOldOut[] = "old;content\r\n";

struct FileSetup {
  const char* name;
  std::size_t bigField;  // a field this long in line 7 makes several reads and writes
  std::uint32_t block;
};

using FailedCall = std::pair<FileOp, int>;  // the call, and for a read the pass it was in

// One run of load, edit, append, save with file-layer call n failing (0: none). Adds the call
// that failed to failed. Returns whether a call was failed.
bool RunFileSession(const TempDir& dir, const FileSetup& setup, const std::string& expected,
                    std::uint64_t n, bool persistent, std::set<FailedCall>* failed,
                    FaultyFileSystem* files) {
  SCOPED_TRACE(std::string(setup.name) + ", file-layer call " + std::to_string(n) +
               (persistent ? " and every later one" : " alone"));
  dbtest::WriteBytes(dir.File("out.csv"), kOldOut);
  FaultyAllocator memory;
  bool injected = false;
  {
    ScopedTable db(dbtest::MakeEnv(&memory, files, setup.block));
    if (db.get() == nullptr) {
      ADD_FAILURE() << "no table object";
      return false;
    }
    int fieldCount = -99;
    DB_BOOL same = 7;
    int saved = INT_MIN;
    struct FileCall {
      std::function<int()> run;
      Slot op;
      int result;
    };
    TDatenbank* t = db.get();
    const std::string in = dir.File("in.csv");
    const std::string second = dir.File("second.csv");
    const std::string out = dir.File("out.csv");
    const FileCall calls[] = {
        {[&] { return t->SetFileName(in.c_str()); }, kSetFileName, 1},
        {[&] { return t->SetDelimiter(';'); }, kSetDelimiter, 1},
        {[&] {
           fieldCount = -99;
           same = 7;
           return t->LoadFile(&fieldCount, 0, &same);
         },
         kLoadFile, 50},
        {[&] { return t->FirstRecord(); }, kFirstRecord, 1},
        {[&] { return t->SetField(1, "edit"); }, kSetField, dbOK},
        {[&] { return t->SetFileName(second.c_str()); }, kSetFileName, 1},
        {[&] {
           fieldCount = -99;
           same = 7;
           return t->AppendFile(&fieldCount, 0, &same);
         },
         kAppendFile, 10},
        {[&] { return t->SetFileName(out.c_str()); }, kSetFileName, 1},
        {[&] { return saved = t->SaveFile(); }, kSaveFile, 60},
    };

    files->FailAt(n, persistent);
    for (const FileCall& call : calls) {
      const char* name = NameOf(call.op);
      const bool first = files->Failures() == 0;
      const Shot before = Take(t, memory, true);
      const int result = call.run();
      EXPECT_INVARIANTS(t);
      if (first && files->Failures() == 0) {
        EXPECT_EQ(result, call.result) << name;
        continue;
      }
      if (!first) {
        ExpectAnswer(call.op, result, false);
        continue;
      }
      const FileOp op = files->FirstFailure();
      const int pass = files->FirstFailurePass();
      SCOPED_TRACE(std::string(name) + " met a failed " + dbtest::FileOpName(op));
      failed->emplace(op, op == FileOp::kRead ? pass : 0);
      const bool measured = files->Measured();
      const Shot after = Take(t, memory, true);
      if (call.op == kLoadFile) {
        EXPECT_EQ(result, files->LoaderResult());
        EXPECT_EQ(fieldCount, measured ? 4 : -99);
        EXPECT_EQ(same, measured ? 0 : 7);
        EXPECT_EQ(after.count, dbErrNotOpen);
        EXPECT_EQ(after.live, before.live);
      } else if (call.op == kAppendFile) {
        EXPECT_EQ(result, files->LoaderResult());
        EXPECT_EQ(fieldCount, measured ? 4 : -99);
        EXPECT_EQ(same, measured ? 1 : 7);
        EXPECT_EQ(after.live, before.live);
        ExpectSameTable(before, after);
      } else if (call.op == kSaveFile) {
        EXPECT_EQ(result, files->SaveResult(call.result));
        EXPECT_EQ(after.live, before.live);
        ExpectSameTable(before, after);
      } else {
        ADD_FAILURE() << name << " reached the file layer";
      }
      if (!persistent && result < 0) {
        break;  // the host stops at the first call that failed
      }
    }
    injected = files->Failures() > 0;
    files->Heal();
    EXPECT_EQ(files->OpenFiles(), 0);
    // Only the three files, the target with its old bytes or all of the new ones.
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.csv", "out.csv", "second.csv"}));
    EXPECT_EQ(dbtest::ReadBytes(out), saved >= 0 ? expected : std::string(kOldOut));
    db->CloseTable();
    db->FreeFileName();
    EXPECT_EQ(memory.Live(), 1U) << "blocks held besides the object";
  }
  EXPECT_EQ(memory.Live(), 0U);
  EXPECT_EQ(memory.BadReleases(), 0U);
  return injected;
}

TEST(CampaignTest, FileLayerFailsEveryCallOfLoadAppendSave) {
  const FileSetup setups[] = {
      {"small files", 0, 4000},
      {"a field of 2.5 MB, past the write buffer", 2500000, kReadBlockSize},
  };
  for (const FileSetup& setup : setups) {
    SCOPED_TRACE(setup.name);
    TempDir dir;
    Rows rows;
    dbtest::WriteBytes(dir.File("in.csv"), LoadedFile(&rows, setup.bigField));
    dbtest::WriteBytes(dir.File("second.csv"), AppendedFile(&rows));
    const std::string loaded = dbtest::ReadBytes(dir.File("in.csv"));
    const std::string appended = dbtest::ReadBytes(dir.File("second.csv"));
    rows[0][1] = "edit";
    const std::string expected = Saved(rows);

    NoSyncFiles noSync;
    std::set<FailedCall> failed;
    std::uint64_t points = 0;
    std::string perCall;
    {
      FaultyFileSystem files(noSync);
      ASSERT_FALSE(RunFileSession(dir, setup, expected, 0, false, &failed, &files));
      for (unsigned op = 0; op < static_cast<unsigned>(FileOp::kCount); ++op) {
        const auto fileOp = static_cast<FileOp>(op);
        if ((dbtest::MaskOf(fileOp) & dbtest::kFailableFileOps) != 0 && files.Calls(fileOp) > 0) {
          points += files.Calls(fileOp);
          perCall += std::string(perCall.empty() ? "" : ", ") + dbtest::FileOpName(fileOp) + " " +
                     std::to_string(files.Calls(fileOp));
        }
      }
    }
    for (const bool persistent : {false, true}) {
      std::uint64_t runs = 0;
      for (std::uint64_t n = 1;; ++n) {
        ASSERT_LE(n, points + 1);
        FaultyFileSystem files(noSync);
        if (!RunFileSession(dir, setup, expected, n, persistent, &failed, &files)) {
          break;
        }
        ++runs;
        if (::testing::Test::HasFailure()) {
          return;
        }
      }
      EXPECT_EQ(runs, points);
    }
    const std::set<FailedCall> every = {
        {FileOp::kFileExists, 0}, {FileOp::kOpenForReading, 0},  {FileOp::kGetSize, 0},
        {FileOp::kRead, 0},       {FileOp::kRewind, 0},          {FileOp::kRead, 1},
        {FileOp::kOpenTarget, 0}, {FileOp::kCreateTemporary, 0}, {FileOp::kCopyAttributes, 0},
        {FileOp::kWrite, 0},      {FileOp::kFlush, 0},           {FileOp::kCloseTemporary, 0},
        {FileOp::kReplace, 0},    {FileOp::kSyncDirectory, 0}};
    EXPECT_EQ(failed, every);
    EXPECT_EQ(dbtest::ReadBytes(dir.File("in.csv")), loaded);
    EXPECT_EQ(dbtest::ReadBytes(dir.File("second.csv")), appended);
    std::printf(
        "[ campaign ] file layer, load + append + save, %s: %llu calls (%s), each failed "
        "alone and from it on\n",
        setup.name, static_cast<unsigned long long>(points), perCall.c_str());
    ::testing::Test::RecordProperty(setup.bigField > 0 ? "io_points_large" : "io_points_small",
                                    static_cast<int>(points));
  }
}

}  // namespace
