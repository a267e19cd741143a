// Internal. TDatenbank, the table object behind TMainDB: its state, invariants and the environment
// (allocator, file layer, read block size) it is made with.
//
// Invariants while the table is open:
//  1. FFirst and FLast are both null or both set; Next from FFirst visits FRecordCount records and
//     ends at FLast, Prev from FLast visits them in reverse.
//  2. FRecordCount is 0 exactly when the list is empty, and never negative.
//  3. Every record's field array has FFieldCount entries.
//  4. FCurrent is null and FCurrentIndex -1, or FCurrent is a record of the list and
//     FCurrentIndex its 1-based position.
//  5. Every field text's window (kTextWindow bytes from its first) lies inside its block
//     (TRecordStore::CheckTexts).
// While no table is open the list is empty and there is no current record; FRecordCount and
// FFieldCount keep their last values, which no operation reports until a table is open again.
#ifndef OVELT_TABLE_DATENBANK_TABLE_H
#define OVELT_TABLE_DATENBANK_TABLE_H

#include "datenbank.h"
#include "engines/environment.h"
#include "store/record.h"
#include "store/record_store.h"

// A new table object in its fresh state, made from env's allocator, running env's kernels; null
// when memory runs out.
TMainDB* NewTableObject(const TModuleEnv& env) noexcept;

// The table object. Its GetField runs the portable kernels; TDatenbankSse2 below differs in that
// operation and the cursor's steps only, and NewTableObject makes whichever the environment's
// kernels say. The other operations take the kernels from the environment where they run them.
class TDatenbank : public TMainDB {
 public:
  explicit TDatenbank(const TModuleEnv& env) noexcept;

  const char* DB_CALL GetFileName() override;
  DB_BOOL DB_CALL SetFileName(const char* path) override;
  DB_BOOL DB_CALL FreeFileName() override;
  DB_BOOL DB_CALL SetDelimiter(char delimiter) override;
  char DB_CALL GetDelimiter() override;
  DB_BOOL DB_CALL GetVersion(int* major, int* minor) override;
  int DB_CALL GetVersionTextLength() override;
  DB_BOOL DB_CALL GetVersionText(char* buffer) override;
  int DB_CALL LoadFile(int* fieldCount, DB_BOOL checkFieldCount, DB_BOOL* sameFieldCount) override;
  int DB_CALL AppendFile(int* fieldCount, DB_BOOL checkFieldCount,
                         DB_BOOL* sameFieldCount) override;
  DB_BOOL DB_CALL CloseTable() override;
  int DB_CALL GetField(int index, char* buffer, unsigned size) override;
  int DB_CALL GetErrorText(int code, char* buffer, unsigned size) override;
  int DB_CALL NextRecord() override;
  int DB_CALL FirstRecord() override;
  int DB_CALL LastRecord() override;
  int DB_CALL PriorRecord() override;
  int DB_CALL GetFieldCount() override;
  int DB_CALL GetRecordIndex() override;
  int DB_CALL GetRecordCount() override;
  int DB_CALL GetModuleName(char* buffer, unsigned size) override;
  int DB_CALL GetCopyrightText(char* buffer, unsigned size) override;
  int DB_CALL GetMakerText(char* buffer, unsigned size) override;
  int DB_CALL GetDescription(char* buffer, unsigned size) override;
  int DB_CALL SetField(int index, const char* text) override;
  int DB_CALL SaveFile() override;
  int DB_CALL DeleteRecord() override;
  int DB_CALL AddRecord() override;
  int DB_CALL NewTable(int fieldCount) override;

  // For tests: null when the invariants above hold, else a description of the first one broken.
  const char* CheckInvariants() const noexcept;

 protected:
  // GetField's usual case: the text of field index of the current record, or null when there is
  // no current record, the index is out of range or the field is absent.
  const char* UsualField(int index) const noexcept {
    // A current record implies an open table with records, and so a field count of 0 or more:
    // one unsigned comparison tells a negative index too.
    const TRecordNode* current = FCurrent;
    return current != nullptr && static_cast<unsigned>(index) < static_cast<unsigned>(FFieldCount)
               ? current->Fields()[index]
               : nullptr;
  }
  // GetField by the general way: every check, and texts of any length or buffers of any size.
  int GetFieldChecked(int index, char* buffer, unsigned size) noexcept;

  // NextRecord and PriorRecord, for both objects. A step from a record to its neighbour hints the
  // memory a page further on (WalkAhead); on a 32-bit build only the SSE2 object's copy has the
  // instruction for that. Every other case goes the checked way.
  int StepNext() noexcept {
    // A current record implies an open table with records: a walk needs no other check.
    if (FCurrent != nullptr && FCurrent->Next != nullptr) {
      FCurrent = FCurrent->Next;
      WalkAhead(FCurrent, 1);
      return ++FCurrentIndex;
    }
    return NextRecordChecked();
  }
  int StepPrior() noexcept {
    if (FCurrent != nullptr && FCurrent->Prev != nullptr) {
      FCurrent = FCurrent->Prev;
      WalkAhead(FCurrent, -1);
      return --FCurrentIndex;
    }
    return PriorRecordChecked();
  }
  int NextRecordChecked() noexcept;
  int PriorRecordChecked() noexcept;

 private:
  bool HasNoRecords() const noexcept { return FLast == nullptr || FRecordCount == 0; }
  // The checks that open the record operations: -15, -10, -9 in that order, else dbOK.
  int CheckCurrentRecord() const noexcept {
    if (!FOpen) {
      return dbErrNotOpen;
    }
    if (HasNoRecords()) {
      return dbErrNoRecords;
    }
    return FCurrent == nullptr ? dbErrNoRecordSelected : dbOK;
  }
  // The settings checks shared by both loaders: -4, -2, -6 in that order, else dbOK.
  int CheckLoadSettings() noexcept;
  // Drops the cursor and marks the table open with no current record.
  void ResetCursor() noexcept;

  char* FFileName = nullptr;
  char FDelimiter = '\0';
  bool FDelimiterSet = false;
  bool FOpen = false;
  int FCurrentIndex = -1;
  TRecordNode* FFirst = nullptr;
  TRecordNode* FLast = nullptr;
  int FRecordCount = -1;
  int FFieldCount = 0;
  TRecordNode* FCurrent = nullptr;

  TModuleEnv FEnv;
  TRecordStore FStore;
};

// The table object whose GetField runs the SSE2 kernels.
class TDatenbankSse2 final : public TDatenbank {
 public:
  using TDatenbank::TDatenbank;
  int DB_CALL GetField(int index, char* buffer, unsigned size) override;
  int DB_CALL NextRecord() override;
  int DB_CALL PriorRecord() override;
};

#endif  // OVELT_TABLE_DATENBANK_TABLE_H
