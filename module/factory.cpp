// The factory: the module's one export.
#include "engines/environment.h"
#include "table/datenbank_table.h"

extern "C" DB_EXPORT TMainDB* DB_CALL
_CreateDatenbankClassInstance(void) {  // NOLINT(bugprone-reserved-identifier)
  return NewTableObject(DefaultModuleEnv());
}
