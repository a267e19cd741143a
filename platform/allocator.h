// Internal. The allocator through which a table object obtains and returns every block it owns.
//
// Allocation failure is a null result, handled where it happens; nothing here throws. Each table
// object is given its allocator when it is made, so tests can hand one object an allocator that
// fails on demand, or reports a memory figure of their choosing, without any global switch.
#ifndef OVELT_PLATFORM_ALLOCATOR_H
#define OVELT_PLATFORM_ALLOCATOR_H

#include <cstddef>
#include <cstdint>

class TAllocator {
 public:
  // A block of at least size bytes, or null when none can be had. size 0 is allowed.
  virtual void* Allocate(std::size_t size) noexcept = 0;
  // Returns a block from Allocate; null is ignored.
  virtual void Release(void* block) noexcept = 0;
  // A large block that will be filled at once, such as a chunk of loaded records, and its
  // release with the size it was asked for. By default these are Allocate and Release.
  virtual void* AllocateLarge(std::size_t size) noexcept { return Allocate(size); }
  virtual void ReleaseLarge(void* block, std::size_t /*size*/) noexcept { Release(block); }
  // The most bytes this allocator could ever have handed out at once: a ceiling, not what it could
  // give now. What could never fit under it is refused before any of it is asked for. By default
  // the operating system's figure (ProcessMemoryLimit).
  virtual std::uint64_t Capacity() noexcept;

 protected:
  TAllocator() = default;
  ~TAllocator() = default;
  TAllocator(const TAllocator&) = default;
  TAllocator& operator=(const TAllocator&) = default;
};

// The process heap. Stateless; shared by every object that is not given another allocator.
TAllocator& SystemAllocator() noexcept;

#endif  // OVELT_PLATFORM_ALLOCATOR_H
