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
  LinkAtEnd(FFirst, FLast, record, record);
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
  Unlink(FFirst, FLast, doomed);
  --FRecordCount;
  if (FRecordCount == 0) {
    ResetCursor();
  } else if (doomed->Prev == nullptr) {
    FCurrent = doomed->Next;  // the record after it becomes record 1; the index stays 1
  } else {
    FCurrent = doomed->Prev;
    --FCurrentIndex;
  }
  FStore.FreeRecord(doomed, FFieldCount);
  return FRecordCount == 0 ? 0 : FCurrentIndex;
}
