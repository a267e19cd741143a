// The count pass and the build pass over a delimited file.
#include "engines/loader.h"

#include <climits>
#include <cstdint>
#include <cstring>

#include "primitives/byte_scan.h"
#include "primitives/byte_scan_sse2.h"
#include "primitives/fingerprint.h"
#include "primitives/simd.h"
#include "primitives/text_window.h"
#include "primitives/text_window_sse2.h"

namespace {

constexpr unsigned char kLineFeed = '\n';
constexpr unsigned char kCarriageReturn = '\r';

// The count pass's running state.
struct TCounter {
  std::int64_t lines = 0;
  std::int64_t firstLineFields = 1;
  std::int64_t lineFields = 1;
  std::int64_t maxFields = 0;
  std::int64_t fieldLength = 0;        // bytes of the field being read so far
  std::int64_t longestFieldBound = 0;  // bytes of the longest field with the byte that ends it
  bool consistent = true;
  bool firstLineEnded = false;

  void AddDelimiters(std::int64_t count) noexcept {
    lineFields += count;
    if (!firstLineEnded) {
      firstLineFields += count;
    }
  }

  void EndLine() noexcept {
    ++lines;
    firstLineEnded = true;
    if (lineFields != firstLineFields) {
      consistent = false;
    }
    if (lineFields > maxFields) {
      maxFields = lineFields;
    }
    lineFields = 1;
  }

  // One byte, in the order the format gives: a line feed ends the line before the same byte,
  // as a delimiter, counts a field.
  void Byte(unsigned char byte, unsigned char delimiter) noexcept {
    ++fieldLength;
    if (byte == kLineFeed) {
      EndLine();
    }
    if (byte == delimiter) {
      AddDelimiters(1);
    }
    if (byte == kLineFeed || byte == delimiter) {
      EndField(0);
    }
  }

  // A field ends, extra bytes after the bytes counted so far; the next one starts.
  void EndField(std::int64_t extra) noexcept {
    if (fieldLength + extra > longestFieldBound) {
      longestFieldBound = fieldLength + extra;
    }
    fieldLength = 0;
  }
};

// What the build pass carries from one block to the next.
struct TBuildState {
  int fieldCount;           // fields of every record
  int lineCount;            // lines the count pass found
  unsigned char delimiter;  // the field delimiter
  int fieldIndex = 0;       // the field being read
  bool lineEnded = false;   // the previous byte was a line feed: the next byte starts a record
};

}  // namespace

// The passes' inner loops, once with each kernel set: the same source, distinct names.
namespace portable {
namespace {
#include "engines/loader_passes.inc"
}  // namespace
}  // namespace portable

#if DB_SSE2_VARIANT
DB_SSE2_BEGIN
namespace sse2 {
namespace {
#include "engines/loader_passes.inc"  // NOLINT(readability-duplicate-include): the SSE2 copy
}  // namespace
}  // namespace sse2
DB_SSE2_END
#endif

namespace {

void CountBlock(TKernelSet kernels, TCounter& counter, const unsigned char* p,
                const unsigned char* end, unsigned char delimiter) noexcept {
#if DB_SSE2_VARIANT
  if (kernels == TKernelSet::kSse2) {
    sse2::CountBlock(counter, p, end, delimiter);
    return;
  }
#endif
  static_cast<void>(kernels);
  portable::CountBlock(counter, p, end, delimiter);
}

int BuildBlock(TKernelSet kernels, TBuildState& state, TChunkWriter& writer, const unsigned char* p,
               const unsigned char* end) noexcept {
#if DB_SSE2_VARIANT
  if (kernels == TKernelSet::kSse2) {
    return sse2::BuildBlock(state, writer, p, end);
  }
#endif
  static_cast<void>(kernels);
  return portable::BuildBlock(state, writer, p, end);
}

}  // namespace

int CheckMeasure(const TFileMeasure& measure, const int* tableFieldCount, int* fieldCount,
                 DB_BOOL checkFieldCount, DB_BOOL* sameFieldCount) noexcept {
  const int fileFieldCount = measure.maxFieldCount;
  const bool expected =
      !FlagSet(checkFieldCount) || (fieldCount != nullptr && *fieldCount == fileFieldCount);
  if (fieldCount != nullptr) {
    *fieldCount = fileFieldCount;
  }
  if (!expected || (tableFieldCount != nullptr && *tableFieldCount != fileFieldCount)) {
    return dbErrFieldCount;
  }
  if (sameFieldCount != nullptr) {
    if (FlagSet(*sameFieldCount) && !measure.consistent) {
      *sameFieldCount = 0;
      return dbErrIntegrity;
    }
    *sameFieldCount = measure.consistent ? 1 : 0;
  }
  return dbOK;
}

TFileLoader::TFileLoader(const TModuleEnv& env, char delimiter) noexcept
    : FEnv(env), FDelimiter(delimiter), FWriter(env.allocator) {
  if (FEnv.readBlockSize == 0 || FEnv.readBlockSize > kReadBlockSize) {
    FEnv.readBlockSize = kReadBlockSize;
  }
}

TFileLoader::~TFileLoader() {
  if (FFile != kNoFile) {
    FEnv.files->Close(FFile);
  }
}

