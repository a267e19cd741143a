// Internal. A fingerprint of a file's bytes, taken by both loader passes to tell whether the file
// changed between them.
#ifndef OVELT_PRIMITIVES_FINGERPRINT_H
#define OVELT_PRIMITIVES_FINGERPRINT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

// The fingerprint of a block's bytes, continued from seed. Not a cryptographic hash: it only has to
// notice accidents. Four independent lanes take 32 bytes a step, so the multiplications overlap
// instead of waiting for each other.
inline std::uint64_t Fingerprint(std::uint64_t seed, const unsigned char* p,
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

#endif  // OVELT_PRIMITIVES_FINGERPRINT_H
