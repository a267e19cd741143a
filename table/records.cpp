// Adding records at the end and deleting the current record.
#include <climits>

#include "table/datenbank_table.h"

int DB_CALL TDatenbank::AddRecord() {
  if (!FOpen) {
    return dbErrNotOpen;
  }
  // A count that cannot grow is refused like any other allocation.
  if (FRecordCount == INT_MAX) {
    return dbErrOutOfMemory;
  }
  TRecordNode* record = FStore.NewRecord(FFieldCount);
  if (record == nullptr) {
    return dbErrOutOfMemory;
  }
  record->Prev = FLast;
  if (FLast != nullptr) {
    FLast->Next = record;
  }
  FLast = record;
  if (FFirst == nullptr) {
    FFirst = record;
  }
  FRecordCount = FRecordCount <= 0 ? 1 : FRecordCount + 1;
  FCurrentIndex = FRecordCount;
  FCurrent = record;
  return FCurrentIndex;
}

int DB_CALL TDatenbank::DeleteRecord() {
  const int check = CheckCurrentRecord();
  if (check != dbOK) {
    return check;
  }
  TRecordNode* doomed = FCurrent;
  if (FRecordCount == 1) {
    FRecordCount = 0;
    FFirst = nullptr;
    FLast = nullptr;
    ResetCursor();
  } else if (doomed->Prev == nullptr) {
    // The record after it becomes record 1; the index stays 1.
    --FRecordCount;
    FCurrent = doomed->Next;
    FCurrent->Prev = nullptr;
    FFirst = FCurrent;
  } else {
    --FRecordCount;
    FCurrent = doomed->Prev;
    --FCurrentIndex;
    FCurrent->Next = doomed->Next;
    if (doomed->Next == nullptr) {
      FLast = FCurrent;
    } else {
      doomed->Next->Prev = FCurrent;
    }
  }
  FStore.FreeRecord(doomed, FFieldCount);
  return FRecordCount == 0 ? 0 : FCurrentIndex;
}
