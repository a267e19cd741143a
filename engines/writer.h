// Internal. The writer: a chain of records as a delimited file.
//
// Bytes: one line per record in list order; a record's field texts exactly as stored, separated by
// the delimiter (n fields always give n - 1 delimiters; an absent and an empty field both give no
// bytes); every line, the last included, ends with CR LF. Nothing else is written.
//
// The records go to a temporary file beside the target, which takes over the old file's
// permissions, owner and attributes and replaces the target only when every byte is written and
// flushed: a save that fails leaves the target with its old bytes. Where the directory refuses the
// temporary file or the rename but the target itself may be written, it is written in place, as a
// plain write would: such a save is not atomic.
#ifndef OVELT_ENGINES_WRITER_H
#define OVELT_ENGINES_WRITER_H

#include "datenbank.h"
#include "engines/environment.h"
#include "store/record.h"

// Writes the records from first on (none when first is null), each with fieldCount fields, to the
// file at path. The number of records written; dbErrFileAccess when the target cannot be written
// or replaced (nothing was touched); dbErrWriteFailed when a write or the flush failed (the
// target keeps its bytes, unless it was being written in place).
int WriteRecordsToFile(const TModuleEnv& env, const char* path, const TRecordNode* first,
                       int fieldCount, char delimiter) noexcept;

#endif  // OVELT_ENGINES_WRITER_H
