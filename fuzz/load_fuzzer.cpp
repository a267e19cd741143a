// libFuzzer target: arbitrary bytes loaded as a delimited file, read back field by field, saved,
// and loaded again.
//
// Input: byte 0 is the delimiter; byte 1 picks the read block size of both loads (ReadBlockSizeFor
// in fuzz_support.h, 1 to 4000 bytes, so that lines, fields and CR LF pairs meet block ends
// everywhere); byte 2 chooses the out-parameters of the first load (see FirstLoad); the rest is the
// file.
//
// Checks: the first load gives exactly what the format's rules give for these bytes
// (format_model.h: result, *fieldCount, *sameFieldCount, every field absent or its text); GetField
// obeys the text-out convention for buffers of size 0, 1, the text's length, length + 1, length + 2
// and a null buffer; the record-list invariants hold after every load; the save writes exactly the
// bytes the writer's rules give; the second load gives the records the round trip below says.
//
// The round trip. A loaded field never holds CR, line feed, NUL or the delimiter: CR is dropped,
// a line feed ends the line, NUL cuts the text and a delimiter ends the field. With a delimiter
// other than CR and line feed, a table of n records and F fields (F >= 1 for any file that is not
// empty) is saved as n lines of exactly F - 1 delimiters each, every line ended by CR LF. Loading
// that again gives n records of F fields with all lines alike (*sameFieldCount 1); since every line
// is ended by a line feed every field is stored, so an absent field comes back as the empty text
// and every other field with its text (the CR before the line feed is dropped). With CR or line
// feed as the delimiter the delimiters written are line syntax themselves, nothing round-trips, and
// the second load is held against what the saved bytes read as.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/format_model.h"
#include "fuzz/fuzz_support.h"
#include "platform/file_system.h"
#include "table/datenbank_table.h"
#include "tests/support/faulty_allocator.h"

namespace {

// The table holds lines x fields entries however few of them the file fills, so a file of a few
// kilobytes with one long line asks for hundreds of thousands of them. Inputs whose table would
// pass kBaseCells entries plus two per file byte are skipped: they try the machine's memory, not
// the loader, and would slow the search for everything else a hundredfold.
constexpr std::int64_t kBaseCells = 16384;

// GetField into a buffer whose end is the end of its heap block, so that AddressSanitizer stops any
// write past the size the module was given.
class TFieldReader {
 public:
  explicit TFieldReader(std::size_t longestText)
      : FCapacity(longestText + 2), FBlock(new char[FCapacity]) {}

  // Reads field index of the current record with a buffer size picked by choice and checks result
  // and buffer against expected; then, for a text, reads it whole with an exact buffer.
  void Check(TDatenbank* db, int record, int index, const TModelField& expected, unsigned choice) {
    const std::size_t n = expected ? expected->size() : 0;
    bool useNull = false;
    std::size_t size = 0;
    switch (choice % 6) {
      case 0:
        size = 0;
        break;
      case 1:
        size = 1;
        break;
      case 2:
        size = n;
        break;
      case 3:
        size = n + 1;
        break;
      case 4:
        size = n + 2;
        break;
      default:
        useNull = true;
        break;
    }
    CheckOne(db, record, index, expected, size, useNull);
    if (expected && choice % 6 != 3) {
      CheckOne(db, record, index, expected, n + 1, false);
    }
  }

 private:
  void CheckOne(TDatenbank* db, int record, int index, const TModelField& expected,
                std::size_t size, bool useNull) {
    char* buffer = useNull ? nullptr : FBlock.get() + (FCapacity - size);
    if (buffer != nullptr) {
      std::memset(buffer, kFiller, size);
    }
    const int result = db->GetField(index, buffer, useNull ? 100U : static_cast<unsigned>(size));
    const TCallName call{useNull ? "GetField, null buffer" : "GetField", record, index};
    CheckTextOut(call, buffer, useNull ? 0 : size, result, dbErrFieldEmpty,
                 expected ? expected->c_str() : nullptr, expected ? expected->size() : 0, true);
  }

