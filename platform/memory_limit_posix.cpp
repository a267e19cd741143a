// The memory limit on POSIX systems: physical memory and swap, bounded by the address-space and
// data limits (RLIMIT_AS, RLIMIT_DATA) where they are set. On Linux the data limit counts the
// private mappings the large chunks are made of, too.
#include <sys/resource.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/sysinfo.h>
#endif

#include <cstdint>

#include "platform/memory_limit.h"

namespace {

constexpr std::uint64_t kUnknown = UINT64_MAX;

// a * b, or kUnknown when that passes 64 bits.
std::uint64_t Product(std::uint64_t a, std::uint64_t b) noexcept {
  return b != 0 && a > kUnknown / b ? kUnknown : a * b;
}

std::uint64_t Sum(std::uint64_t a, std::uint64_t b) noexcept {
  return a > kUnknown - b ? kUnknown : a + b;
}

// Physical memory and swap.
std::uint64_t MachineMemory() noexcept {
#if defined(__linux__)
  struct sysinfo info = {};
  if (sysinfo(&info) == 0) {
    const std::uint64_t unit = info.mem_unit == 0 ? 1 : info.mem_unit;
    return Product(Sum(info.totalram, info.totalswap), unit);
  }
#endif
  // Elsewhere (and should sysinfo fail) the physical memory alone, which is lower.
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) {
    return kUnknown;
  }
  return Product(static_cast<std::uint64_t>(pages), static_cast<std::uint64_t>(pageSize));
}

// The soft limit of resource, or kUnknown when there is none.
std::uint64_t SoftLimit(int resource) noexcept {
  struct rlimit limit = {};
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    return kUnknown;
  }
  return static_cast<std::uint64_t>(limit.rlim_cur);
}

}  // namespace

std::uint64_t ProcessMemoryLimit() noexcept {
  std::uint64_t bytes = MachineMemory();
  const std::uint64_t limits[] = {SoftLimit(RLIMIT_AS), SoftLimit(RLIMIT_DATA)};
  for (const std::uint64_t limit : limits) {
    if (limit < bytes) {
      bytes = limit;
    }
  }
  return bytes;
}
