// Internal. The two passes that read a delimited file into a chain of records, shared by LoadFile
// and AppendFile.
//
// The file format, as read: every line feed ends a line (a final one starts no further line); CR
// is dropped wherever it stands; every delimiter byte ends a field; there is no quoting. A line
// holds one field more than it holds delimiters; the field count is the largest of any line, and
// shorter lines leave their trailing fields absent. In a last line without a line feed an empty
// last field stays absent. A NUL byte cuts its field's stored text.
//
// The count pass measures the file (lines, fields, longest field); the caller checks the counts;
// the build pass then makes one record per line into a chain the caller takes over, writing each
// record and its texts straight into the loader's chunks. A file that reads differently in the
// second pass is refused rather than stored past what the first measured.
#ifndef OVELT_ENGINES_LOADER_H
#define OVELT_ENGINES_LOADER_H

#include <cstdint>

#include "datenbank.h"
#include "engines/environment.h"
#include "platform/file_system.h"
#include "store/chunk_writer.h"
#include "store/record.h"
#include "store/record_store.h"

// Of a flag the host passes in, only the value 1 counts as set.
inline bool FlagSet(DB_BOOL flag) noexcept {
  return flag == 1;
}

// What the count pass found.
struct TFileMeasure {
  std::uint64_t bytes = 0;
  int lineCount = 0;       // line feeds, plus one when the last byte is not a line feed
  int maxFieldCount = 0;   // the largest field count of any line
  bool consistent = true;  // every line ended by a line feed has the first line's field count
  // of the bytes read, to tell whether the second pass reads the same
  std::uint64_t fingerprint = 0;
  // more lines, or a longer field, than the interface can carry: the file is refused once the
  // field count is checked (dbErrOutOfMemory)
  bool tooLarge = false;
};

// The checks both loaders make once the file is measured, in this order, writing the
// out-parameters as they go: the expected field count when checkFieldCount is set (dbErrFieldCount,
// *fieldCount written, *sameFieldCount not); then *fieldCount; then, when tableFieldCount is not
// null, the file's count against the table's (dbErrFieldCount); then the consistency check when
// *sameFieldCount is set (dbErrIntegrity, *sameFieldCount 0); then *sameFieldCount. Null
// out-parameters are not written; a null sameFieldCount counts as not set. dbOK when all pass.
int CheckMeasure(const TFileMeasure& measure, const int* tableFieldCount, int* fieldCount,
                 DB_BOOL checkFieldCount, DB_BOOL* sameFieldCount) noexcept;

class TFileLoader {
 public:
  TFileLoader(const TModuleEnv& env, char delimiter) noexcept;
  // Closes the file; every record not taken goes with the loader's chunks.
  ~TFileLoader();
  TFileLoader(const TFileLoader&) = delete;
  TFileLoader& operator=(const TFileLoader&) = delete;

  // Opens the file exclusively, queries its size and, unless the file is empty (*empty), runs the
  // count pass. dbOK; dbErrFileAccess when a call fails; dbErrOutOfMemory when the field count
  // passes the 32-bit range (other counts past it set Measured().tooLarge).
  int OpenAndMeasure(const char* path, bool* empty) noexcept;
  const TFileMeasure& Measured() const noexcept { return FMeasure; }
  // Whether the file's records, of fieldCount fields each, can fit beside heldRecords records of
  // the same width that the table keeps: their nodes and field arrays alone (texts not counted,
  // so this is the least they need) within the address space and within what the allocator could
  // ever give (TAllocator::Capacity). Allocates nothing. A file of one line of a million fields
  // and many empty lines is measured in moments, but its records would need terabytes: it is
  // refused here rather than built until memory runs out.
  bool RecordsFit(int fieldCount, int heldRecords) const noexcept;
  // Places the first record, of fieldCount fields. dbOK or dbErrOutOfMemory, with nothing left
  // allocated.
  int PlaceFirstRecord(int fieldCount) noexcept;
  // Runs the build pass from the start of the file. dbOK; dbErrOutOfMemory (also for a field the
  // interface could not report the length of); dbErrFileAccess when a read fails or the file no
  // longer matches what Measure found. On failure every record is gone.
  int Build() noexcept;
  // Hands the built records to the caller; store takes over the memory they live in.
  TRecordChain TakeRecords(TRecordStore& store) noexcept;

 private:
  TModuleEnv FEnv;
  char FDelimiter;
  TFileHandle FFile = kNoFile;
  TFileMeasure FMeasure;
  int FFieldCount = 0;
  TChunkWriter FWriter;
};

#endif  // OVELT_ENGINES_LOADER_H
