// The table object's state: making it, closing and starting a table, and the invariant check.
#include <cstdint>
#include <new>

#include "table/datenbank_table.h"

TMainDB* NewTableObject(const TModuleEnv& env) noexcept {
  void* block = env.allocator->Allocate(sizeof(TDatenbank));
  if (block == nullptr) {
    return nullptr;
  }
  // The object is never destroyed: the interface offers no way to, and its block stays allocated
  // until the module is unloaded.
  static_assert(sizeof(TDatenbankSse2) == sizeof(TDatenbank), "one block size for both");
  if (env.kernels == TKernelSet::kSse2) {
    return new (block) TDatenbankSse2(env);
  }
  return new (block) TDatenbank(env);
}

TDatenbank::TDatenbank(const TModuleEnv& env) noexcept : FEnv(env), FStore(env.allocator) {}

void TDatenbank::ResetCursor() noexcept {
  FCurrent = nullptr;
  FCurrentIndex = -1;
}

DB_BOOL DB_CALL TDatenbank::CloseTable() {
  // An open table without records stays open.
  if (HasNoRecords()) {
    return 1;
  }
  FStore.ReleaseAll(FFirst, FFieldCount);
  FLast = nullptr;
  FFirst = nullptr;
  ResetCursor();
  FOpen = false;
  // FRecordCount and FFieldCount keep their values; nothing reports them while closed.
  return 1;
}

int DB_CALL TDatenbank::NewTable(int fieldCount) {
  if (FLast != nullptr || FRecordCount > 0) {
    CloseTable();
  }
  // Any count is stored; a negative one makes every AddRecord run out of memory.
  FFieldCount = fieldCount;
  FRecordCount = 0;
  FFirst = nullptr;
  FLast = nullptr;
  ResetCursor();
  FOpen = true;
  return dbOK;
}

const char* TDatenbank::CheckInvariants() const noexcept {
  if ((FFirst == nullptr) != (FLast == nullptr)) {
    return "FFirst and FLast disagree";
  }
  if (!FOpen) {
    if (FFirst != nullptr) {
      return "a closed table holds records";
    }
    if (FCurrent != nullptr || FCurrentIndex != -1) {
      return "a closed table has a cursor";
    }
    return nullptr;
  }
  if (FRecordCount < 0) {
    return "negative record count";
  }
  if (FFirst != nullptr && FFieldCount < 0) {
    return "records with a negative field count";
  }
  std::int64_t count = 0;
  std::int64_t currentPosition = -1;
  const TRecordNode* prev = nullptr;
  for (const TRecordNode* r = FFirst; r != nullptr; r = r->Next) {
    ++count;
    if (r->Prev != prev) {
      return "Prev does not point back";
    }
    if (r == FCurrent) {
      currentPosition = count;
    }
    prev = r;
    if (count > FRecordCount) {
      return "more records linked than counted";
    }
  }
  if (prev != FLast) {
    return "the chain does not end at FLast";
  }
  if (count != FRecordCount) {
    return "fewer records linked than counted";
  }
  if (FCurrent == nullptr) {
    return FCurrentIndex == -1 ? FStore.CheckTexts(FFirst, FFieldCount)
                               : "an index without a current record";
  }
  if (currentPosition < 0) {
    return "the current record is not in the list";
  }
  if (currentPosition != FCurrentIndex) {
    return "the index is not the current record's position";
  }
  return FStore.CheckTexts(FFirst, FFieldCount);
}
