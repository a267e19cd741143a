// Field access on the current record.
#include <climits>
#include <cstring>

#include "primitives/text_out.h"
#include "table/datenbank_table.h"

int DB_CALL TDatenbank::GetField(int index, char* buffer, unsigned size) {
  // A current record implies an open table with records, and so a field count of 0 or more: the
  // usual case needs no other check, and one unsigned comparison tells a negative index too.
  const TRecordNode* current = FCurrent;
  if (current != nullptr && static_cast<unsigned>(index) < static_cast<unsigned>(FFieldCount)) {
    const char* text = current->Fields()[index];
    if (text != nullptr && DeliverShortText(buffer, size, text)) {
      return dbOK;
    }
  }
  return GetFieldChecked(index, buffer, size);
}

// Kept out of line, so the usual case above stays a short leaf function.
#if defined(__GNUC__)
__attribute__((noinline))
#elif defined(_MSC_VER)
__declspec(noinline)
#endif
int TDatenbank::GetFieldChecked(int index, char* buffer, unsigned size) noexcept {
  const TTextOut out(buffer, size);
  const int check = CheckCurrentRecord();
  if (check != dbOK) {
    return check;
  }
  if (index < 0 || index >= FFieldCount) {
    return dbErrNoSuchField;
  }
  const char* text = FCurrent->Fields()[index];
  if (text == nullptr) {
    return dbErrFieldEmpty;
  }
  return out.DeliverWindowed(text);
}

int DB_CALL TDatenbank::SetField(int index, const char* text) {
  const int check = CheckCurrentRecord();
  if (check != dbOK) {
    return check;
  }
  if (index < 0 || index > FFieldCount - 1) {
    return dbErrNoSuchField;
  }
  if (text == nullptr) {
    return dbErrUnknown;
  }
  const std::size_t length = std::strlen(text);
  // A text the text-out operations could not report the length of is refused like an allocation.
  if (length > static_cast<std::size_t>(INT_MAX)) {
    return dbErrOutOfMemory;
  }
  return FStore.SetText(FCurrent, index, text, length) ? dbOK : dbErrOutOfMemory;
}
