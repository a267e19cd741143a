// The record cursor: moves and counts. The index is kept by counting, never by walking the list.
#include "primitives/simd.h"
#include "table/datenbank_table.h"

int DB_CALL TDatenbank::NextRecord() {
  return StepNext();
}

int DB_CALL TDatenbank::PriorRecord() {
  return StepPrior();
}

#if DB_SSE2_VARIANT
DB_SSE2_BEGIN
int DB_CALL TDatenbankSse2::NextRecord() {
  return StepNext();
}

int DB_CALL TDatenbankSse2::PriorRecord() {
  return StepPrior();
}
DB_SSE2_END
#else
// Never made where the processor has no SSE2 (ChooseKernels).
int DB_CALL TDatenbankSse2::NextRecord() {
  return TDatenbank::NextRecord();
}

int DB_CALL TDatenbankSse2::PriorRecord() {
  return TDatenbank::PriorRecord();
}
#endif

// The steps that are not from a record to its neighbour: the first step of a walk, the end of
// the list, a closed or empty table.
int TDatenbank::NextRecordChecked() noexcept {
  if (!FOpen) {
    return dbErrNotOpen;
  }
  if (HasNoRecords()) {
    return dbErrNoRecords;
  }
  if (FCurrent == nullptr) {
    return FirstRecord();
  }
  return dbErrNoSuchRecord;  // the current record is the last
}

int TDatenbank::PriorRecordChecked() noexcept {
  if (!FOpen) {
    return dbErrNotOpen;
  }
  if (HasNoRecords()) {
    return dbErrNoRecords;
  }
  if (FCurrent == nullptr) {
    return LastRecord();
  }
  return dbErrNoSuchRecord;  // the current record is the first
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
