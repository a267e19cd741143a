// Field access on the current record. GetField's usual case is compiled twice, with the portable
// and the SSE2 window functions.
#include <climits>
#include <cstring>

#include "primitives/simd.h"
#include "primitives/text_out.h"
#include "primitives/text_window.h"
#include "primitives/text_window_sse2.h"
#include "table/datenbank_table.h"

int DB_CALL TDatenbank::GetField(int index, char* buffer, unsigned size) {
  const char* text = UsualField(index);
  if (text != nullptr && portable::DeliverShortText(buffer, size, text)) {
    return dbOK;
  }
  return GetFieldChecked(index, buffer, size);
}

#if DB_SSE2_VARIANT
DB_SSE2_BEGIN
namespace sse2 {
namespace {

// A stored text longer than a window, or a buffer smaller than one: true once the text and its
// NUL are written, false (nothing written) when the text does not fit. Window by window, where
// that is faster than the C runtime (kWindowLoops); kept out of line so GetField stays short.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
bool DeliverOtherText(char* buffer, unsigned size, const char* text) noexcept {
  const std::size_t length = StoredTextLength(text);
  if (length >= size) {
    return false;
  }
  CopyStoredText(buffer, text, length);
  return true;
}

}  // namespace
}  // namespace sse2

int DB_CALL TDatenbankSse2::GetField(int index, char* buffer, unsigned size) {
  const char* text = UsualField(index);
  if (text != nullptr &&
      (sse2::DeliverShortText(buffer, size, text) ||
       (sse2::kWindowLoops && buffer != nullptr && sse2::DeliverOtherText(buffer, size, text)))) {
    return dbOK;
  }
  return GetFieldChecked(index, buffer, size);
}
DB_SSE2_END
#else
// Never made where the processor has no SSE2 (ChooseKernels).
int DB_CALL TDatenbankSse2::GetField(int index, char* buffer, unsigned size) {
  return TDatenbank::GetField(index, buffer, size);
}
#endif

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
  return out.Deliver(text, std::strlen(text));
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
