// SaveFile: the checks, then the writer.
#include "engines/writer.h"
#include "table/datenbank_table.h"

int DB_CALL TDatenbank::SaveFile() {
  if (!FOpen) {
    return dbErrNotOpen;
  }
  if (FFileName == nullptr || FFileName[0] == '\0') {
    return dbErrNoFileName;
  }
  if (!FDelimiterSet) {
    return dbErrNoDelimiter;
  }
  return WriteRecordsToFile(FEnv, FFileName, HasNoRecords() ? nullptr : FFirst, FFieldCount,
                            FDelimiter);
}
