// libFuzzer target: arbitrary sequences of all 29 operations on one table object, held call by
// call against a model of the table, with an allocator that fails on demand.
//
// Input:
//   bytes 0-1  the allocation attempt to fail, little-endian; 0 fails none. Attempt 1 is the object
//              itself, so 1 makes the factory fail.
//   byte 2     bit 0: the failure is persistent (that attempt and every later one fails).
//   byte 3     the loaders' read block size (ReadBlockSizeFor in fuzz_support.h).
//   then       operations: an opcode byte (its value modulo 32) and the argument bytes it reads;
//              bytes past the end read as 0. Opcodes 0 to 28 call the slot of that number;
//              29 writes a file, 30 takes or drops a lock on a file, 31 compares the whole table
//              with the model (see the Op functions). At most kMaxOperations operations run.
//
// After every call: the record-list invariants hold; the result is one the operation documents
// (dbtest::AllowedFor); it is exactly the model's; flag results are 0 or 1; the record count,
// field count, cursor, delimiter and file name agree with the model. An allocation that fails
// inside a call must make that call report it (dbErrOutOfMemory, or false from SetFileName) and
// leave the state the documentation gives. At the end the table is closed and its file name
// released, and nothing but the object's own block may be left allocated, nor any file but the ones
// set up.
//
// The files the operations name live in the process's scratch directory: a.csv, b.csv and
// empty.csv exist with known content at the start of every input, missing.csv does not; the
// directory itself, the directory with a trailing slash, a file in a directory that does not exist,
// the empty name, a null pointer and the object's own stored name complete the choice.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/format_model.h"
#include "fuzz/fuzz_support.h"
#include "platform/file_system.h"
#include "table/datenbank_table.h"
#include "tests/support/allowed_results.h"
#include "tests/support/faulty_allocator.h"

namespace {

constexpr int kMaxOperations = 512;
// Appending a saved table to itself doubles it; the harness does not let a table grow past this
// many entries (records x fields), so that every input stays fast and small. An operation that
// would pass it is skipped, not called.
constexpr std::int64_t kMaxCells = 16384;

std::int64_t Cells(std::int64_t records, int fieldCount) {
  return records * (fieldCount > 1 ? fieldCount : 1);
}

// ---- The documented results of every slot ----------------------------------------------------

// Slot 0 returns a pointer and slot 4 a character; both are checked against the model only.
const char* NameOf(int slot) {
  return dbtest::AllowedFor(slot).name;
}

// DATENBANK_FUZZ_TRACE=1 prints every call and its result, to follow a reproducer.
bool Tracing() {
  static const bool tracing = [] {
    const char* value = std::getenv("DATENBANK_FUZZ_TRACE");
    return value != nullptr && value[0] == '1';
  }();
  return tracing;
}

void CheckAllowed(int slot, int result) {
  if (Tracing()) {
    (void)std::fprintf(stderr, "  %-20s -> %d\n", NameOf(slot), result);
  }
  FUZZ_CHECK(dbtest::Documented(slot, result), "%s returned %d, which it does not document",
             NameOf(slot), result);
}

// Message lengths of the codes 0 to -15, in Windows-1252 bytes without the NUL.
constexpr std::size_t kMessageLengths[16] = {31, 19, 42, 54, 31, 91, 37,  81,
                                             80, 35, 77, 36, 40, 47, 158, 52};
constexpr char kModuleName[] = "Ovelt Datenbank";
constexpr char kVersionText[] = "Beta-Version!";
constexpr std::size_t kDescriptionLength = 111;

// ---- Input ------------------------------------------------------------------------------------

class TInput {
 public:
  TInput(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}
  bool Done() const { return FPos >= FSize; }
  unsigned char Byte() { return FPos < FSize ? FData[FPos++] : 0; }
  std::string Bytes(std::size_t count) {
    std::string bytes;
    for (std::size_t i = 0; i < count && FPos < FSize; ++i) {
      bytes += static_cast<char>(FData[FPos++]);
    }
    return bytes;
  }

