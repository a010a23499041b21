// The decoding kernels: one per instruction set, each decoding whole flag
// groups while their input and output need no checks, behind the one loop in
// decode.cpp. Internal to pdt/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "pdt/stream.h"

// Which kernels this build holds besides the portable one. x86-64 builds hold
// AVX2 and AVX-512, compiled with per-function target attributes and chosen at
// run time; AArch64 (NEON) and WebAssembly (SIMD128) kernels are chosen when
// the build targets them.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUILLON_PDT_X86 1
#endif
#if defined(__wasm_simd128__)
#define QUILLON_PDT_SIMD128 1
#endif
#if defined(__aarch64__) && defined(__ARM_NEON)
#define QUILLON_PDT_NEON 1
#endif

// For a kernel's flag-group function, which must be inlined into its loop:
// a call per group would keep the loop's state in memory.
#define QUILLON_PDT_INLINE inline __attribute__((always_inline))

namespace mdl_pdt::detail {

enum class Step { Continue, Done, CopyBeforeStart, Truncated };

// Decodes whole flag groups from bytes[in] into `out` while they need no
// checks; returns with `in` at the next flag byte when either side runs short,
// or at a group with a copy from before pixel 0 (CopyBeforeStart).
using GroupsFn = Step (*)(std::span<const std::uint8_t> bytes, std::size_t& in, Output& out);

Step PortableGroups(std::span<const std::uint8_t> bytes, std::size_t& in, Output& out);
#ifdef QUILLON_PDT_X86
Step Avx2Groups(std::span<const std::uint8_t> bytes, std::size_t& in, Output& out);
bool Avx2Runnable();
// SwapPixels with AVX2, in place: the AVX2 and AVX-512 kernels' way.
void Avx2SwapPixels(std::uint32_t* a, std::uint32_t* b, std::size_t n);
Step Avx512Groups(std::span<const std::uint8_t> bytes, std::size_t& in, Output& out);
bool Avx512Runnable();
#endif
#ifdef QUILLON_PDT_SIMD128
Step Simd128Groups(std::span<const std::uint8_t> bytes, std::size_t& in, Output& out);
// SwapPixels with SIMD128, in place.
void Simd128SwapPixels(std::uint32_t* a, std::uint32_t* b, std::size_t n);
#endif
#ifdef QUILLON_PDT_NEON
Step NeonGroups(std::span<const std::uint8_t> bytes, std::size_t& in, Output& out);
#endif

}  // namespace mdl_pdt::detail
