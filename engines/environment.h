// Internal. What a table object and its engines are made with: the allocator, the file layer, the
// loaders' read block and the kernels. The factory passes the platform's defaults; tests pass
// allocators and file layers that fail on demand, small read blocks, and either kernel set.
#ifndef OVELT_ENGINES_ENVIRONMENT_H
#define OVELT_ENGINES_ENVIRONMENT_H

#include <cstdint>

#include "platform/allocator.h"
#include "platform/file_system.h"
#include "primitives/simd.h"

// Bytes per read in both loader passes. A block stays in the processor's first-level cache while
// both passes work through it; blocks of this size made loads about a tenth faster than 4000-byte
// ones, whose read calls cost more than their bytes. The block lives on the stack of the call.
constexpr std::uint32_t kReadBlockSize = 16384;

// Which compiled variant of the fast code (byte scans, text windows; primitives/simd.h) a table
// object runs: the loader's passes, the writer and GetField's usual case.
enum class TKernelSet : std::uint8_t { kPortable, kSse2 };

// The one place that picks the kernels: SSE2 where the processor has it. On x86-64 the answer is
// known when compiling; a 32-bit x86 build asks the processor, so the DLL also runs, byte by byte,
// on processors without SSE2.
constexpr TKernelSet ChooseKernels(bool processorHasSse2) noexcept {
  return DB_SSE2_VARIANT && processorHasSse2 ? TKernelSet::kSse2 : TKernelSet::kPortable;
}

struct TModuleEnv {
  TAllocator* allocator;
  TFileSystem* files;
  std::uint32_t readBlockSize;  // bytes per read in both loader passes, 1 to kReadBlockSize
  TKernelSet kernels = ChooseKernels(ProcessorHasSse2());
};

// The production environment: the process heap, this platform's file layer, full read blocks.
inline TModuleEnv DefaultModuleEnv() noexcept {
  return TModuleEnv{&SystemAllocator(), &PlatformFileSystem(), kReadBlockSize};
}

#endif  // OVELT_ENGINES_ENVIRONMENT_H