 private:
  const std::uint8_t* FData;
  std::size_t FSize;
  std::size_t FPos = 0;
};

// A flag byte: 0, 1 or 2, or the raw byte (any value; only 1 counts as set).
DB_BOOL FlagFor(unsigned char b) {
  const unsigned pick = b % 4U;
  return pick < 3 ? static_cast<DB_BOOL>(pick) : b;
}

// ---- Files ------------------------------------------------------------------------------------

constexpr int kFileCount = 4;  // a.csv, b.csv, empty.csv, missing.csv
constexpr int kDirectory = 4;
constexpr int kDirectorySlash = 5;
constexpr int kMissingDirectory = 6;
constexpr int kEmptyName = 7;
constexpr int kNullName = 8;
constexpr int kOwnName = 9;
constexpr int kNameChoices = 10;

const char* const kFileNames[kFileCount] = {"a.csv", "b.csv", "empty.csv", "missing.csv"};
const char* const kInitialContent[kFileCount] = {"a;b;c\r\nd;;f\r\ng;h;i\r\n",
                                                 "x,y;1\n\"q;r\",z\n\nlast;", "", nullptr};

struct TFileSlot {
  std::string path;
  std::optional<std::string> content;  // none: the file does not exist
  int lockFd = -1;                     // a descriptor holding an exclusive flock, or -1
};

// ---- The model --------------------------------------------------------------------------------

struct TModel {
  bool open = false;
  int fieldCount = 0;
  std::vector<TModelRecord> records;
  int current = -1;   // 0-based; -1: no current record
  int nameKind = -1;  // a name choice below kNullName; -1: no name stored
  char delimiter = '\0';
  bool delimiterSet = false;
};

class TOpsRun {
 public:
  TOpsRun(dbtest::FaultyAllocator& allocator, TDatenbank* db) : FAllocator(allocator), FDb(db) {
    const std::string& dir = ScratchDirectory();
    FDir = dir;
    for (int i = 0; i < kFileCount; ++i) {
      TFileSlot& slot = FFiles[i];
      slot.path = dir + "/" + kFileNames[i];
      if (kInitialContent[i] != nullptr) {
        const std::string initial = kInitialContent[i];
        WriteWholeFile(slot.path, initial.data(), initial.size());
        slot.content = initial;
      } else {
        RemoveFile(slot.path);
      }
    }
  }

  void Run(TInput& in) {
    for (int count = 0; count < kMaxOperations && !in.Done(); ++count) {
      const unsigned op = in.Byte() % 32U;
      if (Tracing()) {
        (void)std::fprintf(stderr, "opcode %u\n", op);
      }
      const std::uint64_t failuresBefore = FAllocator.Failures();
      Dispatch(op, in, failuresBefore);
      CheckState(op);
    }
    OpVerify();
  }

  // Closes the table, releases the name and the locks, and checks what is left.
  void Finish() {
    FUZZ_CHECK(FDb->CloseTable() == 1, "CloseTable did not answer 1");
    FUZZ_CHECK(FDb->FreeFileName() == 1, "FreeFileName did not answer 1");
    const char* broken = FDb->CheckInvariants();
    FUZZ_CHECK(broken == nullptr, "after the final CloseTable: %s", broken);
    for (TFileSlot& slot : FFiles) {
      if (slot.lockFd >= 0) {
        close(slot.lockFd);
        slot.lockFd = -1;
      }
    }
    FUZZ_CHECK(FAllocator.Live() == 1,
               "%llu blocks live after CloseTable and FreeFileName; only the object may be",
               static_cast<unsigned long long>(FAllocator.Live()));
    std::string expected;
    for (int i = 0; i < kFileCount; ++i) {
      if (FFiles[i].content) {
        expected += expected.empty() ? kFileNames[i] : std::string(" ") + kFileNames[i];
      }
    }
    const std::string listing = ListDirectory(FDir);
    FUZZ_CHECK(listing == expected, "the directory holds \"%s\", expected \"%s\"", listing.c_str(),
               expected.c_str());
  }

 private:
  bool FailedSince(std::uint64_t before) const { return FAllocator.Failures() > before; }

  void Dispatch(unsigned op, TInput& in, std::uint64_t before) {
    switch (op) {
      case 0:
        OpGetFileName();
        break;
      case 1:
        OpSetFileName(in, before);
        break;
      case 2:
        OpFreeFileName();
        break;
      case 3:
        OpSetDelimiter(in);
        break;
      case 4:
        OpGetDelimiter();
        break;
      case 5:
        OpGetVersion(in);
        break;
      case 6:
        Check(6, FDb->GetVersionTextLength(), 13);
        break;
      case 7:
        OpGetVersionText(in);
        break;
      case 8:
        OpLoad(in, before, false);
        break;
      case 9:
        OpLoad(in, before, true);
        break;
      case 10:
        OpCloseTable();
        break;
      case 11:
        OpGetField(in);
        break;
      case 12:
        OpGetErrorText(in);
        break;
      case 13:
      case 14:
      case 15:
      case 16:
        OpMove(static_cast<int>(op));
        break;
      case 17:
        Check(17, FDb->GetFieldCount(), FModel.open ? FModel.fieldCount : dbErrNotOpen);
        break;
      case 18:
        Check(18, FDb->GetRecordIndex(), ExpectedIndex());
        break;
      case 19:
        Check(19, FDb->GetRecordCount(), ExpectedCount());
        break;
      case 20:
      case 21:
      case 22:
      case 23:
        OpInfoText(op, in);
        break;
      case 24:
        OpSetField(in, before);
        break;
      case 25:
        OpSaveFile(before);
        break;
      case 26:
        OpDeleteRecord();
        break;
      case 27:
        OpAddRecord(before);
        break;
      case 28:
        OpNewTable(in);
        break;
      case 29:
        OpPutFile(in);
        break;
      case 30:
        OpToggleLock(in);
        break;
      default:
        OpVerify();
        break;
    }
  }

