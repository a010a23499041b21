// The loop every kernel runs: whole flag groups while the input holds a
// group's most bytes and the window has room for its most pixels, with those
// checks written once here. Each kernel's file defines QUILLON_PDT_TARGET
// (its target attribute, or nothing) before including this, so that the loop
// is compiled for the kernel's instruction set; its functions are templates
// on the kernel, so no two kernels share one compiled copy.
//
// A kernel is a struct with:
//   kReadBytes          the most input bytes a group may read from its flag byte
//   History             what it keeps in registers between groups
//   LoadHistory(win, at)  that state at window index `at` (after a slide too)
//   Group<kNearStart>(group, win, at, history)
//                       decodes the flag group at `group` into win[at...],
//                       advancing `at`; returns the bytes it took, or 0 when
//                       a copy reaches before pixel 0 (possible only when
//                       kNearStart: `at` is within kMaxDistance of pixel 0).
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "pdt/kernels.h"
#include "pdt/stream.h"

#ifndef QUILLON_PDT_TARGET
#error "define QUILLON_PDT_TARGET before including pdt/group_loop.h"
#endif

namespace mdl_pdt::detail {

template <class Kernel>
QUILLON_PDT_TARGET inline Step RunGroups(std::span<const std::uint8_t> bytes, std::size_t& in,
                                         Output& out) {
  static_assert(Kernel::kReadBytes <= kMaxGroupReadBytes);
  const std::uint8_t* const src = bytes.data();
  const std::size_t src_len = bytes.size();
  std::size_t i = in;
  // FastEnd first: it may slide the window and so move it and `out.at`.
  std::size_t fast_end = out.FastEnd();
  std::uint32_t* win = out.window();
  std::size_t at = out.at;
  typename Kernel::History history = Kernel::LoadHistory(win, at);
  Step step = Step::Continue;
  while (src_len - i >= Kernel::kReadBytes) {
    if (fast_end - at < kGroupWritePixels) {
      out.at = at;
      fast_end = out.FastEnd();
      at = out.at;
      if (fast_end - at < kGroupWritePixels) break;
      win = out.window();
      history = Kernel::LoadHistory(win, at);
    }
    const std::size_t used = at >= kMaxDistance
                                 ? Kernel::template Group<false>(src + i, win, at, history)
                                 : Kernel::template Group<true>(src + i, win, at, history);
    if (used == 0) {
      step = Step::CopyBeforeStart;
      break;
    }
    i += used;
  }
  in = i;
  out.at = at;
  return step;
}

}  // namespace mdl_pdt::detail
