// Internal. The text-out convention by which texts are handed to the host through its buffer.
//
// The host passes a buffer and its size, NUL included. Before any check the first byte becomes
// NUL (when the size is at least 1), so every result but 0 leaves the empty text. A text of n bytes
// is copied with its NUL when n <= size - 1 (result 0); otherwise nothing more is written and the
// result is n. A size of 0 writes nothing at all. A null buffer counts as size 0.
#ifndef OVELT_TEXTS_TEXT_OUT_H
#define OVELT_TEXTS_TEXT_OUT_H

#include <cstddef>

class TTextOut {
 public:
  // Writes the leading NUL.
  TTextOut(char* buffer, unsigned size) noexcept;
  // Copies text, or returns its length when it does not fit.
  int Deliver(const char* text, std::size_t length) const noexcept;
  int Deliver(const char* text) const noexcept;

 private:
  char* FBuffer;
  unsigned FSize;
};

#endif  // OVELT_TEXTS_TEXT_OUT_H