  // The result against the documentation and then against the model.
  static void Check(int slot, int result, int expected) {
    CheckAllowed(slot, result);
    FUZZ_CHECK(result == expected, "%s returned %d, the model says %d", NameOf(slot), result,
               expected);
  }

  int ExpectedCount() const {
    return FModel.open ? static_cast<int>(FModel.records.size()) : dbErrNotOpen;
  }
  int ExpectedIndex() const {
    if (!FModel.open) {
      return dbErrNotOpen;
    }
    if (FModel.records.empty()) {
      return dbErrNoRecords;
    }
    return FModel.current < 0 ? dbErrNoRecordSelected : FModel.current + 1;
  }
  // The checks that open the record operations: -15, -10, -9; dbOK when all pass.
  int RecordCheck() const {
    const int index = ExpectedIndex();
    return index < 0 ? index : dbOK;
  }

  std::string PathOf(int kind) const {
    if (kind < kFileCount) {
      return FFiles[kind].path;
    }
    switch (kind) {
      case kDirectory:
        return FDir;
      case kDirectorySlash:
        return FDir + "/";
      case kMissingDirectory:
        return FDir + "/sub/x.csv";
      default:
        return "";
    }
  }

  // After every operation: the invariants, and the state the queries report against the model.
  void CheckState(unsigned op) {
    const char* broken = FDb->CheckInvariants();
    FUZZ_CHECK(broken == nullptr, "after opcode %u: %s", op, broken);
    FUZZ_CHECK(FAllocator.BadReleases() == 0,
               "after opcode %u: a release matched no block handed out (kind or size)", op);
    FUZZ_CHECK(FDb->GetRecordCount() == ExpectedCount(),
               "after opcode %u: GetRecordCount %d, the model says %d", op, FDb->GetRecordCount(),
               ExpectedCount());
    const int fields = FModel.open ? FModel.fieldCount : dbErrNotOpen;
    FUZZ_CHECK(FDb->GetFieldCount() == fields,
               "after opcode %u: GetFieldCount %d, the model says %d", op, FDb->GetFieldCount(),
               fields);
    FUZZ_CHECK(FDb->GetRecordIndex() == ExpectedIndex(),
               "after opcode %u: GetRecordIndex %d, the model says %d", op, FDb->GetRecordIndex(),
               ExpectedIndex());
    FUZZ_CHECK(FDb->GetDelimiter() == FModel.delimiter, "after opcode %u: the delimiter changed",
               op);
    const char* name = FDb->GetFileName();
    if (FModel.nameKind < 0) {
      FUZZ_CHECK(name == nullptr, "after opcode %u: a file name is stored", op);
    } else {
      FUZZ_CHECK(name != nullptr && PathOf(FModel.nameKind) == name,
                 "after opcode %u: the stored name is %s, the model says %s", op,
                 name == nullptr ? "(none)" : name, PathOf(FModel.nameKind).c_str());
    }
  }

  // ---- Slots 0 to 7: settings and module information -----------------------------------------

  void OpGetFileName() {
    const char* name = FDb->GetFileName();
    FUZZ_CHECK((name == nullptr) == (FModel.nameKind < 0), "GetFileName: %s",
               name == nullptr ? "null with a name stored" : "a name with none stored");
  }

  // Argument: the name choice (modulo kNameChoices).
  void OpSetFileName(TInput& in, std::uint64_t before) {
    const int kind = in.Byte() % kNameChoices;
    std::string path;
    const char* argument = nullptr;
    int newKind = -1;
    if (kind == kOwnName) {
      argument = FDb->GetFileName();  // the object's own copy, released by the call itself
      newKind = FModel.nameKind;
    } else if (kind != kNullName) {
      path = PathOf(kind);
      argument = path.c_str();
      newKind = kind;
    }
    const DB_BOOL result = FDb->SetFileName(argument);
    const bool failed = FailedSince(before);
    const int expected = argument != nullptr && !failed ? 1 : 0;
    Check(1, result, expected);
    FModel.nameKind = expected == 1 ? newKind : -1;
  }

