#include "fuzz/fuzz_allocator.h"

#include <cstdlib>

void* TFuzzAllocator::Allocate(std::size_t size) noexcept {
  ++attempts_;
  if (failAt_ != 0 && (attempts_ == failAt_ || (persistent_ && attempts_ > failAt_))) {
    ++failures_;
    return nullptr;
  }
  // As the process heap allocator does: a one-byte block for size 0 keeps null meaning failure.
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) {
    ++allocated_;
  }
  return block;
}

void TFuzzAllocator::Release(void* block) noexcept {
  if (block != nullptr) {
    ++released_;
    std::free(block);
  }
}
