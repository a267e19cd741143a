// AppendFile: adds the records of the file named by the stored path after the open table's last.
//
// The new records are built apart and linked only once the whole file has been read, so any
// failure leaves the table's records, cursor and counts as they were.
#include <climits>

#include "engines/loader.h"
#include "table/datenbank_table.h"

int DB_CALL TDatenbank::AppendFile(int* fieldCount, DB_BOOL checkFieldCount,
                                   DB_BOOL* sameFieldCount) {
  if (!FOpen) {
    return dbErrNotOpen;
  }
  int result = CheckLoadSettings();
  if (result != dbOK) {
    return result;
  }
  TFileLoader loader(FEnv, FDelimiter);
  bool empty = false;
  result = loader.OpenAndMeasure(FFileName, &empty);
  if (result != dbOK || empty) {
    return result;
  }
  const TFileMeasure& measure = loader.Measured();
  const bool hasRecords = FLast != nullptr;
  // A table without records takes the file's field count; one with records keeps its own.
  if (!hasRecords) {
    FFieldCount = measure.maxFieldCount;
  }

  result = CheckMeasure(measure, hasRecords ? &FFieldCount : nullptr, fieldCount, checkFieldCount,
                        sameFieldCount);
  if (result != dbOK) {
    return result;
  }
  // A file, or a total, the record count cannot carry is refused rather than wrapped, and so are
  // records that could not fit beside those the table holds.
  if (measure.tooLarge || measure.lineCount > INT_MAX - FRecordCount ||
      !loader.RecordsFit(FFieldCount, FRecordCount)) {
    return dbErrOutOfMemory;
  }

  result = loader.PlaceFirstRecord(FFieldCount);
  if (result == dbOK) {
    result = loader.Build();
  }
  if (result != dbOK) {
    return result;
  }
  const TRecordChain records = loader.TakeRecords(FStore);
  LinkAtEnd(FFirst, FLast, records.first, records.last);
  FRecordCount += records.count;
  ResetCursor();
  return records.count;
}
