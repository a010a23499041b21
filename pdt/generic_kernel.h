// The portable decoder's flag group, written once over a set of block
// operations (Ops) that each instruction set may do its own way: the
// portable kernel uses plain C++ ones, and the vector kernels their own.
// Included after QUILLON_PDT_TARGET is defined, like pdt/group_loop.h.
//
// Ops provides, for a window with room for a whole group:
//   kReadBytes            the most bytes a group may read from its flag byte
//   kAlwaysCheck          whether groups that branch on the token kind
//                         check for copies from before pixel 0 even where
//                         none can be (past kMaxDistance pixels): which is
//                         faster depends on the compiler's layout
//   EightLiterals(p, to)  the 24 bytes of eight literals into to[0..7]
//   Copy16(to, from)      to[0..15] = from[0..15], the two not overlapping
//   Fill16(to, v)         to[0..15] = v
//   Repeat16(to, from, d, n)  to[k] = from[k mod d] for k < 8, and k < 16
//                         when n > 8 (2 <= d < 16)
//   CopyTail(to, d)       to[4..15] as a forward copy from d pixels back
// Repeat16 and CopyTail may read up to 16 pixels before `to`: within 16
// pixels of pixel 0, ScalarOps' are used instead.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "pdt/tokens.h"

#ifndef QUILLON_PDT_TARGET
#error "define QUILLON_PDT_TARGET before including pdt/generic_kernel.h"
#endif

namespace mdl_pdt::detail {

// Plain C++ block operations: the portable kernel's, and the vector kernels'
// where a copy starts so near pixel 0 that a vector load would reach before
// it. Not compiled for any one target, so every kernel may share them.
struct ScalarOps {
  static constexpr std::size_t kReadBytes = std::size_t{1} + 8 * 3 + 1;
  // Measured: without the checks GCC lays out the branching loop worse for
  // pictures of long runs. (The other groups check only near pixel 0: the
  // check cost them 5%.)
  static constexpr bool kAlwaysCheck = true;

  // On little-endian hosts three 8-byte loads, and the pixels stored two at
  // a time. (The stores stay separate: gathered in memory first, they would
  // be read back in one piece the processor cannot forward from the pending
  // stores.)
  static void EightLiterals(const std::uint8_t* p, std::uint32_t* to) {
    if constexpr (std::endian::native == std::endian::little) {
      std::uint64_t a = 0;
      std::uint64_t b = 0;
      std::uint64_t c = 0;
      std::memcpy(&a, p, sizeof a);
      std::memcpy(&b, p + 8, sizeof b);
      std::memcpy(&c, p + 16, sizeof c);
      constexpr std::uint64_t kRgb = 0xFFFFFF;
      constexpr std::uint64_t kOpaque = 0xFF000000FF000000u;
      const std::uint64_t p01 = (a & kRgb) | ((a >> 24) & kRgb) << 32 | kOpaque;
      const std::uint64_t p23 = (a >> 48 | (b & 0xFF) << 16) | ((b >> 8) & kRgb) << 32 | kOpaque;
      const std::uint64_t p45 = ((b >> 32) & kRgb) | (b >> 56 | (c & 0xFFFF) << 8) << 32 | kOpaque;
      const std::uint64_t p67 = ((c >> 16) & kRgb) | (c >> 40) << 32 | kOpaque;
      std::memcpy(to, &p01, sizeof p01);
      std::memcpy(to + 2, &p23, sizeof p23);
      std::memcpy(to + 4, &p45, sizeof p45);
      std::memcpy(to + 6, &p67, sizeof p67);
    } else {
      for (std::size_t k = 0; k < 8; ++k) to[k] = LiteralPixel(p + 3 * k);
    }
  }
  static void Copy16(std::uint32_t* to, const std::uint32_t* from) {
    std::memcpy(to, from, kMaxLength * sizeof(std::uint32_t));
  }
  static void Fill16(std::uint32_t* to, std::uint32_t v) { std::fill_n(to, kMaxLength, v); }
  // The second half only when the copy reaches it.
  static void Repeat16(std::uint32_t* to, const std::uint32_t* from, std::size_t d,
                       std::size_t length) {
    const std::uint8_t* repeat = kRepeat[d].data();
    for (std::size_t k = 0; k < kMaxLength / 2; ++k) to[k] = from[repeat[k]];
    if (length > kMaxLength / 2) {
      for (std::size_t k = kMaxLength / 2; k < kMaxLength; ++k) to[k] = from[repeat[k]];
    }
  }
  static void CopyTail(std::uint32_t* to, std::size_t distance) {
    const std::uint32_t* from = to - distance;
    if (distance >= kMaxLength) {
      std::memcpy(to + 4, from + 4, (kMaxLength - 4) * sizeof(std::uint32_t));
    } else if (distance == 1) {
      std::fill_n(to + 4, kMaxLength - 4, from[0]);
    } else {
      for (std::size_t k = 4; k < kMaxLength; ++k) to[k] = from[k];
    }
  }
};

template <class Ops>
struct GenericKernel {
  // At least the flag byte, eight 3-byte literals, and one byte beyond the
  // last literal for its 4-byte load.
  static constexpr std::size_t kReadBytes = std::max(ScalarOps::kReadBytes, Ops::kReadBytes);
  // Flag groups with at most this many literals branch on the token kind;
  // one fewer after a detailed group (one of fewer than kDetailedPixels
  // pixels), whose short copies mix their kinds at random: measured, this
  // helps painted pictures and costs the others nothing.
  static constexpr unsigned kBranchingLiterals = 2;
  static constexpr std::size_t kDetailedPixels = 32;