  void OpFreeFileName() {
    Check(2, FDb->FreeFileName(), 1);
    FModel.nameKind = -1;
  }

  // Argument: the delimiter choice; 7 takes the next byte as it is.
  void OpSetDelimiter(TInput& in) {
    static constexpr char kDelimiters[] = {';', ',', '\t', '\n', '\r', '\0', '"'};
    const unsigned pick = in.Byte() % 8U;
    const char delimiter = pick < 7 ? kDelimiters[pick] : static_cast<char>(in.Byte());
    Check(3, FDb->SetDelimiter(delimiter), 1);
    FModel.delimiter = delimiter;
    FModel.delimiterSet = true;
  }

  void OpGetDelimiter() {
    const char delimiter = FDb->GetDelimiter();
    FUZZ_CHECK(delimiter == FModel.delimiter, "GetDelimiter returned %d, the model says %d",
               delimiter, FModel.delimiter);
  }

  // Argument: bit 0 a null major, bit 1 a null minor.
  void OpGetVersion(TInput& in) {
    const unsigned pick = in.Byte();
    int major = -7;
    int minor = -7;
    Check(5,
          FDb->GetVersion((pick & 1U) != 0 ? nullptr : &major, (pick & 2U) != 0 ? nullptr : &minor),
          1);
    FUZZ_CHECK(major == ((pick & 1U) != 0 ? -7 : 1) && minor == ((pick & 2U) != 0 ? -7 : 1),
               "GetVersion wrote %d.%d", major, minor);
  }

  // Argument: bit 0 a null buffer. The buffer is exactly the 14 bytes the text needs.
  void OpGetVersionText(TInput& in) {
    if ((in.Byte() & 1U) != 0) {
      Check(7, FDb->GetVersionText(nullptr), 1);
      return;
    }
    auto buffer = std::make_unique<char[]>(sizeof(kVersionText));
    Check(7, FDb->GetVersionText(buffer.get()), 1);
    FUZZ_CHECK(std::memcmp(buffer.get(), kVersionText, sizeof(kVersionText)) == 0,
               "GetVersionText wrote another text");
  }

  // ---- Slots 8 and 9: the loaders --------------------------------------------------------------

  // Arguments: a byte of pointer choices (bit 0 a null fieldCount, bit 1 a null sameFieldCount,
  // bits 2-3 the expected count: the file's, one more, 0, -1), the checkFieldCount byte and the
  // *sameFieldCount byte on entry (FlagFor).
  void OpLoad(TInput& in, std::uint64_t before, bool append) {
    const unsigned pick = in.Byte();
    const DB_BOOL check = FlagFor(in.Byte());
    const DB_BOOL sameEntry = FlagFor(in.Byte());
    const bool nullCount = (pick & 1U) != 0;
    const bool nullSame = (pick & 2U) != 0;
    const int slot = append ? 9 : 8;

    // What the named file reads as, when it is a file that exists.
    const int kind = FModel.nameKind;
    const bool isFile = kind >= 0 && kind < kFileCount && FFiles[kind].content.has_value();
    if (isFile) {
      const TModelFile measured = MeasureModel(*FFiles[kind].content, FModel.delimiter);
      const std::int64_t kept =
          append ? Cells(static_cast<std::int64_t>(FModel.records.size()), FModel.fieldCount) : 0;
      if (kept + Cells(measured.lineCount, measured.maxFieldCount) > kMaxCells) {
        return;
      }
    }
    const TModelFile file =
        isFile ? ReadModel(*FFiles[kind].content, FModel.delimiter) : TModelFile{};
    const int countChoices[] = {file.maxFieldCount, file.maxFieldCount + 1, 0, -1};
    const int countEntry = countChoices[(pick >> 2U) & 3U];

    int fieldCount = countEntry;
    DB_BOOL same = sameEntry;
    const int result =
        append
            ? FDb->AppendFile(nullCount ? nullptr : &fieldCount, check, nullSame ? nullptr : &same)
            : FDb->LoadFile(nullCount ? nullptr : &fieldCount, check, nullSame ? nullptr : &same);
    CheckAllowed(slot, result);
    const bool failed = FailedSince(before);

    // The expected outcome, step by step; out-parameters as they must be written.
    int expectedCount = countEntry;
    DB_BOOL expectedSame = sameEntry;
    const int expected = ExpectLoad(append, kind, isFile, file, nullCount, countEntry, check,
                                    nullSame, sameEntry, failed, &expectedCount, &expectedSame);
    FUZZ_CHECK(result == expected, "%s returned %d, the model says %d", NameOf(slot), result,
               expected);
    FUZZ_CHECK(nullCount || fieldCount == expectedCount,
               "%s wrote %d to *fieldCount, the model says %d", NameOf(slot), fieldCount,
               expectedCount);
    FUZZ_CHECK(nullSame || same == expectedSame,
               "%s wrote %d to *sameFieldCount, the model says %d", NameOf(slot), same,
               expectedSame);
  }

