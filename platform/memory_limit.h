// Internal. The most memory the operating system could ever give this process, for the loaders to
// refuse a table that could never fit before they allocate any of it.
//
// The figure is a total, not what is free at the moment: memory that other processes hold now may
// be theirs no longer when the load gets to it, so only a table that no amount of waiting could
// make room for is refused by it. There is one implementation per platform (memory_limit_posix.cpp,
// memory_limit_win32.cpp; the build picks one); tests hand a table an allocator that reports a
// figure of their own instead (TAllocator::Capacity).
#ifndef OVELT_PLATFORM_MEMORY_LIMIT_H
#define OVELT_PLATFORM_MEMORY_LIMIT_H

#include <cstdint>

// Bytes: the machine's memory with its swap or page file, or less where a limit the process runs
// under (an address-space or data limit; the address space of a 32-bit process) is lower.
// UINT64_MAX when the system does not say.
std::uint64_t ProcessMemoryLimit() noexcept;

#endif  // OVELT_PLATFORM_MEMORY_LIMIT_H
