/*
 * datenbank.h -- the public interface of the Ovelt Datenbank module.
 *
 * A host loads the library, calls _CreateDatenbankClassInstance once per table it wants, and drives
 * the returned object through the 29 operations of TMainDB. This header is the whole contract: the
 * slot order, argument layout and result widths below are the binary interface and never change.
 *
 * Conventions for every operation:
 *  - Results are returned, never thrown. An int result below 0 is one of the result codes below;
 *    0 or more is success and carries the operation's value.
 *  - Flag results (DB_BOOL) are one byte, exactly 0 or 1. Flag arguments are one byte of which only
 *    the value 1 counts as set.
 *  - Texts are NUL-terminated 8-bit strings in the Windows-1252 code page; lengths count bytes.
 *  - Text-out convention (GetErrorText, GetField, GetModuleName, GetCopyrightText, GetMakerText,
 *    GetDescription): the host passes a buffer and its size including the NUL. If the size is at
 *    least 1 the first byte becomes NUL before anything else. The result is 0 when the text was
 *    copied, the text's length (without NUL) when the buffer is too small, or a negative code.
 *    A size of 0 (or a null buffer) writes nothing.
 *  - The object is never destroyed. A host that is finished with it calls CloseTable and
 *    FreeFileName; the object's own block lives until the module is unloaded.
 *  - One object must not be used by two threads at once; separate objects share nothing.
 */
#ifndef OVELT_DATENBANK_H
#define OVELT_DATENBANK_H

/* The library's version (the build checks these against the file VERSION). The interface's slots
 * and layout are the same in every version. */
#define DATENBANK_VERSION_MAJOR 1
#define DATENBANK_VERSION_MINOR 1
#define DATENBANK_VERSION_PATCH 0

/* The calling convention of every operation and of the factory: on 32-bit x86 Windows the object
 * pointer is the first stack argument and the caller cleans the stack. */
#if defined(_WIN32) && (defined(__i386__) || defined(_M_IX86))
#define DB_CALL __cdecl
#else
#define DB_CALL
#endif

/* Marks the one exported symbol. */
#if defined(_WIN32)
#if defined(DATENBANK_BUILDING_MODULE)
#define DB_EXPORT __declspec(dllexport)
#else
#define DB_EXPORT __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define DB_EXPORT __attribute__((visibility("default")))
#else
#define DB_EXPORT
#endif

/* A flag passed in or out: one byte, 1 for set, 0 for not set. */
typedef unsigned char DB_BOOL;

/* Result codes. Every code, dbOK included, has a German message that GetErrorText returns. */
enum {
  dbOK = 0,
  dbErrUnknown = -1,
  dbErrFileNotFound = -2,
  dbErrFileAccess = -3,
  dbErrNoFileName = -4,
  dbErrFieldCount = -5,
  dbErrNoDelimiter = -6,
  dbErrOutOfMemory = -7,
  dbErrIntegrity = -8,
  dbErrNoRecordSelected = -9,
  dbErrNoRecords = -10,
  dbErrNoSuchField = -11,
  dbErrFieldEmpty = -12,
  dbErrNoSuchRecord = -13,
  dbErrWriteFailed = -14,
  dbErrNotOpen = -15
};

/* Longest message (dbErrWriteFailed) plus its NUL: a buffer of this size takes every message. */
#define DB_MESSAGE_BUFFER_SIZE 159

#ifdef __cplusplus

