// Internal. Short texts measured and copied sixteen bytes at a time.
//
// A text whose sixteen-byte window (the text's first byte and the fifteen after it) can be read
// whole, such as a text inside a record chunk with room after it, is measured with one compare
// instead of a byte loop whose end the processor cannot predict. Reading the window is only safe
// where the caller knows every one of its bytes belongs to memory it owns and has written.
#ifndef OVELT_PRIMITIVES_TEXT_WINDOW_H
#define OVELT_PRIMITIVES_TEXT_WINDOW_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

constexpr std::size_t kTextWindow = 16;

// The length of the text at window when its NUL lies among the kTextWindow bytes from window on,
// all of which must be readable; -1 when there is no NUL among them.
inline int NulInWindow(const char* window) noexcept {
#if defined(__SSE2__)
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window));
  const auto nuls =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
  return nuls == 0 ? -1 : __builtin_ctz(nuls);
#else
  for (int i = 0; i < static_cast<int>(kTextWindow); ++i) {
    if (window[i] == '\0') {
      return i;
    }
  }
  return -1;
#endif
}

// The length of a text whose window can be read whole: one look for a short text, the C library
// past the window for a long one.
inline std::size_t StoredTextLength(const char* text) noexcept {
  const int length = NulInWindow(text);
  return length >= 0 ? static_cast<std::size_t>(length)
                     : kTextWindow + std::strlen(text + kTextWindow);
}

// Copies the kTextWindow bytes from window on, all of which must be readable, to target, which
// must have room for them all, and returns the length of the text at window when its NUL is among
// them (the bytes after it are copied too); -1 otherwise.
inline int CopyWindow(char* target, const char* window) noexcept {
#if defined(__SSE2__)
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(target), bytes);
  const auto nuls =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
  return nuls == 0 ? -1 : __builtin_ctz(nuls);
#else
  std::memcpy(target, window, kTextWindow);
  return NulInWindow(window);
#endif
}

// Copies count bytes, 1 to kTextWindow, from source to target, in at most three stores of
// overlapping pieces; no byte outside the count is written.
inline void CopyShortText(char* target, const char* source, std::size_t count) noexcept {
  if (count >= 8) {
    std::uint64_t head = 0;
    std::uint64_t tail = 0;
    std::memcpy(&head, source, 8);
    std::memcpy(&tail, source + count - 8, 8);
    std::memcpy(target, &head, 8);
    std::memcpy(target + count - 8, &tail, 8);
  } else if (count >= 4) {
    std::uint32_t head = 0;
    std::uint32_t tail = 0;
    std::memcpy(&head, source, 4);
    std::memcpy(&tail, source + count - 4, 4);
    std::memcpy(target, &head, 4);
    std::memcpy(target + count - 4, &tail, 4);
  } else {
    // 1 to 3 bytes: first, middle and last cover them all.
    const char first = source[0];
    const char middle = source[count / 2];
    const char last = source[count - 1];
    target[0] = first;
    target[count / 2] = middle;
    target[count - 1] = last;
  }
}

#endif  // OVELT_PRIMITIVES_TEXT_WINDOW_H
