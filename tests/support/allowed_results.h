// Test support: what each of the 29 operations may answer in any state, as include/datenbank.h
// documents it. The fault campaigns and the ops fuzz target hold every answer against this one
// table. Nothing here uses GoogleTest.
#ifndef OVELT_TESTS_SUPPORT_ALLOWED_RESULTS_H
#define OVELT_TESTS_SUPPORT_ALLOWED_RESULTS_H

#include <climits>
#include <cstdint>

#include "datenbank.h"

namespace dbtest {

// The operations in slot order; `using namespace dbtest::slots` brings in the names alone.
namespace slots {
enum Slot : int {
  kGetFileName,
  kSetFileName,
  kFreeFileName,
  kSetDelimiter,
  kGetDelimiter,
  kGetVersion,
  kGetVersionTextLength,
  kGetVersionText,
  kLoadFile,
  kAppendFile,
  kCloseTable,
  kGetField,
  kGetErrorText,
  kNextRecord,
  kFirstRecord,
  kLastRecord,
  kPriorRecord,
  kGetFieldCount,
  kGetRecordIndex,
  kGetRecordCount,
  kGetModuleName,
  kGetCopyrightText,
  kGetMakerText,
  kGetDescription,
  kSetField,
  kSaveFile,
  kDeleteRecord,
  kAddRecord,
  kNewTable,
  kSlotCount
};
}  // namespace slots
using slots::kSlotCount;
using slots::Slot;

// The bit of a result code (-1 to -31) in a code mask.
constexpr std::uint32_t CodeBit(int code) {
  return 1U << static_cast<unsigned>(-code);
}

// An answer is documented when it lies in [low, high] or is one of the codes. Where success needs
// memory, no answer above withoutMemory is possible while every allocation fails.
struct AllowedResults {
  const char* name;
  int low;
  int high;
  std::uint32_t codes;
  int withoutMemory;
};

// What slot may answer. Slot 0 returns a pointer and slot 4 a character: their ranges say
// nothing; hold them against what was set.
inline const AllowedResults& AllowedFor(int slot) {
  constexpr int kAny = INT_MAX;
  constexpr std::uint32_t kLoad = CodeBit(dbErrFileNotFound) | CodeBit(dbErrFileAccess) |
                                  CodeBit(dbErrNoFileName) | CodeBit(dbErrFieldCount) |
                                  CodeBit(dbErrNoDelimiter) | CodeBit(dbErrOutOfMemory) |
                                  CodeBit(dbErrIntegrity);
  constexpr std::uint32_t kClosedOrEmpty = CodeBit(dbErrNotOpen) | CodeBit(dbErrNoRecords);
  constexpr std::uint32_t kRecord = kClosedOrEmpty | CodeBit(dbErrNoRecordSelected);
  static constexpr AllowedResults kTable[kSlotCount] = {
      {"GetFileName", 0, 0, 0, kAny},
      {"SetFileName", 0, 1, 0, 0},
      {"FreeFileName", 1, 1, 0, kAny},
      {"SetDelimiter", 1, 1, 0, kAny},
      {"GetDelimiter", CHAR_MIN, CHAR_MAX, 0, kAny},
      {"GetVersion", 1, 1, 0, kAny},
      {"GetVersionTextLength", 13, 13, 0, kAny},
      {"GetVersionText", 1, 1, 0, kAny},
      // 0 (an empty file) needs no memory; records do.
      {"LoadFile", 0, kAny, kLoad, 0},
      {"AppendFile", 0, kAny, kLoad | CodeBit(dbErrNotOpen), 0},
      {"CloseTable", 1, 1, 0, kAny},
      {"GetField", 0, kAny, kRecord | CodeBit(dbErrNoSuchField) | CodeBit(dbErrFieldEmpty), kAny},
      {"GetErrorText", 0, kAny, CodeBit(dbErrUnknown), kAny},
      {"NextRecord", 1, kAny, kClosedOrEmpty | CodeBit(dbErrNoSuchRecord), kAny},
      // Always the first record's position.
      {"FirstRecord", 1, 1, kClosedOrEmpty, kAny},
      {"LastRecord", 1, kAny, kClosedOrEmpty, kAny},
      {"PriorRecord", 1, kAny, kClosedOrEmpty | CodeBit(dbErrNoSuchRecord), kAny},
      // The count as NewTable stored it, negative ones included; dbErrNotOpen is one of those.
      {"GetFieldCount", INT_MIN, kAny, 0, kAny},
      {"GetRecordIndex", 1, kAny, kRecord, kAny},
      // An open table without records counts 0; no open table has a count below 0.
      {"GetRecordCount", 0, kAny, CodeBit(dbErrNotOpen), kAny},
      {"GetModuleName", 0, kAny, 0, kAny},
      {"GetCopyrightText", 0, kAny, 0, kAny},
      {"GetMakerText", 0, kAny, 0, kAny},
      {"GetDescription", 0, kAny, 0, kAny},
      {"SetField", 0, 0,
       kRecord | CodeBit(dbErrNoSuchField) | CodeBit(dbErrOutOfMemory) | CodeBit(dbErrUnknown), -1},
      // A save gets by without its buffer.
      {"SaveFile", 0, kAny,
       CodeBit(dbErrNotOpen) | CodeBit(dbErrNoFileName) | CodeBit(dbErrNoDelimiter) |
           CodeBit(dbErrFileAccess) | CodeBit(dbErrWriteFailed),
       kAny},
      {"DeleteRecord", 0, kAny, kRecord, kAny},
      {"AddRecord", 1, kAny, CodeBit(dbErrNotOpen) | CodeBit(dbErrOutOfMemory), -1},
      {"NewTable", 0, 0, 0, kAny},
  };
  return kTable[slot];
}

// Whether slot documents result.
inline bool Documented(int slot, int result) {
  const AllowedResults& allowed = AllowedFor(slot);
  return (result >= allowed.low && result <= allowed.high) ||
         (result < 0 && result >= -31 && (allowed.codes & CodeBit(result)) != 0);
}

}  // namespace dbtest

#endif  // OVELT_TESTS_SUPPORT_ALLOWED_RESULTS_H