  // The model's half of OpLoad: returns the expected result, updates the model and the expected
  // out-parameters. Where the documentation leaves two outcomes open (whether a load that ran out
  // of memory leaves an empty table open) the module is asked which one it took.
  int ExpectLoad(bool append, int kind, bool isFile, const TModelFile& file, bool nullCount,
                 int countEntry, DB_BOOL check, bool nullSame, DB_BOOL sameEntry, bool failed,
                 int* count, DB_BOOL* same) {
    if (append && !FModel.open) {
      return dbErrNotOpen;
    }
    if (kind < 0 || kind == kEmptyName) {
      return dbErrNoFileName;
    }
    if (!isFile) {
      return dbErrFileNotFound;
    }
    if (!FModel.delimiterSet) {
      return dbErrNoDelimiter;
    }
    if (!append && !FModel.records.empty()) {
      CloseModel();  // a load first releases the table it replaces
    }
    const bool openAfterClosing = FModel.open;
    if (FFiles[kind].lockFd >= 0) {
      return dbErrFileAccess;
    }
    if (file.empty) {
      return 0;
    }
    const bool hasRecords = append && !FModel.records.empty();
    if (!hasRecords) {
      FModel.fieldCount = file.maxFieldCount;
    }
    const bool expectedOk = check != 1 || (!nullCount && countEntry == file.maxFieldCount);
    *count = file.maxFieldCount;
    if (!expectedOk || (hasRecords && FModel.fieldCount != file.maxFieldCount)) {
      return dbErrFieldCount;
    }
    if (!nullSame && sameEntry == 1 && !file.consistent) {
      *same = 0;
      return dbErrIntegrity;
    }
    *same = file.consistent ? 1 : 0;
    if (failed) {
      if (!append) {
        // No records either way. Running out before any record was built leaves an open, empty
        // table open; later the table is closed like any table that held records.
        const int left = FDb->GetRecordCount();
        FUZZ_CHECK(left == dbErrNotOpen || (openAfterClosing && left == 0),
                   "LoadFile out of memory left the record count at %d (open before: %d)", left,
                   openAfterClosing ? 1 : 0);
        FModel.open = left == 0;
        FModel.records.clear();
        FModel.current = -1;
      }
      // AppendFile leaves the table as it was (but for the field count of one without records).
      return dbErrOutOfMemory;
    }
    if (!append) {
      FModel.records.clear();
    }
    FModel.records.insert(FModel.records.end(), file.records.begin(), file.records.end());
    FModel.open = true;
    FModel.current = -1;
    return file.lineCount;
  }

  void CloseModel() {
    FModel.open = false;
    FModel.records.clear();
    FModel.current = -1;
  }

  // ---- Slots 10 to 23: closing, fields, messages, cursor ----------------------------------------

  void OpCloseTable() {
    Check(10, FDb->CloseTable(), 1);
    if (FModel.open && !FModel.records.empty()) {
      CloseModel();
    }
  }

  int FieldIndexFor(unsigned char b) const {
    switch (b % 16U) {
      case 0:
        return -1;
      case 1:
        return INT_MIN;
      case 2:
        return INT_MAX;
      case 3:
        return FModel.fieldCount;
      case 4:  // the last field; NewTable may have stored INT_MIN
        return FModel.fieldCount == INT_MIN ? INT_MIN : FModel.fieldCount - 1;
      default:
        return static_cast<int>(b % 16U) - 5;
    }
  }

  // The current record's field index, when the checks let a call reach it.
  const TModelField* ModelField(int index) const {
    if (RecordCheck() != dbOK || index < 0 || index >= FModel.fieldCount) {
      return nullptr;
    }
    return &FModel
                .records[static_cast<std::size_t>(FModel.current)][static_cast<std::size_t>(index)];
  }

  // A text-out buffer of exactly size bytes filled with kFiller (AddressSanitizer stops any write
  // past it), or none for a null buffer.
  static std::unique_ptr<char[]> Buffer(std::size_t size, bool null) {
    if (null) {
      return nullptr;
    }
    auto buffer = std::make_unique<char[]>(size);
    std::memset(buffer.get(), kFiller, size);
    return buffer;
  }

