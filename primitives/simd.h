// Internal. The two ways the fast primitives run: sixteen bytes at a time with SSE2, or byte by
// byte (portable). Both are compiled on every x86 build, under distinct names (the namespaces
// sse2 and portable, or a suffix), and the environment picks one for each table object
// (ChooseKernels in engines/environment.h).
//
// On x86-64 every processor has SSE2 and the compiler may use it everywhere. A 32-bit x86 build
// must still run on processors without it, so only code between DB_SSE2_BEGIN and DB_SSE2_END may
// use SSE2 there: the compiler turns it on for the functions defined in between, and for no other.
// Functions defined outside, inline ones from headers included, stay free of it even where the
// SSE2 code inlines them. GCC inlines them there only where every other target option agrees:
// the build turns off -mstv, which the SSE2 pragma would otherwise turn on for its functions alone
// (CMakeLists.txt; tools/test_windows.sh checks that the DLL's kernels call no small helper).
#ifndef OVELT_PRIMITIVES_SIMD_H
#define OVELT_PRIMITIVES_SIMD_H

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86)
#define DB_SSE2_VARIANT 1
#include <emmintrin.h>
#else
#define DB_SSE2_VARIANT 0
#endif

#if defined(__i386__) && !defined(__SSE2__) && defined(__GNUC__) && !defined(__clang__)
#define DB_SSE2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"sse2\")")
#define DB_SSE2_END _Pragma("GCC pop_options")
#include <cpuid.h>
#elif defined(__i386__) && !defined(__SSE2__) && defined(__clang__)
#define DB_SSE2_BEGIN \
  _Pragma("clang attribute push(__attribute__((target(\"sse2\"))), apply_to = function)")
#define DB_SSE2_END _Pragma("clang attribute pop")
#include <cpuid.h>
#else
#define DB_SSE2_BEGIN
#define DB_SSE2_END
#endif

// Whether this processor runs SSE2 instructions: always on x86-64 and where the compiler was told
// so; asked of the processor (CPUID) on other 32-bit x86 processors; never elsewhere.
inline bool ProcessorHasSse2() noexcept {
#if DB_SSE2_VARIANT && (defined(__SSE2__) || defined(__x86_64__) || defined(_M_X64))
  return true;
#elif DB_SSE2_VARIANT && defined(__GNUC__)
  unsigned eax = 0;
  unsigned ebx = 0;
  unsigned ecx = 0;
  unsigned edx = 0;
  return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (edx & bit_SSE2) != 0;
#else
  return false;
#endif
}

#endif  // OVELT_PRIMITIVES_SIMD_H
