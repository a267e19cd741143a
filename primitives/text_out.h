// Internal. The text-out convention by which texts are handed to the host through its buffer.
//
// The host passes a buffer and its size, NUL included. Before any check the first byte becomes
// NUL (when the size is at least 1), so every result but 0 leaves the empty text. A text of n bytes
// is copied with its NUL when n <= size - 1 (result 0); otherwise nothing more is written and the
// result is n. A size of 0 writes nothing at all. A null buffer counts as size 0.
//
// Everything is inline: a host reading a table field by field calls this millions of times, and
// most field texts are short.
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
    // Texts never reach INT_MAX bytes: the loaders and SetField refuse longer ones.
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

  // As Deliver(text), for a text whose window (kTextWindow bytes) can be read whole.
  int DeliverWindowed(const char* text) const noexcept {
    return Deliver(text, StoredTextLength(text));
  }

 private:
  char* FBuffer;
  unsigned FSize;
};

// The usual case of the convention in one load and one store: a text shorter than a window, whose
// window can be read whole, into a buffer of at least a window's bytes. The bytes after the NUL are
// written back as they were, so the host sees exactly the text and its NUL written. False, with
// nothing written, when the text or the buffer does not qualify; the caller then goes the general
// way, TTextOut.
inline bool DeliverShortText(char* buffer, unsigned size, const char* text) noexcept {
#if defined(__SSE2__)
  if (buffer == nullptr || size < kTextWindow) {
    return false;
  }
  const __m128i window = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
  const auto nuls =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(window, _mm_setzero_si128())));
  if (nuls == 0) {
    return false;
  }
  // keep: all ones at the positions after the NUL, read from a row of zeros followed by ones.
  static constexpr unsigned char kAfterNul[2 * kTextWindow] = {
      0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
      255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255};
  const auto length = static_cast<std::size_t>(__builtin_ctz(nuls));
  const __m128i keep =
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(kAfterNul + kTextWindow - 1 - length));
  auto* target = reinterpret_cast<__m128i*>(buffer);
  const __m128i old = _mm_loadu_si128(target);
  // old where keep is set, window elsewhere
  _mm_storeu_si128(target, _mm_xor_si128(old, _mm_andnot_si128(keep, _mm_xor_si128(old, window))));
  return true;
#else
  (void)buffer;
  (void)size;
  (void)text;
  return false;
#endif
}

#endif  // OVELT_PRIMITIVES_TEXT_OUT_H
