// The process-heap allocator; on Linux its large blocks are mapped pages.
#include "platform/allocator.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <cstdint>
#include <cstdlib>

#include "platform/memory_limit.h"

namespace {

class TSystemAllocator final : public TAllocator {
 public:
  constexpr TSystemAllocator() = default;
  // malloc(0) may return null; a one-byte block keeps "null means failure" true.
  void* Allocate(std::size_t size) noexcept override { return std::malloc(size == 0 ? 1 : size); }
  void Release(void* block) noexcept override { std::free(block); }

#if defined(__linux__)
  // The pages are mapped and made present in one call: a chunk is written from end to end right
  // away, and taking its pages one fault at a time costs about as much as the load's own work.
  void* AllocateLarge(std::size_t size) noexcept override {
    void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
  }
  void ReleaseLarge(void* block, std::size_t size) noexcept override {
    if (block != nullptr) {
      (void)munmap(block, size);
    }
  }
#endif
};

TSystemAllocator gSystemAllocator;  // stateless: no mutable global state

}  // namespace

std::uint64_t TAllocator::Capacity() noexcept {
  return ProcessMemoryLimit();
}

TAllocator& SystemAllocator() noexcept {
  return gSystemAllocator;
}