  // What the loop keeps between groups: the newest pixel, in a register so
  // that runs of it need no load, and whether the last group was detailed.
  struct History {
    std::uint32_t last;
    unsigned detailed;
  };
  QUILLON_PDT_TARGET QUILLON_PDT_INLINE static History LoadHistory(const std::uint32_t* win,
                                                                   std::size_t at) {
    return {at > 0 ? win[at - 1] : 0, 0};
  }

  template <bool kNearStart>
  QUILLON_PDT_TARGET QUILLON_PDT_INLINE static std::size_t Group(const std::uint8_t* group,
                                                                 std::uint32_t* win,
                                                                 std::size_t& at, History& h) {
    const std::size_t start = at;
    const std::size_t used = Tokens<kNearStart>(group, win, at, h.last, h.detailed);
    h.detailed = at - start < kDetailedPixels ? 1u : 0u;
    return used;
  }

  template <bool kNearStart>
  QUILLON_PDT_TARGET QUILLON_PDT_INLINE static std::size_t Tokens(const std::uint8_t* group,
                                                                  std::uint32_t* win,
                                                                  std::size_t& at,
                                                                  std::uint32_t& last,
                                                                  unsigned detailed) {
    const unsigned flags = group[0];
    if (flags == 0xFFu) {
      Ops::EightLiterals(group + 1, win + at);
      last = LiteralPixel(group + 22);
      at += 8;
      return 25;
    }
    const GroupLayout& layout = kGroupLayouts[flags];
    if (layout.literals + detailed <= kBranchingLiterals) {
      // Few literals, as long runs give: a branch on the token kind is
      // mostly predicted, and each copy writes a whole block of kMaxLength
      // pixels.
      const std::uint8_t* p = group + 1;
      // Unrolled, each token's branches are predicted on their own.
#pragma GCC unroll 8
      for (unsigned t = 0; t < 8; ++t) {
        if (((flags << t) & 0x80u) != 0) {
          last = LiteralPixelWide(p);
          win[at++] = last;
          p += 3;
          continue;
        }
        const CopyToken copy = ReadCopy(p);
        p += 2;
        if ((kNearStart || Ops::kAlwaysCheck) && copy.distance > at) return 0;
        std::uint32_t* to = win + at;
        const std::uint32_t* from = to - copy.distance;
        if (copy.distance >= kMaxLength) {
          Ops::Copy16(to, from);
          last = from[copy.length - 1];
        } else if (copy.distance == 1) {
          Ops::Fill16(to, last);
        } else {
          // Pixels from before the copy only, so that none waits on this
          // copy's own stores.
          if (kNearStart && at < kMaxLength) {
            ScalarOps::Repeat16(to, from, copy.distance, copy.length);
          } else {
            Ops::Repeat16(to, from, copy.distance, copy.length);
          }
          last = from[kRepeat[copy.distance][copy.length - 1]];
        }
        at += copy.length;
      }
      return layout.bytes;
    }
    // Every token takes the same steps: a literal is a copy of distance 0
    // whose first pixel is the literal, so nothing branches on the kind.
    // Four pixels are always written; the surplus lands on pixels the
    // following tokens overwrite. A copy from before pixel 0 reads pixel
    // `at` instead and fails the group.
    std::uint32_t* to = win + at;
    std::size_t before_start = 0;
#pragma GCC unroll 8
    for (unsigned t = 0; t < 8; ++t) {
      const std::uint8_t* p = group + layout.offset[t];
      const std::uint32_t copy_mask = ((flags << t) & 0x80u) != 0 ? 0u : ~0u;
      const unsigned v =
          (static_cast<unsigned>(p[0]) | static_cast<unsigned>(p[1]) << 8) & copy_mask;
      std::size_t distance = (v >> 4) + (copy_mask & 1u);
      const std::size_t length = (v & 0x0Fu) + 1;
      if constexpr (kNearStart) {
        // All ones while the copy reaches back no further than pixel 0.
        const std::size_t reach =
            std::size_t{0} -
            static_cast<std::size_t>(distance <= static_cast<std::size_t>(to - win));
        before_start |= ~reach;
        distance &= reach;
      }
      // Pixel by pixel in order, so that an overlapping copy repeats what it
      // has just written.
      const std::uint32_t* from = to - distance;
      to[0] = (LiteralPixelWide(p) & ~copy_mask) | (from[0] & copy_mask);
      to[1] = from[1];
      to[2] = from[2];
      to[3] = from[3];
      if (length > 4) {
        if (kNearStart && to - win < static_cast<std::ptrdiff_t>(kMaxLength)) {
          ScalarOps::CopyTail(to, distance);
        } else {
          Ops::CopyTail(to, distance);
        }
      }
      to += length;
    }
    if (before_start != 0) return 0;
    at = static_cast<std::size_t>(to - win);
    last = win[at - 1];
    return layout.bytes;
  }
};

}  // namespace mdl_pdt::detail