  std::size_t FCapacity;
  std::unique_ptr<char[]> FBlock;
};

std::size_t LongestText(const std::vector<TModelRecord>& records) {
  std::size_t longest = 0;
  for (const TModelRecord& record : records) {
    for (const TModelField& field : record) {
      if (field && field->size() > longest) {
        longest = field->size();
      }
    }
  }
  return longest;
}

// The results LoadFile documents: a record count (0 for an empty file) or one of its codes.
bool IsLoadResult(int result) {
  switch (result) {
    case dbErrFileNotFound:
    case dbErrFileAccess:
    case dbErrNoFileName:
    case dbErrFieldCount:
    case dbErrNoDelimiter:
    case dbErrOutOfMemory:
    case dbErrIntegrity:
      return true;
    default:
      return result >= 0;
  }
}

void CheckInvariants(TDatenbank* db, const char* after) {
  const char* broken = db->CheckInvariants();
  FUZZ_CHECK(broken == nullptr, "after %s: %s", after, broken);
}

// The open table against the records it must hold: counts, both walks, every field.
void CheckTable(TDatenbank* db, const std::vector<TModelRecord>& records, int fieldCount,
                const char* after) {
  CheckInvariants(db, after);
  const int n = static_cast<int>(records.size());
  FUZZ_CHECK(db->GetRecordCount() == n, "after %s: %d records, expected %d", after,
             db->GetRecordCount(), n);
  FUZZ_CHECK(db->GetFieldCount() == fieldCount, "after %s: %d fields, expected %d", after,
             db->GetFieldCount(), fieldCount);
  FUZZ_CHECK(db->GetRecordIndex() == dbErrNoRecordSelected, "after %s: a current record (%d)",
             after, db->GetRecordIndex());

  TFieldReader reader(LongestText(records));
  unsigned choice = 0;
  for (int k = 1; k <= n; ++k) {
    FUZZ_CHECK(db->NextRecord() == k, "after %s: NextRecord did not reach record %d", after, k);
    const TModelRecord& record = records[static_cast<std::size_t>(k - 1)];
    for (int i = 0; i < fieldCount; ++i) {
      reader.Check(db, k, i, record[static_cast<std::size_t>(i)], choice++);
    }
    FUZZ_CHECK(db->GetField(-1, nullptr, 0) == dbErrNoSuchField, "field -1 exists");
    FUZZ_CHECK(db->GetField(fieldCount, nullptr, 0) == dbErrNoSuchField, "field %d exists",
               fieldCount);
  }
  FUZZ_CHECK(db->NextRecord() == dbErrNoSuchRecord, "after %s: NextRecord passed the last record",
             after);
  FUZZ_CHECK(db->GetRecordIndex() == n, "after %s: the cursor left the last record", after);
  for (int k = n - 1; k >= 1; --k) {
    FUZZ_CHECK(db->PriorRecord() == k, "after %s: PriorRecord did not reach record %d", after, k);
  }
  FUZZ_CHECK(db->PriorRecord() == dbErrNoSuchRecord, "after %s: PriorRecord passed record 1",
             after);
  CheckInvariants(db, after);
}

// The first load, with the out-parameters the option byte picks: bits 0-1 the checkFieldCount byte
// (0, 1, 2, 255: only 1 counts as set), bits 2-3 the expected count (the file's, one more, 0, -1),
// bits 4-5 the *sameFieldCount byte on entry (0, 1, 2, 255), bit 6 a null fieldCount, bit 7 a null
// sameFieldCount. A refusal (dbErrFieldCount, dbErrIntegrity) is checked and the file then loaded
// without checks. Returns the load's result.
int FirstLoad(TDatenbank* db, const TModelFile& model, unsigned char options) {
  static constexpr DB_BOOL kFlags[] = {0, 1, 2, 255};
  const DB_BOOL check = kFlags[options & 3U];
  const int countChoices[] = {model.maxFieldCount, model.maxFieldCount + 1, 0, -1};
  const int expectedCount = countChoices[(options >> 2U) & 3U];
  const DB_BOOL sameEntry = kFlags[(options >> 4U) & 3U];
  const bool nullCount = (options & 0x40U) != 0;
  const bool nullSame = (options & 0x80U) != 0;

  int fieldCount = expectedCount;
  DB_BOOL same = sameEntry;
  const int result =
      db->LoadFile(nullCount ? nullptr : &fieldCount, check, nullSame ? nullptr : &same);
  FUZZ_CHECK(IsLoadResult(result), "LoadFile returned %d, which it does not document", result);

  int expected = model.lineCount;
  int expectedFieldCount = model.maxFieldCount;
  DB_BOOL expectedSame = model.consistent ? 1 : 0;
  if (model.empty) {
    expected = 0;
    expectedFieldCount = expectedCount;
    expectedSame = sameEntry;
  } else if (check == 1 && (nullCount || expectedCount != model.maxFieldCount)) {
    expected = dbErrFieldCount;
    expectedSame = sameEntry;
  } else if (!nullSame && sameEntry == 1 && !model.consistent) {
    expected = dbErrIntegrity;
    expectedSame = 0;
  }
  FUZZ_CHECK(result == expected, "LoadFile gave %d, expected %d (%d lines, %d fields)", result,
             expected, model.lineCount, model.maxFieldCount);
  FUZZ_CHECK(fieldCount == (nullCount ? expectedCount : expectedFieldCount),
             "LoadFile wrote %d to *fieldCount, expected %d", fieldCount, expectedFieldCount);
  FUZZ_CHECK(same == (nullSame ? sameEntry : expectedSame),
             "LoadFile wrote %d to *sameFieldCount, expected %d", same, expectedSame);
  CheckInvariants(db, "the first load");
  if (result == dbErrFieldCount || result == dbErrIntegrity || result == 0) {
    // A new object had no table to keep: it is still not open.
    FUZZ_CHECK(db->GetRecordCount() == dbErrNotOpen, "a refused load left a table open (%d)",
               db->GetRecordCount());
  }
  if (result == dbErrFieldCount || result == dbErrIntegrity) {
    return db->LoadFile(nullptr, 0, nullptr);
  }
  return result;
}

// The records a second load of the saved table gives, when the delimiter lets them round-trip.
std::vector<TModelRecord> RoundTrip(const std::vector<TModelRecord>& records) {
  std::vector<TModelRecord> back = records;
  for (TModelRecord& record : back) {
    for (TModelField& field : record) {
      if (!field) {
        field = std::string();
      }
    }
  }
  return back;
}

std::size_t FirstDifference(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) {
    ++i;
  }
  return i;
}

