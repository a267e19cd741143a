// Internal. The text-out convention by which texts are handed to the host through its buffer.
//
// The host passes a buffer and its size, NUL included. Before any check the first byte becomes
// NUL (when the size is at least 1), so every result but 0 leaves the empty text. A text of n bytes
// is copied with its NUL when n <= size - 1 (result 0); otherwise nothing more is written and the
// result is n. A size of 0 writes nothing at all. A null buffer counts as size 0.
//
// Everything is inline: a host reading a table field by field calls this millions of times, and
// most field texts are short. The usual case of GetField, a short stored text into a large buffer,
// goes a quicker way still (DeliverShortText, text_window.h).
#ifndef OVELT_PRIMITIVES_TEXT_OUT_H
#define OVELT_PRIMITIVES_TEXT_OUT_H

#include <climits>
#include <cstddef>
#include <cstring>

#include "primitives/text_window.h"

// The length of text; short texts are measured without a library call.
inline std::size_t CStringLength(const char* text) noexcept {
  constexpr std::size_t kShort = 16;
  std::size_t length = 0;
  while (length < kShort && text[length] != '\0') {
    ++length;
  }
  return length < kShort ? length : kShort + std::strlen(text + kShort);
}

class TTextOut {
 public:
  // Writes the leading NUL.
  TTextOut(char* buffer, unsigned size) noexcept
      : FBuffer(buffer), FSize(buffer == nullptr ? 0U : size) {
    if (FSize >= 1) {
      FBuffer[0] = '\0';
    }
  }

  // Copies text, or returns its length when it does not fit.
  int Deliver(const char* text, std::size_t length) const noexcept {
    // INT_MAX bytes is the longest text the loaders and SetField take.
    if (FSize == 0 || length > FSize - 1U) {
      return length > INT_MAX ? INT_MAX : static_cast<int>(length);
    }
    if (length < kTextWindow) {
      CopyShortText(FBuffer, text, length + 1);
    } else {
      std::memcpy(FBuffer, text, length + 1);
    }
    return 0;
  }

  int Deliver(const char* text) const noexcept { return Deliver(text, CStringLength(text)); }

 private:
  char* FBuffer;
  unsigned FSize;
};

#endif  // OVELT_PRIMITIVES_TEXT_OUT_H
