// Internal. A fingerprint of a file's bytes, taken by both loader passes to tell whether the file
// changed between them.
//
// Not a cryptographic hash: it only has to notice accidents. There are two, one for each word size:
// a 64-bit processor multiplies 64-bit words in one instruction, while 32-bit x86 needs three for
// that but takes the 64-bit product of two 32-bit words in one. Fingerprint picks the one that is
// fast on the processor the library is built for; both passes of a load take the same one, so the
// two never meet. Each keeps four independent lanes, so the multiplications overlap instead of
// waiting for each other.
#ifndef OVELT_PRIMITIVES_FINGERPRINT_H
#define OVELT_PRIMITIVES_FINGERPRINT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

// 64-bit lanes, 32 bytes a step; the block's bytes continued from seed.
inline std::uint64_t Fingerprint64(std::uint64_t seed, const unsigned char* p,
                                   std::size_t size) noexcept {
  constexpr std::uint64_t kPrime = 0x100000001B3ULL;
  const auto mix = [](std::uint64_t h, std::uint64_t word) noexcept {
    h = (h ^ word) * kPrime;
    return h ^ (h >> 29);
  };
  std::uint64_t h = seed;
  if (size >= 32) {
    std::uint64_t lanes[4] = {h, h ^ 0x9E3779B97F4A7C15ULL, h ^ 0xC2B2AE3D27D4EB4FULL,
                              h ^ 0x165667B19E3779F9ULL};
    for (; size >= 32; size -= 32, p += 32) {
      for (std::size_t i = 0; i < 4; ++i) {
        std::uint64_t word = 0;
        std::memcpy(&word, p + 8 * i, 8);
        lanes[i] = mix(lanes[i], word);
      }
    }
    h = mix(mix(mix(lanes[0], lanes[1]), lanes[2]), lanes[3]);
  }
  for (; size >= 8; size -= 8, p += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, p, 8);
    h = mix(h, word);
  }
  for (; size > 0; --size, ++p) {
    h = (h ^ *p) * kPrime;
  }
  return h;
}

// 32-bit lanes, 16 bytes a step: each word is multiplied into its lane and the product's two
// halves are folded together.
inline std::uint64_t Fingerprint32(std::uint64_t seed, const unsigned char* p,
                                   std::size_t size) noexcept {
  constexpr std::uint32_t kOdd = 0x9E3779B1U;
  const auto mix = [](std::uint32_t h, std::uint32_t word) noexcept {
    const std::uint64_t product = std::uint64_t{h ^ word} * kOdd;
    return static_cast<std::uint32_t>(product) ^ static_cast<std::uint32_t>(product >> 32);
  };
  std::uint32_t h = static_cast<std::uint32_t>(seed) ^ static_cast<std::uint32_t>(seed >> 32);
  if (size >= 16) {
    std::uint32_t lanes[4] = {h, h ^ 0x85EBCA77U, h ^ 0xC2B2AE3DU, h ^ 0x27D4EB2FU};
    for (; size >= 16; size -= 16, p += 16) {
      for (std::size_t i = 0; i < 4; ++i) {
        std::uint32_t word = 0;
        std::memcpy(&word, p + 4 * i, 4);
        lanes[i] = mix(lanes[i], word);
      }
    }
    h = mix(mix(mix(lanes[0], lanes[1]), lanes[2]), lanes[3]);
  }
  for (; size >= 4; size -= 4, p += 4) {
    std::uint32_t word = 0;
    std::memcpy(&word, p, 4);
    h = mix(h, word);
  }
  for (; size > 0; --size, ++p) {
    h = mix(h, *p);
  }
  return h;
}

inline std::uint64_t Fingerprint(std::uint64_t seed, const unsigned char* p,
                                 std::size_t size) noexcept {
  return sizeof(void*) >= 8 ? Fingerprint64(seed, p, size) : Fingerprint32(seed, p, size);
}

#endif  // OVELT_PRIMITIVES_FINGERPRINT_H