void Release(dbtest::FaultyAllocator& allocator, TDatenbank* db) {
  FUZZ_CHECK(db->CloseTable() == 1, "CloseTable did not answer 1");
  FUZZ_CHECK(db->FreeFileName() == 1, "FreeFileName did not answer 1");
  CheckInvariants(db, "CloseTable");
  FUZZ_CHECK(allocator.Live() == 1, "%llu blocks live after CloseTable and FreeFileName, not 1",
             static_cast<unsigned long long>(allocator.Live()));
  allocator.Release(db);  // the object's own block; the interface never gives it back
  FUZZ_CHECK(allocator.BadReleases() == 0, "%llu releases matched no block handed out",
             static_cast<unsigned long long>(allocator.BadReleases()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) {
    return 0;
  }
  const char delimiter = static_cast<char>(data[0]);
  const std::uint32_t blockSize = ReadBlockSizeFor(data[1]);
  const unsigned char options = data[2];
  const std::string file(reinterpret_cast<const char*>(data) + 3, size - 3);
  const TModelFile measured = MeasureModel(file, delimiter);
  const auto bytes = static_cast<std::int64_t>(file.size());
  if (std::int64_t{measured.lineCount} * measured.maxFieldCount > kBaseCells + 2 * bytes) {
    return 0;
  }

  const std::string& dir = ScratchDirectory();
  const std::string input = dir + "/in.csv";
  const std::string output = dir + "/out.csv";
  WriteWholeFile(input, file.data(), file.size());
  // The save replaces an existing file, here one that may be longer than the new content.
  WriteWholeFile(output, file.data(), file.size());

  dbtest::FaultyAllocator allocator;
  const TModuleEnv env{&allocator, &PlatformFileSystem(), blockSize};
  auto* db = static_cast<TDatenbank*>(NewTableObject(env));
  FUZZ_CHECK(db != nullptr, "NewTableObject failed");
  FUZZ_CHECK(db->SetFileName(input.c_str()) == 1, "SetFileName failed");
  FUZZ_CHECK(db->SetDelimiter(delimiter) == 1, "SetDelimiter failed");

  const TModelFile model = ReadModel(file, delimiter);
  const int loaded = FirstLoad(db, model, options);
  if (model.empty) {
    FUZZ_CHECK(db->SaveFile() == dbErrNotOpen, "SaveFile without a table gave %d", db->SaveFile());
    Release(allocator, db);
    return 0;
  }
  FUZZ_CHECK(loaded == model.lineCount, "LoadFile gave %d, expected %d", loaded, model.lineCount);
  CheckTable(db, model.records, model.maxFieldCount, "the load");

  FUZZ_CHECK(db->SetFileName(output.c_str()) == 1, "SetFileName failed");
  const int saved = db->SaveFile();
  FUZZ_CHECK(saved == model.lineCount, "SaveFile gave %d, expected %d", saved, model.lineCount);
  CheckInvariants(db, "SaveFile");
  const std::string written = ReadWholeFile(output);
  const std::string expectedBytes = WriteModel(model.records, model.maxFieldCount, delimiter);
  FUZZ_CHECK(written == expectedBytes,
             "SaveFile wrote %zu bytes, expected %zu (first difference at byte %zu)",
             written.size(), expectedBytes.size(), FirstDifference(written, expectedBytes));
  const std::string listing = ListDirectory(dir);
  FUZZ_CHECK(listing == "in.csv out.csv", "the save left a stray file: %s", listing.c_str());

  // The second load, into the same object: LoadFile first closes the table it holds.
  const TModelFile reread = ReadModel(written, delimiter);
  const bool roundTrips = delimiter != '\n' && delimiter != '\r';
  const std::vector<TModelRecord> expectedBack =
      roundTrips ? RoundTrip(model.records) : reread.records;
  if (roundTrips) {
    // The rules of the format promise this; a mismatch here is the model's fault.
    FUZZ_CHECK(reread.records == expectedBack && reread.consistent &&
                   reread.maxFieldCount == model.maxFieldCount,
               "the model breaks the round trip");
  }
  int fieldCount = reread.maxFieldCount;
  DB_BOOL same = roundTrips ? 1 : 0;
  const int reloaded = db->LoadFile(&fieldCount, roundTrips ? 1 : 0, &same);
  FUZZ_CHECK(reloaded == reread.lineCount, "the second LoadFile gave %d, expected %d", reloaded,
             reread.lineCount);
  FUZZ_CHECK(fieldCount == reread.maxFieldCount && same == (reread.consistent ? 1 : 0),
             "the second LoadFile wrote %d and %d, expected %d and %d", fieldCount, same,
             reread.maxFieldCount, reread.consistent ? 1 : 0);
  CheckTable(db, expectedBack, reread.maxFieldCount, "the second load");

  Release(allocator, db);
  return 0;
}
