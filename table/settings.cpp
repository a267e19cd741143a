// File name and delimiter: the settings the file operations read.
#include <cstring>

#include "store/text_block.h"
#include "table/datenbank_table.h"

const char* DB_CALL TDatenbank::GetFileName() {
  return FFileName;
}

DB_BOOL DB_CALL TDatenbank::SetFileName(const char* path) {
  // The copy is made before the old name goes, so the object's own name may be passed back in.
  char* copy = path == nullptr ? nullptr : NewTextBlock(*FEnv.allocator, path, std::strlen(path));
  FreeFileName();
  FFileName = copy;
  return copy != nullptr ? 1 : 0;
}

DB_BOOL DB_CALL TDatenbank::FreeFileName() {
  FEnv.allocator->Release(FFileName);
  FFileName = nullptr;
  return 1;
}

DB_BOOL DB_CALL TDatenbank::SetDelimiter(char delimiter) {
  FDelimiter = delimiter;
  FDelimiterSet = true;
  return 1;
}

char DB_CALL TDatenbank::GetDelimiter() {
  return FDelimiter;
}
