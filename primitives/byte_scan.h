// Internal. Finding the bytes that matter to the loader (line feeds, carriage returns, the
// delimiter) in a block, sixteen bytes at a time where the processor has SSE2, byte by byte
// elsewhere. Both ways give the same answers; only the speed differs.
#ifndef OVELT_PRIMITIVES_BYTE_SCAN_H
#define OVELT_PRIMITIVES_BYTE_SCAN_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

class TByteScan {
 public:
  static constexpr std::ptrdiff_t kWidth = 16;

  TByteScan(unsigned char a, unsigned char b, unsigned char c) noexcept : FA(a), FB(b), FC(c) {}

  // The first byte in [p, end) that equals a, b or c; end when there is none.
  const unsigned char* Find(const unsigned char* p, const unsigned char* end) const noexcept {
#if defined(__SSE2__)
    // Long runs go four widths a step.
    while (end - p >= 4 * kWidth && !AnyInFour(p)) {
      p += 4 * kWidth;
    }
    while (end - p >= kWidth) {
      const std::uint32_t mask = Hits(p);
      if (mask != 0) {
        return p + FirstBit(mask);
      }
      p += kWidth;
    }
#endif
    while (p < end && *p != FA && *p != FB && *p != FC) {
      ++p;
    }
    return p;
  }

#if defined(__SSE2__)
  // Whether any of the 4 * kWidth bytes from p equals a, b or c.
  bool AnyInFour(const unsigned char* p) const noexcept {
    const __m128i a = _mm_set1_epi8(static_cast<char>(FA));
    const __m128i b = _mm_set1_epi8(static_cast<char>(FB));
    const __m128i c = _mm_set1_epi8(static_cast<char>(FC));
    __m128i any = _mm_setzero_si128();
    for (int i = 0; i < 4; ++i) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i * kWidth));
      any = _mm_or_si128(any, _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, a), _mm_cmpeq_epi8(v, b)),
                                           _mm_cmpeq_epi8(v, c)));
    }
    return _mm_movemask_epi8(any) != 0;
  }

  // For the kWidth bytes from p: bit i is set when byte i equals a, b or c.
  std::uint32_t Hits(const unsigned char* p) const noexcept {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hits =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(FA))),
                                  _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(FB)))),
                     _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(FC))));
    return static_cast<std::uint32_t>(_mm_movemask_epi8(hits));
  }
#endif

  // For the kWidth bytes from p: bit i of *first is set when byte i equals a, bit i of *second
  // when it equals b.
  void Masks(const unsigned char* p, std::uint32_t* first, std::uint32_t* second) const noexcept {
#if defined(__SSE2__)
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    *first = static_cast<std::uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(FA)))));
    *second = static_cast<std::uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(FB)))));
#else
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    for (int i = 0; i < kWidth; ++i) {
      a |= static_cast<std::uint32_t>(p[i] == FA) << i;
      b |= static_cast<std::uint32_t>(p[i] == FB) << i;
    }
    *first = a;
    *second = b;
#endif
  }

  // The index of the highest set bit of a mask that is not 0.
  static unsigned LastBit(std::uint32_t mask) noexcept {
#if defined(__GNUC__)
    return 31U - static_cast<unsigned>(__builtin_clz(mask));
#else
    unsigned bit = 31;
    while ((mask & (std::uint32_t{1} << bit)) == 0) {
      --bit;
    }
    return bit;
#endif
  }

  // The index of the lowest set bit of a mask that is not 0.
  static unsigned FirstBit(std::uint32_t mask) noexcept {
#if defined(__GNUC__)
    return static_cast<unsigned>(__builtin_ctz(mask));
#else
    unsigned bit = 0;
    while ((mask & 1U) == 0) {
      mask >>= 1;
      ++bit;
    }
    return bit;
#endif
  }

  // The number of set bits. Written out: without a popcount instruction in the target, the
  // compiler's builtin becomes a library call.
  static int Count(std::uint32_t mask) noexcept {
    mask = mask - ((mask >> 1) & 0x55555555U);
    mask = (mask & 0x33333333U) + ((mask >> 2) & 0x33333333U);
    mask = (mask + (mask >> 4)) & 0x0F0F0F0FU;
    return static_cast<int>((mask * 0x01010101U) >> 24);
  }

 private:
  unsigned char FA;
  unsigned char FB;
  unsigned char FC;
};

#endif  // OVELT_PRIMITIVES_BYTE_SCAN_H
