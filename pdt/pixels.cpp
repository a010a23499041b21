// Memory for pixel buffers (mdl_pdt::PixelBuffer's allocator).
#include <cstddef>
#include <new>

#include "pdt/mdl_pdt.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace mdl_pdt::detail {
namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}  // namespace

void* AllocatePixels(std::size_t bytes) {
  if (bytes < kHugePage) return ::operator new(bytes);
  // Whole huge pages, so that the block's last one is not shared.
  const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* p = ::operator new (rounded, std::align_val_t{kHugePage});
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint: without it the pages are small
#endif
  return p;
}

void FreePixels(void* p, std::size_t bytes) noexcept {
  if (bytes < kHugePage) {
    ::operator delete(p);
  } else {
    ::operator delete (p, std::align_val_t{kHugePage});
  }
}

}  // namespace mdl_pdt::detail
