// The memory limit on Windows: the commit limit (physical memory and page files) or the process's
// user address space (2 GiB for most 32-bit processes), whichever is lower.
#include <windows.h>

#include <cstdint>
#include <initializer_list>

#include "platform/memory_limit.h"

std::uint64_t ProcessMemoryLimit() noexcept {
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof status;
  if (GlobalMemoryStatusEx(&status) == 0) {
    return UINT64_MAX;
  }
  // Wine answers from a copy it refreshes at most once a second, and a thread that asks while
  // another is refreshing it reads zeros: a figure of 0 says nothing, and is no limit.
  std::uint64_t limit = UINT64_MAX;
  for (const std::uint64_t figure : {status.ullTotalPageFile, status.ullTotalVirtual}) {
    if (figure != 0 && figure < limit) {
      limit = figure;
    }
  }
  return limit;
}