/* The table object's interface. Slot numbers are given in front of each operation. */
class TMainDB {
 public:
  /* 0: the stored path, owned by the object (valid until the next SetFileName or FreeFileName);
   * null when none is set. */
  virtual const char* DB_CALL GetFileName() = 0;
  /* 1: stores a copy of path, releasing the previous one. 0 when memory runs out or path is null;
   * the object then has no file name. */
  virtual DB_BOOL DB_CALL SetFileName(const char* path) = 0;
  /* 2: releases the stored path. Always 1. */
  virtual DB_BOOL DB_CALL FreeFileName() = 0;
  /* 3: stores the field delimiter (any byte) and marks it as given. Always 1. */
  virtual DB_BOOL DB_CALL SetDelimiter(char delimiter) = 0;
  /* 4: the stored delimiter; NUL before any SetDelimiter. */
  virtual char DB_CALL GetDelimiter() = 0;
  /* 5: writes 1 and 1 through the non-null pointers. Always 1. */
  virtual DB_BOOL DB_CALL GetVersion(int* major, int* minor) = 0;
  /* 6: length of the version text without its NUL (13). */
  virtual int DB_CALL GetVersionTextLength() = 0;
  /* 7: copies the version text and its NUL (14 bytes) into buffer; no size is checked, a null
   * buffer is left alone. Always 1. */
  virtual DB_BOOL DB_CALL GetVersionText(char* buffer) = 0;
  /* 8: reads the file named by the stored path into a new table. Returns the number of records,
   * 0 for an empty file, or dbErrNoFileName, dbErrFileNotFound, dbErrNoDelimiter, dbErrFileAccess,
   * dbErrFieldCount, dbErrIntegrity, dbErrOutOfMemory.
   * The out-parameters, once the file has been read through (not for an empty file or a failure
   * before that):
   *  - with checkFieldCount 1, *fieldCount is first read as the expected field count; a file whose
   *    largest field count differs gives dbErrFieldCount (a null fieldCount always does);
   *  - *fieldCount then receives the file's largest field count, also when the call fails with
   *    dbErrFieldCount or dbErrIntegrity; the table takes that count too;
   *  - *sameFieldCount is read as a flag: when it is 1 and a line ended by a line feed has another
   *    field count than the first line, the result is dbErrIntegrity and *sameFieldCount becomes 0;
   *    otherwise it receives 1 when those lines agree, else 0. After dbErrFieldCount it is not
   *    written.
   * A file of more lines, or a longer field, than 32 bits can count is refused with
   * dbErrOutOfMemory after these checks; one of more fields than that, before them (nothing is
   * written). A file whose records could never fit is refused the same way, after these checks
   * and before any record is allocated: every record holds a pointer for each field of the widest
   * line, and lines times that may pass neither the address space nor the machine's memory with
   * its swap or page file (nor a limit the process runs under). Null pointers are never written; a
   * null sameFieldCount counts as 0. */
  virtual int DB_CALL LoadFile(int* fieldCount, DB_BOOL checkFieldCount,
                               DB_BOOL* sameFieldCount) = 0;
  /* 9: appends the records of the file named by the stored path to the open table. Returns the
   * number of records appended or a code (those of LoadFile and dbErrNotOpen). The out-parameters
   * as for LoadFile; a table with records also gives dbErrFieldCount when the file's largest
   * field count is not the table's, and a table without records takes the file's count. Records
   * that could never fit beside the table's own are refused as by LoadFile. On any failure the
   * table's records and cursor are as before. */
  virtual int DB_CALL AppendFile(int* fieldCount, DB_BOOL checkFieldCount,
                                 DB_BOOL* sameFieldCount) = 0;
  /* 10: releases all records and closes the table; an open table without records stays open.
   * Always 1. */
  virtual DB_BOOL DB_CALL CloseTable() = 0;
  /* 11: copies field index of the current record (text-out convention). Codes: dbErrNotOpen,
   * dbErrNoRecords, dbErrNoRecordSelected, dbErrNoSuchField, dbErrFieldEmpty (absent field). */
  virtual int DB_CALL GetField(int index, char* buffer, unsigned size) = 0;
  /* 12: copies the message of code (text-out convention); -1 for a code outside the table. */
  virtual int DB_CALL GetErrorText(int code, char* buffer, unsigned size) = 0;
  /* 13-16: move the cursor; the new 1-based position, or dbErrNotOpen, dbErrNoRecords,
   * dbErrNoSuchRecord (a step past either end; the cursor stays). Without a current record
   * NextRecord starts at the first and PriorRecord at the last record. */
  virtual int DB_CALL NextRecord() = 0;
  virtual int DB_CALL FirstRecord() = 0;
  virtual int DB_CALL LastRecord() = 0;
  virtual int DB_CALL PriorRecord() = 0;
  /* 17: the field count of every record, or dbErrNotOpen. */
  virtual int DB_CALL GetFieldCount() = 0;
  /* 18: the current record's position, or dbErrNotOpen, dbErrNoRecords, dbErrNoRecordSelected. */
  virtual int DB_CALL GetRecordIndex() = 0;
  /* 19: the number of records (0 for an open table without records), or dbErrNotOpen.
   * dbErrNoRecords only for a table whose count is below 0, which no open table has. */
  virtual int DB_CALL GetRecordCount() = 0;
  /* 20-23: the module's information texts (text-out convention); never negative. */
  virtual int DB_CALL GetModuleName(char* buffer, unsigned size) = 0;
  virtual int DB_CALL GetCopyrightText(char* buffer, unsigned size) = 0;
  virtual int DB_CALL GetMakerText(char* buffer, unsigned size) = 0;
  virtual int DB_CALL GetDescription(char* buffer, unsigned size) = 0;
  /* 24: replaces field index of the current record with a copy of text. 0, or dbErrNotOpen,
   * dbErrNoRecords, dbErrNoRecordSelected, dbErrNoSuchField, dbErrOutOfMemory (field unchanged),
   * dbErrUnknown (text is null; nothing changes). */
  virtual int DB_CALL SetField(int index, const char* text) = 0;
  /* 25: writes the table to the stored path, replacing the file only once every byte is written.
   * The number of records written, or dbErrNotOpen, dbErrNoFileName, dbErrNoDelimiter,
   * dbErrFileAccess (nothing touched), dbErrWriteFailed (the file keeps its old bytes). */
  virtual int DB_CALL SaveFile() = 0;
  /* 26: deletes the current record. The position of the new current record, 0 when the table
   * became empty, or dbErrNotOpen, dbErrNoRecords, dbErrNoRecordSelected. */
  virtual int DB_CALL DeleteRecord() = 0;
  /* 27: appends a record with all fields absent and makes it current. Its position, or
   * dbErrNotOpen, dbErrOutOfMemory (table unchanged). */
  virtual int DB_CALL AddRecord() = 0;
  /* 28: releases any records and opens an empty table with fieldCount fields. Always dbOK. */
  virtual int DB_CALL NewTable(int fieldCount) = 0;
};

/* The factory: a new, independent table object, or null when no memory is left. The exported
 * name is exactly "_CreateDatenbankClassInstance". */
extern "C" DB_EXPORT TMainDB* DB_CALL
_CreateDatenbankClassInstance(void);  // NOLINT(bugprone-reserved-identifier)

#endif /* __cplusplus */

#endif /* OVELT_DATENBANK_H */
