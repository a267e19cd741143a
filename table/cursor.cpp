// The record cursor: moves and counts. The index is kept by counting, never by walking the list.
#include "table/datenbank_table.h"

int DB_CALL TDatenbank::NextRecord() {
  // A current record implies an open table with records: a walk needs no other check.
  if (FCurrent != nullptr && FCurrent->Next != nullptr) {
    FCurrent = FCurrent->Next;
    WalkAhead(FCurrent, 1);
    return ++FCurrentIndex;
  }
  if (!FOpen) {
    return dbErrNotOpen;
  }
  if (HasNoRecords()) {
    return dbErrNoRecords;
  }
  if (FCurrent == nullptr) {
    return FirstRecord();
  }
  if (FCurrent->Next == nullptr) {
    return dbErrNoSuchRecord;
  }
  FCurrent = FCurrent->Next;
  return ++FCurrentIndex;
}

int DB_CALL TDatenbank::PriorRecord() {
  if (!FOpen) {
    return dbErrNotOpen;
  }
  if (HasNoRecords()) {
    return dbErrNoRecords;
  }
  if (FCurrent == nullptr) {
    return LastRecord();
  }
  if (FCurrent->Prev == nullptr) {
    return dbErrNoSuchRecord;
  }
  FCurrent = FCurrent->Prev;
  WalkAhead(FCurrent, -1);
  return --FCurrentIndex;
}

int DB_CALL TDatenbank::FirstRecord() {
  if (!FOpen) {
    return dbErrNotOpen;
  }
  if (HasNoRecords()) {
    return dbErrNoRecords;
  }
  FCurrent = FFirst;
  FCurrentIndex = 1;
  return FCurrentIndex;
}

int DB_CALL TDatenbank::LastRecord() {
  if (!FOpen) {
    return dbErrNotOpen;
  }
  if (HasNoRecords()) {
    return dbErrNoRecords;
  }
  FCurrent = FLast;
  FCurrentIndex = FRecordCount;
  return FCurrentIndex;
}

int DB_CALL TDatenbank::GetFieldCount() {
  if (!FOpen) {
    return dbErrNotOpen;
  }
  // Stored as NewTable received it: a negative count comes back unchanged.
  return FFieldCount;
}

int DB_CALL TDatenbank::GetRecordIndex() {
  const int check = CheckCurrentRecord();
  return check != dbOK ? check : FCurrentIndex;
}

int DB_CALL TDatenbank::GetRecordCount() {
  if (!FOpen) {
    return dbErrNotOpen;
  }
  return FRecordCount < 0 ? dbErrNoRecords : FRecordCount;
}