int TFileLoader::OpenAndMeasure(const char* path, bool* empty) noexcept {
  std::uint64_t size = 0;
  if (!FEnv.files->OpenForReading(path, &FFile) || !FEnv.files->GetSize(FFile, &size)) {
    return dbErrFileAccess;
  }
  *empty = size == 0;
  if (*empty) {
    return dbOK;
  }
  const auto delimiter = static_cast<unsigned char>(FDelimiter);
  TCounter counter;
  std::uint64_t bytes = 0;
  std::uint64_t fingerprint = 0;
  unsigned char lastByte = kLineFeed;
  unsigned char block[kReadBlockSize];
  std::uint32_t got = 0;
  do {
    if (!FEnv.files->Read(FFile, block, FEnv.readBlockSize, &got)) {
      return dbErrFileAccess;
    }
    CountBlock(FEnv.kernels, counter, block, block + got, delimiter);
    fingerprint = Fingerprint(fingerprint, block, got);
    if (got > 0) {
      lastByte = block[got - 1];
      bytes += got;
    }
  } while (got == FEnv.readBlockSize);

  // A last line without a line feed counts, but is not compared for consistency.
  if (lastByte != kLineFeed) {
    ++counter.lines;
    if (counter.lineFields > counter.maxFields) {
      counter.maxFields = counter.lineFields;
    }
    counter.EndField(0);
  }
  // Counts the interface cannot carry are refused rather than wrapped. A field count past it
  // cannot even be reported; a line count or a field length past it is, with the field count.
  if (counter.maxFields > INT_MAX) {
    return dbErrOutOfMemory;
  }
  FMeasure.tooLarge =
      counter.lines > INT_MAX ||
      counter.longestFieldBound > std::int64_t{INT_MAX} + 2;  // INT_MAX bytes, CR, LF
  FMeasure.bytes = bytes;
  FMeasure.lineCount = static_cast<int>(counter.lines > INT_MAX ? INT_MAX : counter.lines);
  FMeasure.maxFieldCount = static_cast<int>(counter.maxFields);
  FMeasure.consistent = counter.consistent;
  FMeasure.fingerprint = fingerprint;
  return dbOK;
}

bool TFileLoader::RecordsFit(int fieldCount, int heldRecords) const noexcept {
  if (fieldCount < 0 || heldRecords < 0) {
    return false;
  }
  // At most INT_MAX * 2 records of at most sizeof(TRecordNode) + INT_MAX * 8 bytes: the count and
  // the size each fit in 64 bits, their product need not.
  const std::uint64_t records =
      static_cast<std::uint64_t>(FMeasure.lineCount) + static_cast<std::uint64_t>(heldRecords);
  const std::uint64_t recordBytes =
      sizeof(TRecordNode) + static_cast<std::uint64_t>(fieldCount) * sizeof(char*);
  if (records > UINT64_MAX / recordBytes) {
    return false;
  }
  const std::uint64_t bytes = records * recordBytes;
  return bytes <= SIZE_MAX && bytes <= FEnv.allocator->Capacity();
}

int TFileLoader::PlaceFirstRecord(int fieldCount) noexcept {
  FFieldCount = fieldCount;
  const std::size_t recordBytes = RecordBytes(fieldCount);
  // Texts and their NULs take at most one byte per byte of the file and one more at its end.
  const std::uint64_t records =
      static_cast<std::uint64_t>(FMeasure.lineCount) * (recordBytes + alignof(TRecordNode));
  const std::size_t expected = static_cast<std::size_t>(
      records + FMeasure.bytes < SIZE_MAX ? records + FMeasure.bytes + 1 : SIZE_MAX);
  return recordBytes != 0 && FWriter.Begin(fieldCount, expected) ? dbOK : dbErrOutOfMemory;
}

int TFileLoader::Build() noexcept {
  if (!FEnv.files->Rewind(FFile)) {
    FWriter.Drop();
    return dbErrFileAccess;
  }
  TBuildState state{FFieldCount, FMeasure.lineCount, static_cast<unsigned char>(FDelimiter)};
  std::uint64_t bytes = 0;
  std::uint64_t fingerprint = 0;
  int result = dbOK;

  unsigned char block[kReadBlockSize];
  std::uint32_t got = 0;
  do {
    if (!FEnv.files->Read(FFile, block, FEnv.readBlockSize, &got)) {
      result = dbErrFileAccess;
      break;
    }
    bytes += got;
    fingerprint = Fingerprint(fingerprint, block, got);
    result = BuildBlock(FEnv.kernels, state, FWriter, block, block + got);
  } while (result == dbOK && got == FEnv.readBlockSize);

  // A last line without a line feed keeps its last field only when that field has text.
  if (result == dbOK && FWriter.FieldHasText()) {
    if (state.fieldIndex >= FFieldCount) {
      result = dbErrFileAccess;
    } else if (!FWriter.EndField(state.fieldIndex)) {
      result = dbErrOutOfMemory;
    }
  }
  if (result == dbOK && (bytes != FMeasure.bytes || FWriter.RecordCount() != FMeasure.lineCount ||
                         fingerprint != FMeasure.fingerprint)) {
    result = dbErrFileAccess;  // the file changed between the passes
  }
  if (result != dbOK) {
    FWriter.Drop();
  }
  return result;
}

TRecordChain TFileLoader::TakeRecords(TRecordStore& store) noexcept {
  return FWriter.Take(store);
}
