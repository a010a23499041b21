// The token stream's fields, as every kernel reads them. Internal to pdt/.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "pdt/stream.h"

namespace mdl_pdt::detail {

inline std::uint32_t LiteralPixel(const std::uint8_t* p) {
  return 0xFF000000u | static_cast<std::uint32_t>(p[2]) << 16 |
         static_cast<std::uint32_t>(p[1]) << 8 | p[0];
}

// LiteralPixel for a literal followed by at least one more readable byte: one
// 4-byte load on little-endian hosts, whose top byte is then replaced.
inline std::uint32_t LiteralPixelWide(const std::uint8_t* p) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v | 0xFF000000u;
  } else {
    return LiteralPixel(p);
  }
}

// The fields of a copy token: a 16-bit little-endian value whose upper 12
// bits are the distance − 1 and whose lower 4 bits are the length − 1.
struct CopyToken {
  std::size_t distance;  // 1 .. 4096 pixels back
  std::size_t length;    // 1 .. 16 pixels
};

inline CopyToken ReadCopy(const std::uint8_t* p) {
  const unsigned v = static_cast<unsigned>(p[0]) | static_cast<unsigned>(p[1]) << 8;
  return {(v >> 4) + 1, (v & 0x0Fu) + 1};
}

// Where the tokens of one flag group start, counted from the flag byte, and
// how many bytes the group takes: the flag byte alone fixes both (3 bytes for
// a literal, 2 for a copy), so the input position never waits on a token.
struct GroupLayout {
  std::array<std::uint8_t, 8> offset;
  std::uint8_t bytes;
  std::uint8_t literals;
};

inline constexpr std::array<GroupLayout, 256> kGroupLayouts = [] {
  std::array<GroupLayout, 256> layouts{};
  for (unsigned flags = 0; flags < 256; ++flags) {
    unsigned at = 1;
    for (unsigned t = 0; t < 8; ++t) {
      layouts[flags].offset[t] = static_cast<std::uint8_t>(at);
      at += (flags << t & 0x80u) != 0 ? 3 : 2;
    }
    layouts[flags].bytes = static_cast<std::uint8_t>(at);
    layouts[flags].literals = static_cast<std::uint8_t>(std::popcount(flags));
  }
  return layouts;
}();

// For a copy of distance d (row min(d, kMaxLength)), the pixel before the
// copy that output pixel k repeats, counted from d pixels back: k mod d for
// short distances, k itself for the rest.
inline constexpr std::array<std::array<std::uint8_t, kMaxLength>, kMaxLength + 1> kRepeat = [] {
  std::array<std::array<std::uint8_t, kMaxLength>, kMaxLength + 1> rows{};
  for (std::size_t d = 1; d <= kMaxLength; ++d) {
    for (std::size_t k = 0; k < kMaxLength; ++k) rows[d][k] = static_cast<std::uint8_t>(k % d);
  }
  return rows;
}();

}  // namespace mdl_pdt::detail
