// The count pass and the build pass over a delimited file.
#include "io/loader.h"

#include <climits>
#include <cstring>

namespace {

constexpr unsigned char kLineFeed = '\n';
constexpr unsigned char kCarriageReturn = '\r';

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
    : FEnv(env), FDelimiter(delimiter) {
  if (FEnv.readBlockSize == 0 || FEnv.readBlockSize > kReadBlockSize) {
    FEnv.readBlockSize = kReadBlockSize;
  }
}

TFileLoader::~TFileLoader() {
  ReleaseRecords();
  FEnv.allocator->Release(FScratch);
  if (FFile != kNoFile) {
    FEnv.files->Close(FFile);
  }
}

int TFileLoader::Open(const char* path) noexcept {
  return FEnv.files->OpenForReading(path, &FFile) ? dbOK : dbErrFileAccess;
}

int TFileLoader::Measure(bool* empty) noexcept {
  std::uint64_t size = 0;
  if (!FEnv.files->GetSize(FFile, &size)) {
    return dbErrFileAccess;
  }
  *empty = size == 0;
  if (*empty) {
    return dbOK;
  }

  const auto delimiter = static_cast<unsigned char>(FDelimiter);
  std::int64_t lines = 0;
  std::int64_t firstLineFields = 1;
  std::int64_t lineFields = 1;
  std::int64_t maxFields = 0;
  std::int64_t fieldLength = 0;
  std::int64_t longest = 0;
  std::uint64_t bytes = 0;
  bool consistent = true;
  bool firstLineEnded = false;
  unsigned char lastByte = kLineFeed;

  unsigned char block[kReadBlockSize];
  std::uint32_t got = 0;
  do {
    if (!FEnv.files->Read(FFile, block, FEnv.readBlockSize, &got)) {
      return dbErrFileAccess;
    }
    for (std::uint32_t i = 0; i < got; ++i) {
      const unsigned char byte = block[i];
      ++fieldLength;
      if (byte == kLineFeed) {
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
      if (byte == delimiter) {
        if (!firstLineEnded) {
          ++firstLineFields;
        }
        ++lineFields;
      }
      if (byte == kLineFeed || byte == delimiter) {
        if (fieldLength > longest) {
          longest = fieldLength;
        }
        fieldLength = 0;
      }
    }
    if (got > 0) {
      lastByte = block[got - 1];
      bytes += got;
    }
  } while (got == FEnv.readBlockSize);

  // A last line without a line feed; it is not compared for consistency.
  if (lastByte != kLineFeed) {
    ++lines;
    if (lineFields > maxFields) {
      maxFields = lineFields;
    }
    if (fieldLength > longest) {
      longest = fieldLength;
    }
  }
  // Counts the interface cannot carry are refused rather than wrapped.
  if (lines > INT_MAX || maxFields > INT_MAX || longest >= INT_MAX) {
    return dbErrOutOfMemory;
  }
  FMeasure.bytes = bytes;
  FMeasure.lineCount = static_cast<int>(lines);
  FMeasure.maxFieldCount = static_cast<int>(maxFields);
  FMeasure.longestField = static_cast<int>(longest);
  FMeasure.consistent = consistent;
  return dbOK;
}

int TFileLoader::Prepare(int fieldCount) noexcept {
  FFieldCount = fieldCount;
  FScratch = static_cast<char*>(
      FEnv.allocator->Allocate(static_cast<std::size_t>(FMeasure.longestField) + 1));
  if (FScratch == nullptr) {
    return dbErrOutOfMemory;
  }
  FScratch[0] = '\0';
  FScratchLength = 0;
  TRecordNode* first = NewRecord(*FEnv.allocator, fieldCount);
  if (first == nullptr) {
    FEnv.allocator->Release(FScratch);
    FScratch = nullptr;
    return dbErrOutOfMemory;
  }
  FRecords.Append(first);
  return dbOK;
}

int TFileLoader::StoreField(TRecordNode* record, int index) noexcept {
  if (index >= FFieldCount) {
    return dbErrFileAccess;  // more fields than the count pass found: the file changed
  }
  // The stored text ends at the first NUL, so a NUL byte in the file cuts its field.
  char* copy = CopyText(*FEnv.allocator, FScratch, std::strlen(FScratch));
  if (copy == nullptr) {
    return dbErrOutOfMemory;
  }
  record->Fields[index] = copy;
  return dbOK;
}

int TFileLoader::Build() noexcept {
  if (!FEnv.files->Rewind(FFile)) {
    ReleaseRecords();
    return dbErrFileAccess;
  }
  const auto delimiter = static_cast<unsigned char>(FDelimiter);
  const std::uint32_t scratchLimit = static_cast<std::uint32_t>(FMeasure.longestField);
  TRecordNode* record = FRecords.first;
  int fieldIndex = 0;
  unsigned char previous = 0;
  std::uint64_t bytes = 0;
  int result = dbOK;

  unsigned char block[kReadBlockSize];
  std::uint32_t got = 0;
  do {
    if (!FEnv.files->Read(FFile, block, FEnv.readBlockSize, &got)) {
      result = dbErrFileAccess;
      break;
    }
    bytes += got;
    for (std::uint32_t i = 0; i < got && result == dbOK; ++i) {
      const unsigned char byte = block[i];
      if (byte != kLineFeed && byte != kCarriageReturn && byte != delimiter) {
        if (FScratchLength >= scratchLimit) {
          result = dbErrFileAccess;  // a field longer than the count pass found
          break;
        }
        FScratch[FScratchLength++] = static_cast<char>(byte);
        FScratch[FScratchLength] = '\0';
      }
      if (previous == kLineFeed) {
        if (FRecords.count >= FMeasure.lineCount) {
          result = dbErrFileAccess;  // more lines than the count pass found
          break;
        }
        record = NewRecord(*FEnv.allocator, FFieldCount);
        if (record == nullptr) {
          result = dbErrOutOfMemory;
          break;
        }
        FRecords.Append(record);
      }
      if (byte == delimiter || byte == kLineFeed) {
        result = StoreField(record, fieldIndex);
        FScratchLength = 0;
        FScratch[0] = '\0';
        ++fieldIndex;
      }
      if (byte == kLineFeed) {
        fieldIndex = 0;
      }
      previous = byte;
    }
  } while (result == dbOK && got == FEnv.readBlockSize);

  if (result == dbOK && FScratch[0] != '\0') {
    result = StoreField(record, fieldIndex);
  }
  if (result == dbOK && (bytes != FMeasure.bytes || FRecords.count != FMeasure.lineCount)) {
    result = dbErrFileAccess;  // the file changed between the passes
  }
  if (result != dbOK) {
    ReleaseRecords();
  }
  return result;
}

TRecordChain TFileLoader::TakeRecords() noexcept {
  const TRecordChain taken = FRecords;
  FRecords = TRecordChain{};
  return taken;
}

void TFileLoader::ReleaseRecords() noexcept {
  FreeRecordsBackwards(*FEnv.allocator, FRecords.last, FFieldCount);
  FRecords = TRecordChain{};
}
