// Internal. The byte scan of byte_scan.h, sixteen bytes at a time with SSE2: the same answers.
#ifndef OVELT_PRIMITIVES_BYTE_SCAN_SSE2_H
#define OVELT_PRIMITIVES_BYTE_SCAN_SSE2_H

#include <cstddef>
#include <cstdint>

#include "primitives/byte_scan.h"
#include "primitives/simd.h"

#if DB_SSE2_VARIANT
DB_SSE2_BEGIN
namespace sse2 {

constexpr bool kWideScan = true;

class TByteScan {
 public:
  TByteScan(unsigned char a, unsigned char b, unsigned char c) noexcept
      : FA(_mm_set1_epi8(static_cast<char>(a))),
        FB(_mm_set1_epi8(static_cast<char>(b))),
        FC(_mm_set1_epi8(static_cast<char>(c))),
        FLast{a, b, c} {}

  const unsigned char* Find(const unsigned char* p, const unsigned char* end) const noexcept {
    // Long runs go four widths a step.
    while (end - p >= 4 * kScanWidth && !AnyInFour(p)) {
      p += 4 * kScanWidth;
    }
    while (end - p >= kScanWidth) {
      const std::uint32_t mask = Hits(p);
      if (mask != 0) {
        return p + FirstBit(mask);
      }
      p += kScanWidth;
    }
    while (p < end && *p != FLast[0] && *p != FLast[1] && *p != FLast[2]) {
      ++p;
    }
    return p;
  }

  bool AnyInFour(const unsigned char* p) const noexcept {
    __m128i any = _mm_setzero_si128();
    for (int i = 0; i < 4; ++i) {
      any = _mm_or_si128(any, Equal(Load(p + i * kScanWidth)));
    }
    return _mm_movemask_epi8(any) != 0;
  }

  std::uint32_t Hits(const unsigned char* p) const noexcept {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(Equal(Load(p))));
  }

  void Masks(const unsigned char* p, std::uint32_t* first, std::uint32_t* second) const noexcept {
    const __m128i v = Load(p);
    *first = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, FA)));
    *second = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, FB)));
  }

 private:
  static __m128i Load(const unsigned char* p) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  __m128i Equal(__m128i v) const noexcept {
    return _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, FA), _mm_cmpeq_epi8(v, FB)),
                        _mm_cmpeq_epi8(v, FC));
  }

  __m128i FA;
  __m128i FB;
  __m128i FC;
  unsigned char FLast[3];
};

}  // namespace sse2
DB_SSE2_END
#endif  // DB_SSE2_VARIANT

#endif  // OVELT_PRIMITIVES_BYTE_SCAN_SSE2_H
