// The memory limit on Windows: the commit limit (physical memory and page files) or the process's
// user address space (2 GiB for most 32-bit processes), whichever is lower.
#include <windows.h>

#include <cstdint>

#include "platform/memory_limit.h"

std::uint64_t ProcessMemoryLimit() noexcept {
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof status;
  if (GlobalMemoryStatusEx(&status) == 0) {
    return UINT64_MAX;
  }
  const std::uint64_t commit = status.ullTotalPageFile;
  const std::uint64_t addressSpace = status.ullTotalVirtual;
  return commit < addressSpace ? commit : addressSpace;
}