  // The buffer size a byte picks for a text of length n: 0, 1, 2, n, n + 1, n + 2, 159, or a null
  // buffer (returned as size 0 with *null set; the call is told 64).
  static std::size_t SizeFor(unsigned char b, std::size_t n, bool* null) {
    *null = false;
    switch (b % 8U) {
      case 0:
        return 0;
      case 1:
        return 1;
      case 2:
        return 2;
      case 3:
        return n;
      case 4:
        return n + 1;
      case 5:
        return n + 2;
      case 6:
        return DB_MESSAGE_BUFFER_SIZE;
      default:
        *null = true;
        return 0;
    }
  }

  // Arguments: the field index (FieldIndexFor) and the buffer size (SizeFor).
  void OpGetField(TInput& in) {
    const int index = FieldIndexFor(in.Byte());
    const TModelField* field = ModelField(index);
    const std::size_t n = field != nullptr && *field ? (*field)->size() : 4;
    bool null = false;
    const std::size_t size = SizeFor(in.Byte(), n, &null);
    auto buffer = Buffer(size, null);
    const int result = FDb->GetField(index, buffer.get(), null ? 64U : static_cast<unsigned>(size));
    CheckAllowed(11, result);
    int code = RecordCheck();
    if (code == dbOK && field == nullptr) {
      code = dbErrNoSuchField;
    } else if (code == dbOK && !*field) {
      code = dbErrFieldEmpty;
    }
    const bool text = code == dbOK;
    CheckTextOut({"GetField", FModel.current + 1, index}, buffer.get(), size, result, code,
                 text ? (*field)->c_str() : nullptr, n, true);
  }

  // Arguments: the code (0 to -15, 1, -16, INT_MAX, INT_MIN) and the buffer size (SizeFor).
  void OpGetErrorText(TInput& in) {
    const unsigned pick = in.Byte() % 20U;
    static constexpr int kOutside[] = {1, -16, INT_MAX, INT_MIN};
    const int code = pick < 16 ? -static_cast<int>(pick) : kOutside[pick - 16];
    const bool known = pick < 16;
    const std::size_t n = known ? kMessageLengths[pick] : 0;
    bool null = false;
    const std::size_t size = SizeFor(in.Byte(), n, &null);
    auto buffer = Buffer(size, null);
    const int result =
        FDb->GetErrorText(code, buffer.get(), null ? 64U : static_cast<unsigned>(size));
    CheckAllowed(12, result);
    CheckTextOut({"GetErrorText", -1, code}, buffer.get(), size, result, dbErrUnknown,
                 known ? "" : nullptr, n, false);
  }

  // Opcodes 13 to 16: NextRecord, FirstRecord, LastRecord, PriorRecord.
  void OpMove(int slot) {
    int result = 0;
    switch (slot) {
      case 13:
        result = FDb->NextRecord();
        break;
      case 14:
        result = FDb->FirstRecord();
        break;
      case 15:
        result = FDb->LastRecord();
        break;
      default:
        result = FDb->PriorRecord();
        break;
    }
    int expected = 0;
    const int size = static_cast<int>(FModel.records.size());
    if (!FModel.open) {
      expected = dbErrNotOpen;
    } else if (size == 0) {
      expected = dbErrNoRecords;
    } else if (slot == 14 || (slot == 13 && FModel.current < 0)) {
      FModel.current = 0;
      expected = 1;
    } else if (slot == 15 || (slot == 16 && FModel.current < 0)) {
      FModel.current = size - 1;
      expected = size;
    } else if (slot == 13) {
      expected = FModel.current + 1 < size ? ++FModel.current + 1 : dbErrNoSuchRecord;
    } else {
      expected = FModel.current > 0 ? --FModel.current + 1 : dbErrNoSuchRecord;
    }
    Check(slot, result, expected);
  }

