// LoadFile: reads the file named by the stored path into a new table.
#include "engines/loader.h"
#include "table/datenbank_table.h"

int TDatenbank::CheckLoadSettings() noexcept {
  if (FFileName == nullptr || FFileName[0] == '\0') {
    return dbErrNoFileName;
  }
  if (!FEnv.files->FileExists(FFileName)) {
    return dbErrFileNotFound;
  }
  if (!FDelimiterSet) {
    return dbErrNoDelimiter;
  }
  return dbOK;
}

int DB_CALL TDatenbank::LoadFile(int* fieldCount, DB_BOOL checkFieldCount,
                                 DB_BOOL* sameFieldCount) {
  int result = CheckLoadSettings();
  if (result != dbOK) {
    return result;
  }
  // An open table without records is not closed here; one with records always is.
  if (FLast != nullptr || FRecordCount > 0) {
    CloseTable();
  }
  TFileLoader loader(FEnv, FDelimiter);
  bool empty = false;
  result = loader.OpenAndMeasure(FFileName, &empty);
  if (result != dbOK || empty) {
    return result;
  }
  const TFileMeasure& measure = loader.Measured();
  FFieldCount = measure.maxFieldCount;

  result = CheckMeasure(measure, nullptr, fieldCount, checkFieldCount, sameFieldCount);
  if (result != dbOK) {
    return result;
  }
  if (measure.tooLarge || !loader.RecordsFit(FFieldCount, 0)) {
    return dbErrOutOfMemory;
  }

  result = loader.PlaceFirstRecord(FFieldCount);
  if (result != dbOK) {
    return result;
  }
  result = loader.Build();
  if (result == dbErrOutOfMemory) {
    // Records were built and are gone again: the table ends up closed, as CloseTable leaves it.
    ResetCursor();
    FOpen = false;
  }
  if (result != dbOK) {
    return result;
  }
  const TRecordChain records = loader.TakeRecords(FStore);
  FFirst = records.first;
  FLast = records.last;
  FRecordCount = records.count;
  ResetCursor();
  FOpen = true;
  return FRecordCount;
}
