// Internal. The window functions of text_window.h with SSE2: one load finds the NUL among a
// window's sixteen bytes. The same results as the portable ones.
#ifndef OVELT_PRIMITIVES_TEXT_WINDOW_SSE2_H
#define OVELT_PRIMITIVES_TEXT_WINDOW_SSE2_H

#include <cstddef>

#include "primitives/byte_scan.h"
#include "primitives/simd.h"
#include "primitives/text_window.h"

#if DB_SSE2_VARIANT
DB_SSE2_BEGIN
namespace sse2 {

// Bit i set when byte i of the window is NUL.
inline unsigned NulMask(__m128i window) noexcept {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(window, _mm_setzero_si128())));
}

inline __m128i LoadWindow(const char* window) noexcept {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(window));
}

inline int NulInWindow(const char* window) noexcept {
  const unsigned nuls = NulMask(LoadWindow(window));
  return nuls == 0 ? -1 : static_cast<int>(FirstBit(nuls));
}

// Long texts go window by window where the C runtime's copies are slower than these loops: in
// 32-bit builds, and where the build says the runtime copies slowly (DB_RUNTIME_COPIES_SLOW: the
// Windows DLLs of both widths, whose msvcrt reads a 2.5 MB field three times slower than these
// loops under Wine). A 64-bit glibc's own vector copies are faster still.
#if defined(DB_RUNTIME_COPIES_SLOW)
constexpr bool kWindowLoops = true;
#else
constexpr bool kWindowLoops = sizeof(void*) == 4;
#endif

inline std::size_t StoredTextLength(const char* text) noexcept {
  for (std::size_t at = 0;; at += kTextWindow) {
    const unsigned nuls = NulMask(LoadWindow(text + at));
    if (nuls != 0) {
      return at + FirstBit(nuls);
    }
  }
}

inline void CopyStoredText(char* target, const char* text, std::size_t length) noexcept {
  if (length + 1 < kTextWindow) {
    CopyShortText(target, text, length + 1);
    return;
  }
  // Whole windows, and the last one ending at the NUL: it overlaps what is copied already.
  const std::size_t last = length + 1 - kTextWindow;
  for (std::size_t at = 0; at < last; at += kTextWindow) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(target + at), LoadWindow(text + at));
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(target + last), LoadWindow(text + last));
}

inline int CopyWindow(char* target, const char* window) noexcept {
  const __m128i bytes = LoadWindow(window);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(target), bytes);
  const unsigned nuls = NulMask(bytes);
  return nuls == 0 ? -1 : static_cast<int>(FirstBit(nuls));
}

// One load and one store: the bytes of the buffer's window after the NUL are written back as they
// were, so the host sees exactly the text and its NUL written.
inline bool DeliverShortText(char* buffer, unsigned size, const char* text) noexcept {
  if (buffer == nullptr || size < kTextWindow) {
    return false;
  }
  const __m128i window = LoadWindow(text);
  const unsigned nuls = NulMask(window);
  if (nuls == 0) {
    return false;
  }
  // keep: all ones at the positions after the NUL, read from a row of zeros followed by ones.
  static constexpr unsigned char kAfterNul[2 * kTextWindow] = {
      0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
      255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255};
  const std::size_t length = FirstBit(nuls);
  const __m128i keep =
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(kAfterNul + kTextWindow - 1 - length));
  auto* target = reinterpret_cast<__m128i*>(buffer);
  const __m128i old = _mm_loadu_si128(target);
  // old where keep is set, window elsewhere
  _mm_storeu_si128(target, _mm_xor_si128(old, _mm_andnot_si128(keep, _mm_xor_si128(old, window))));
  return true;
}

}  // namespace sse2
DB_SSE2_END
#endif  // DB_SSE2_VARIANT

#endif  // OVELT_PRIMITIVES_TEXT_WINDOW_SSE2_H
