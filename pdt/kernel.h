// The decoding kernels: one per instruction set, behind the one decoder.
// Every load and decode uses the kernel in use, and gives the same result
// whichever it is.
#pragma once

#include <span>
#include <string_view>

namespace mdl_pdt {

// Every kernel's name: "portable", "avx2", "avx512", "simd128", "neon".
std::span<const char* const> KernelNames();

// Whether this build, on this processor, can run kernel `name`.
bool KernelRunnable(std::string_view name);

// The kernel in use. It is chosen on the first decode: the best one this
// processor runs, or the one the environment variable QUILLON_PDT_KERNEL
// names. A named kernel that cannot run here is ignored, with one line on
// stderr.
const char* KernelInUse();

// Makes every later decode use kernel `name`, for tests and benchmarks; false,
// changing nothing, when it cannot run here.
bool UseKernel(std::string_view name);

}  // namespace mdl_pdt