  // Opcodes 20 to 23. Argument: the buffer size (SizeFor).
  void OpInfoText(unsigned op, TInput& in) {
    static std::size_t copyrightLength = 0;
    static std::size_t makerLength = 0;
    std::size_t n = 0;
    const char* text = "";
    bool known = false;
    switch (op) {
      case 20:
        n = sizeof(kModuleName) - 1;
        text = kModuleName;
        known = true;
        break;
      case 21:
        if (copyrightLength == 0) {
          copyrightLength = static_cast<std::size_t>(FDb->GetCopyrightText(nullptr, 0));
        }
        n = copyrightLength;
        break;
      case 22:
        if (makerLength == 0) {
          makerLength = static_cast<std::size_t>(FDb->GetMakerText(nullptr, 0));
        }
        n = makerLength;
        break;
      default:
        n = kDescriptionLength;
        break;
    }
    FUZZ_CHECK(n > 0 && n < 1000, "information text %u has %zu bytes", op, n);
    bool null = false;
    const std::size_t size = SizeFor(in.Byte(), n, &null);
    auto buffer = Buffer(size, null);
    const unsigned passed = null ? 64U : static_cast<unsigned>(size);
    int result = 0;
    switch (op) {
      case 20:
        result = FDb->GetModuleName(buffer.get(), passed);
        break;
      case 21:
        result = FDb->GetCopyrightText(buffer.get(), passed);
        break;
      case 22:
        result = FDb->GetMakerText(buffer.get(), passed);
        break;
      default:
        result = FDb->GetDescription(buffer.get(), passed);
        break;
    }
    CheckAllowed(static_cast<int>(op), result);
    CheckTextOut({NameOf(static_cast<int>(op)), -1, -1}, buffer.get(), size, result, 0, text, n,
                 known);
  }

  // ---- Slots 24 to 28: editing, saving, new table -----------------------------------------------

  // Arguments: the field index (FieldIndexFor); a byte whose value modulo 8 is 7 for a null text,
  // else a length byte and that many bytes of text (cut at a NUL, as the module reads it).
  void OpSetField(TInput& in, std::uint64_t before) {
    const int index = FieldIndexFor(in.Byte());
    const bool null = in.Byte() % 8U == 7;
    std::string text;
    if (!null) {
      text = in.Bytes(in.Byte());
    }
    const int result = FDb->SetField(index, null ? nullptr : text.c_str());
    const bool failed = FailedSince(before);
    int expected = RecordCheck();
    const TModelField* field = ModelField(index);
    if (expected == dbOK && field == nullptr) {
      expected = dbErrNoSuchField;
    } else if (expected == dbOK && null) {
      expected = dbErrUnknown;
    } else if (expected == dbOK && failed) {
      expected = dbErrOutOfMemory;
    } else if (expected == dbOK) {
      // The module reads the text up to its first NUL.
      FModel.records[static_cast<std::size_t>(FModel.current)][static_cast<std::size_t>(index)] =
          text.substr(0, text.find('\0'));
    }
    Check(24, result, expected);
  }

  void OpSaveFile(std::uint64_t before) {
    const int result = FDb->SaveFile();
    (void)before;  // a save without memory for its buffer writes in small pieces and succeeds
    const int kind = FModel.nameKind;
    int expected = 0;
    if (!FModel.open) {
      expected = dbErrNotOpen;
    } else if (kind < 0 || kind == kEmptyName) {
      expected = dbErrNoFileName;
    } else if (!FModel.delimiterSet) {
      expected = dbErrNoDelimiter;
    } else if (kind >= kFileCount || FFiles[kind].lockFd >= 0) {
      expected = dbErrFileAccess;  // a directory, a missing directory, a file held elsewhere
    } else {
      expected = static_cast<int>(FModel.records.size());
      FFiles[kind].content = WriteModel(FModel.records, FModel.fieldCount, FModel.delimiter);
    }
    Check(25, result, expected);
    for (const TFileSlot& slot : FFiles) {
      if (slot.content) {
        FUZZ_CHECK(ReadWholeFile(slot.path) == *slot.content,
                   "%s does not hold what it should after SaveFile", slot.path.c_str());
      }
    }
  }

  void OpDeleteRecord() {
    const int result = FDb->DeleteRecord();
    int expected = RecordCheck();
    if (expected == dbOK) {
      const auto at = static_cast<std::size_t>(FModel.current);
      FModel.records.erase(FModel.records.begin() + static_cast<std::ptrdiff_t>(at));
      if (FModel.records.empty()) {
        FModel.current = -1;
        expected = 0;
      } else if (at == 0) {
        FModel.current = 0;  // the record that followed is now the first
        expected = 1;
      } else {
        FModel.current = static_cast<int>(at) - 1;  // the record before it
        expected = FModel.current + 1;
      }
    }
    Check(26, result, expected);
  }

  void OpAddRecord(std::uint64_t before) {
    if (Cells(static_cast<std::int64_t>(FModel.records.size()) + 1, FModel.fieldCount) >
        kMaxCells) {
      return;
    }
    const int result = FDb->AddRecord();
    const bool failed = FailedSince(before);
    int expected = 0;
    if (!FModel.open) {
      expected = dbErrNotOpen;
    } else if (FModel.fieldCount < 0 || failed) {
      expected = dbErrOutOfMemory;
    } else {
      FModel.records.emplace_back(static_cast<std::size_t>(FModel.fieldCount));
      FModel.current = static_cast<int>(FModel.records.size()) - 1;
      expected = FModel.current + 1;
    }
    Check(27, result, expected);
  }

