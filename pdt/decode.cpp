// The one decoding loop, and the choice of the kernel it runs.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "pdt/kernel.h"
#include "pdt/kernels.h"
#include "pdt/stream.h"
#include "pdt/tokens.h"

namespace mdl_pdt {
namespace detail {
namespace {

struct Kernel {
  const char* name;
  GroupsFn groups;  // null when this build does not hold it
  bool (*runnable)();
  SwapFn swap;
};

bool Always() {
  return true;
}

// In order of preference, the best last.
const Kernel kKernels[] = {
    {"portable", PortableGroups, Always, SwapPixels},
#ifdef QUILLON_PDT_X86
    {"avx2", Avx2Groups, Avx2Runnable, Avx2SwapPixels},
    {"avx512", Avx512Groups, Avx512Runnable, Avx2SwapPixels},
#else
    {"avx2", nullptr, nullptr, nullptr},
    {"avx512", nullptr, nullptr, nullptr},
#endif
#ifdef QUILLON_PDT_SIMD128
    {"simd128", Simd128Groups, Always, Simd128SwapPixels},
#else
    {"simd128", nullptr, nullptr, nullptr},
#endif
#ifdef QUILLON_PDT_NEON
    {"neon", NeonGroups, Always, SwapPixels},
#else
    {"neon", nullptr, nullptr, nullptr},
#endif
};

constexpr const char* kNames[] = {"portable", "avx2", "avx512", "simd128", "neon"};

bool Runnable(const Kernel& k) {
  return k.groups != nullptr && k.runnable();
}

const Kernel* Find(std::string_view name) {
  for (const Kernel& k : kKernels) {
    if (name == k.name) return &k;
  }
  return nullptr;
}

const Kernel* Best() {
  const Kernel* best = &kKernels[0];
  for (const Kernel& k : kKernels) {
    if (Runnable(k)) best = &k;
  }
  return best;
}

const Kernel* Choose() {
  const Kernel* best = Best();
  const char* wanted = std::getenv("QUILLON_PDT_KERNEL");
  if (wanted == nullptr || *wanted == '\0') return best;
  const Kernel* k = Find(wanted);
  if (k != nullptr && Runnable(*k)) return k;
  std::fprintf(stderr, "QUILLON_PDT_KERNEL: %s \"%s\"; using %s\n",
               k == nullptr ? "no kernel named" : "cannot run the kernel", wanted, best->name);
  return best;
}

std::atomic<const Kernel*> g_kernel{nullptr};

const Kernel& Current() {
  const Kernel* k = g_kernel.load(std::memory_order_acquire);
  if (k == nullptr) {
    const Kernel* chosen = Choose();
    // A kernel set meanwhile by UseKernel wins.
    if (g_kernel.compare_exchange_strong(k, chosen, std::memory_order_acq_rel)) k = chosen;
  }
  return *k;
}

// One flag group with every read checked and copies cut where the picture is
// complete.
Step DecodeGroupChecked(std::span<const std::uint8_t> bytes, std::size_t& in, Output& out) {
  const std::uint8_t* const src = bytes.data();
  const std::size_t src_len = bytes.size();
  out.FastEnd();  // room in the window for the whole group
  std::uint32_t* const win = out.window();
  if (in >= src_len) return Step::Truncated;
  unsigned flags = src[in++];
  for (int t = 0; t < 8; ++t, flags <<= 1) {
    if (flags & 0x80u) {
      if (src_len - in < 3) return Step::Truncated;
      win[out.at++] = LiteralPixel(src + in);
      in += 3;
      if (out.left() == 0) return Step::Done;
    } else {
      if (src_len - in < 2) return Step::Truncated;
      const CopyToken copy = ReadCopy(src + in);
      in += 2;
      if (copy.distance > out.at) return Step::CopyBeforeStart;
      const std::size_t n = std::min(copy.length, out.left());
      for (std::size_t k = 0; k < n; ++k, ++out.at) win[out.at] = win[out.at - copy.distance];
      if (out.left() == 0) return Step::Done;
    }
  }
  return Step::Continue;
}

}  // namespace

// The kernel takes whole groups while it can; near the end of what has been
// read the loop refills, and the last groups go through the checked one.
PdtStatus Decode(Source& source, Output& out) {
  const Kernel& kernel = Current();
  const GroupsFn groups = kernel.groups;
  out.swap = kernel.swap;
  std::size_t in = 0;
  for (;;) {
    Step step = groups(source.bytes(), in, out);
    if (step == Step::Continue) {
      if (source.more() && source.bytes().size() - in < kMaxGroupReadBytes) {
        if (!source.Refill(in)) return PdtStatus::CannotRead;
        continue;
      }
      if (out.left() == 0) {
        step = Step::Done;
      } else {
        step = DecodeGroupChecked(source.bytes(), in, out);
      }
    }
    switch (step) {
      case Step::Continue:
        break;
      case Step::Done:
        out.Finish();
        return PdtStatus::Ok;
      case Step::CopyBeforeStart:
        return PdtStatus::CopyBeforeStart;
      case Step::Truncated:
        return PdtStatus::StreamTruncated;
    }
  }
}

}  // namespace detail

std::span<const char* const> KernelNames() {
  return detail::kNames;
}

bool KernelRunnable(std::string_view name) {
  const detail::Kernel* k = detail::Find(name);
  return k != nullptr && detail::Runnable(*k);
}

const char* KernelInUse() {
  return detail::Current().name;
}

bool UseKernel(std::string_view name) {
  const detail::Kernel* k = detail::Find(name);
  if (k == nullptr || !detail::Runnable(*k)) return false;
  detail::g_kernel.store(k, std::memory_order_release);
  return true;
}

}  // namespace mdl_pdt
