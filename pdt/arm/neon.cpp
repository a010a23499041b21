// The NEON kernel, in AArch64 builds: the portable kernel's flag groups,
// with eight literals spread to pixels by one de-interleaving load and one
// interleaving store, and copies from the 16 pixels before them by a table
// lookup.
#include "pdt/kernels.h"

#ifdef QUILLON_PDT_NEON
#include <arm_neon.h>

#define QUILLON_PDT_TARGET
#include "pdt/generic_kernel.h"
#include "pdt/group_loop.h"

namespace mdl_pdt::detail {
namespace {

struct NeonOps {
  static constexpr std::size_t kReadBytes = std::size_t{1} + 24;
  static constexpr bool kAlwaysCheck = true;

  static void EightLiterals(const std::uint8_t* p, std::uint32_t* to) {
    const uint8x8x3_t bgr = vld3_u8(p);
    uint8x8x4_t bgra;
    bgra.val[0] = bgr.val[0];
    bgra.val[1] = bgr.val[1];
    bgra.val[2] = bgr.val[2];
    bgra.val[3] = vdup_n_u8(0xFF);
    vst4_u8(reinterpret_cast<std::uint8_t*>(to), bgra);
  }
  static void Copy16(std::uint32_t* to, const std::uint32_t* from) {
    vst1q_u32_x4(to, vld1q_u32_x4(from));
  }
  static void Fill16(std::uint32_t* to, std::uint32_t v) {
    const uint32x4_t all = vdupq_n_u32(v);
    vst1q_u32_x4(to, uint32x4x4_t{{all, all, all, all}});
  }
  // The 16 pixels before the copy, looked up byte by byte.
  static void Repeat16(std::uint32_t* to, const std::uint32_t* /*from*/, std::size_t d,
                       std::size_t length) {
    const uint8x16x4_t h = vld1q_u8_x4(reinterpret_cast<const std::uint8_t*>(to - kMaxLength));
    const std::uint8_t* idx = kRepeatBytes.rows[d];
    auto* out = reinterpret_cast<std::uint8_t*>(to);
    vst1q_u8(out, vqtbl4q_u8(h, vld1q_u8(idx)));
    vst1q_u8(out + 16, vqtbl4q_u8(h, vld1q_u8(idx + 16)));
    if (length > 8) {
      vst1q_u8(out + 32, vqtbl4q_u8(h, vld1q_u8(idx + 32)));
      vst1q_u8(out + 48, vqtbl4q_u8(h, vld1q_u8(idx + 48)));
    }
  }
  static void CopyTail(std::uint32_t* to, std::size_t distance) {
    const std::uint32_t* from = to - distance;
    if (distance >= kMaxLength) {
      vst1q_u32_x3(to + 4, vld1q_u32_x3(from + 4));
    } else if (distance == 1) {
      const uint32x4_t all = vdupq_n_u32(from[0]);
      vst1q_u32_x3(to + 4, uint32x4x3_t{{all, all, all}});
    } else {
      Repeat16(to, from, distance, kMaxLength);
    }
  }

  // For distance d < 16, byte j of row d: where byte j of the copy is among
  // the 64 bytes of the 16 pixels before it.
  struct RepeatBytes {
    alignas(16) std::uint8_t rows[kMaxLength][64];
  };
  static constexpr RepeatBytes kRepeatBytes = [] {
    RepeatBytes t{};
    for (std::size_t d = 1; d < kMaxLength; ++d) {
      for (std::size_t j = 0; j < 64; ++j) {
        t.rows[d][j] = static_cast<std::uint8_t>((kMaxLength - d + (j / 4) % d) * 4 + j % 4);
      }
    }
    return t;
  }();
};

}  // namespace

Step NeonGroups(std::span<const std::uint8_t> bytes, std::size_t& in, Output& out) {
  return RunGroups<GenericKernel<NeonOps>>(bytes, in, out);
}

}  // namespace mdl_pdt::detail
#endif