  // Argument: the field count, -3 to 12 or INT_MIN.
  void OpNewTable(TInput& in) {
    const unsigned pick = in.Byte() % 17U;
    const int count = pick < 16 ? static_cast<int>(pick) - 3 : INT_MIN;
    Check(28, FDb->NewTable(count), dbOK);
    FModel.open = true;
    FModel.records.clear();
    FModel.current = -1;
    FModel.fieldCount = count;
  }

  // ---- Opcodes 29 to 31: the harness's own -----------------------------------------------------

  // Arguments: the file (modulo 4), a length byte and that many bytes of content.
  void OpPutFile(TInput& in) {
    TFileSlot& slot = FFiles[in.Byte() % kFileCount];
    std::string content = in.Bytes(in.Byte());
    WriteWholeFile(slot.path, content.data(), content.size());
    slot.content = std::move(content);
  }

  // Argument: the file (modulo 4). Holds an exclusive lock on it, as another process using the
  // module would while it reads or saves the file; a second call lets go.
  void OpToggleLock(TInput& in) {
    TFileSlot& slot = FFiles[in.Byte() % kFileCount];
    if (slot.lockFd >= 0) {
      close(slot.lockFd);
      slot.lockFd = -1;
      return;
    }
    if (!slot.content) {
      return;
    }
    const int fd = open(slot.path.c_str(), O_RDONLY | O_CLOEXEC);
    FUZZ_CHECK(fd >= 0, "cannot open %s", slot.path.c_str());
    FUZZ_CHECK(flock(fd, LOCK_EX | LOCK_NB) == 0, "cannot lock %s", slot.path.c_str());
    slot.lockFd = fd;
  }

  // Walks the whole table from the first record and compares every field; the cursor ends on the
  // last record.
  void OpVerify() {
    if (!FModel.open || FModel.records.empty()) {
      return;
    }
    const int size = static_cast<int>(FModel.records.size());
    for (int k = 1; k <= size; ++k) {
      const int moved = k == 1 ? FDb->FirstRecord() : FDb->NextRecord();
      FUZZ_CHECK(moved == k, "walking the table: record %d answered %d", k, moved);
      FModel.current = k - 1;
      const TModelRecord& record = FModel.records[static_cast<std::size_t>(k - 1)];
      for (int i = 0; i < FModel.fieldCount; ++i) {
        const TModelField& field = record[static_cast<std::size_t>(i)];
        const std::size_t n = field ? field->size() : 0;
        auto buffer = Buffer(n + 1, false);
        const int result = FDb->GetField(i, buffer.get(), static_cast<unsigned>(n + 1));
        CheckTextOut({"GetField", k, i}, buffer.get(), n + 1, result, dbErrFieldEmpty,
                     field ? field->c_str() : nullptr, n, true);
      }
    }
    FUZZ_CHECK(FDb->NextRecord() == dbErrNoSuchRecord, "walking the table: no end after %d", size);
  }

  dbtest::FaultyAllocator& FAllocator;
  TDatenbank* FDb;
  std::string FDir;
  TFileSlot FFiles[kFileCount];
  TModel FModel;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TInput in(data, size);
  const unsigned failLow = in.Byte();
  const unsigned failHigh = in.Byte();
  const bool persistent = (in.Byte() & 1U) != 0;
  const std::uint32_t blockSize = ReadBlockSizeFor(in.Byte());

  dbtest::FaultyAllocator allocator;
  allocator.FailAt(failLow | (failHigh << 8U), persistent);
  const TModuleEnv env{&allocator, &PlatformFileSystem(), blockSize};
  auto* db = static_cast<TDatenbank*>(NewTableObject(env));
  if (db == nullptr) {
    FUZZ_CHECK(allocator.Failures() > 0 && allocator.Live() == 0,
               "NewTableObject returned null without a failed allocation, or left a block behind");
    return 0;
  }
  FUZZ_CHECK(allocator.Live() == 1, "NewTableObject holds %llu blocks",
             static_cast<unsigned long long>(allocator.Live()));
  {
    TOpsRun run(allocator, db);
    run.Run(in);
    run.Finish();
  }
  allocator.Release(db);  // the object's own block; the interface never gives it back
  FUZZ_CHECK(allocator.BadReleases() == 0 && allocator.Live() == 0,
             "the object's own block was not taken back");
  return 0;
}
