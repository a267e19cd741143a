// Internal. What a table object and its engines are made with: the allocator, the file layer and
// the loaders' read block. The factory passes the platform's defaults; tests pass allocators and
// file layers that fail on demand, and small read blocks.
#ifndef OVELT_ENGINES_ENVIRONMENT_H
#define OVELT_ENGINES_ENVIRONMENT_H

#include <cstdint>

#include "platform/allocator.h"
#include "platform/file_system.h"

// Bytes per read in both loader passes. A block stays in the processor's first-level cache while
// both passes work through it; blocks of this size made loads about a tenth faster than 4000-byte
// ones, whose read calls cost more than their bytes. The block lives on the stack of the call.
constexpr std::uint32_t kReadBlockSize = 16384;

struct TModuleEnv {
  TAllocator* allocator;
  TFileSystem* files;
  std::uint32_t readBlockSize;  // bytes per read in both loader passes, 1 to kReadBlockSize
};

// The production environment: the process heap, this platform's file layer, full read blocks.
inline TModuleEnv DefaultModuleEnv() noexcept {
  return TModuleEnv{&SystemAllocator(), &PlatformFileSystem(), kReadBlockSize};
}

#endif  // OVELT_ENGINES_ENVIRONMENT_H
