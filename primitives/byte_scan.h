// Internal. Finding the bytes that matter to the loader (line feeds, carriage returns, the
// delimiter) in a block: the portable way, byte by byte, here; the SSE2 way, sixteen bytes at a
// time, in byte_scan_sse2.h. Both give the same answers; only the speed differs.
#ifndef OVELT_PRIMITIVES_BYTE_SCAN_H
#define OVELT_PRIMITIVES_BYTE_SCAN_H

#include <cstddef>
#include <cstdint>

// Bytes a scan looks at in one step; a mask has one bit per byte.
constexpr std::ptrdiff_t kScanWidth = 16;

// The index of the lowest set bit of a mask that is not 0.
inline unsigned FirstBit(std::uint32_t mask) noexcept {
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

// The index of the highest set bit of a mask that is not 0.
inline unsigned LastBit(std::uint32_t mask) noexcept {
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

// The number of set bits. Written out: without a popcount instruction in the target, the
// compiler's builtin becomes a library call.
inline int CountBits(std::uint32_t mask) noexcept {
  mask = mask - ((mask >> 1) & 0x55555555U);
  mask = (mask & 0x33333333U) + ((mask >> 2) & 0x33333333U);
  mask = (mask + (mask >> 4)) & 0x0F0F0F0FU;
  return static_cast<int>((mask * 0x01010101U) >> 24);
}

namespace portable {

// Whether the loader should look at whole widths at a time: not without vector instructions,
// where a byte loop that stops at the first hit is faster.
constexpr bool kWideScan = false;

class TByteScan {
 public:
  TByteScan(unsigned char a, unsigned char b, unsigned char c) noexcept : FA(a), FB(b), FC(c) {}

  // The first byte in [p, end) that equals a, b or c; end when there is none.
  const unsigned char* Find(const unsigned char* p, const unsigned char* end) const noexcept {
    while (p < end && !Matches(*p)) {
      ++p;
    }
    return p;
  }

  // Whether any of the 4 * kScanWidth bytes from p equals a, b or c.
  bool AnyInFour(const unsigned char* p) const noexcept {
    return Find(p, p + 4 * kScanWidth) != p + 4 * kScanWidth;
  }

  // For the kScanWidth bytes from p: bit i is set when byte i equals a, b or c.
  std::uint32_t Hits(const unsigned char* p) const noexcept {
    std::uint32_t hits = 0;
    for (int i = 0; i < kScanWidth; ++i) {
      hits |= static_cast<std::uint32_t>(Matches(p[i])) << i;
    }
    return hits;
  }

  // For the kScanWidth bytes from p: bit i of *first is set when byte i equals a, bit i of
  // *second when it equals b.
  void Masks(const unsigned char* p, std::uint32_t* first, std::uint32_t* second) const noexcept {
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    for (int i = 0; i < kScanWidth; ++i) {
      a |= static_cast<std::uint32_t>(p[i] == FA) << i;
      b |= static_cast<std::uint32_t>(p[i] == FB) << i;
    }
    *first = a;
    *second = b;
  }

 private:
  bool Matches(unsigned char byte) const noexcept { return byte == FA || byte == FB || byte == FC; }

  unsigned char FA;
  unsigned char FB;
  unsigned char FC;
};

}  // namespace portable

#endif  // OVELT_PRIMITIVES_BYTE_SCAN_H
