// Fuzz support: the allocator the fuzz targets make their table objects with. It counts the blocks
// an object holds, so a run can prove that CloseTable and FreeFileName give everything back, and it
// fails one chosen allocation attempt (transient) or that attempt and every later one (persistent).
//
// Blocks come straight from the heap with nothing added, so AddressSanitizer sees every block at
// its true size: a write past the end, a double release or the release of a foreign pointer stops
// the run there.
#ifndef OVELT_FUZZ_FUZZ_ALLOCATOR_H
#define OVELT_FUZZ_FUZZ_ALLOCATOR_H

#include <cstddef>
#include <cstdint>

#include "platform/allocator.h"

class TFuzzAllocator final : public TAllocator {
 public:
  TFuzzAllocator() = default;
  TFuzzAllocator(const TFuzzAllocator&) = delete;
  TFuzzAllocator& operator=(const TFuzzAllocator&) = delete;
  ~TFuzzAllocator() = default;

  void* Allocate(std::size_t size) noexcept override;
  void Release(void* block) noexcept override;

  // Fails attempt n counted from the start (1: the first Allocate ever); with persistent, every
  // attempt from n on. 0 fails nothing.
  void FailAt(std::uint64_t n, bool persistent) noexcept {
    failAt_ = n;
    persistent_ = persistent;
  }

  // Blocks handed out and not yet released.
  std::uint64_t Live() const noexcept { return allocated_ - released_; }
  std::uint64_t Attempts() const noexcept { return attempts_; }
  std::uint64_t Failures() const noexcept { return failures_; }

 private:
  std::uint64_t attempts_ = 0;
  std::uint64_t allocated_ = 0;
  std::uint64_t released_ = 0;
  std::uint64_t failAt_ = 0;
  bool persistent_ = false;
  std::uint64_t failures_ = 0;
};

#endif  // OVELT_FUZZ_FUZZ_ALLOCATOR_H
