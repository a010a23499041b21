#include "devtools/reference_decoder.h"

#include <cstddef>

namespace pdtref {

bool ReferenceDecode(std::span<const std::uint8_t> payload, std::int32_t width, std::int32_t height,
                     std::vector<std::uint32_t>& pixels) {
  if (width < 1 || height < 1) return false;
  const std::size_t total = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  pixels.resize(total);
  std::uint32_t* const out = pixels.data();

  const std::uint8_t* const p = payload.data();
  const std::size_t n = payload.size();
  std::size_t i = 0;  // input position
  std::size_t j = 0;  // output position
  unsigned flags = 0;
  unsigned mask = 0;  // the current token's bit in `flags`
  while (j < total) {
    if (mask == 0) {
      if (i >= n) return false;
      flags = p[i];
      i += 1;
      mask = 0x80;
    }
    if ((flags & mask) != 0) {  // a literal: B, G, R
      if (n - i < 3) return false;
      out[j] = 0xFF000000u | static_cast<std::uint32_t>(p[i + 2]) << 16 |
               static_cast<std::uint32_t>(p[i + 1]) << 8 | p[i];
      j += 1;
      i += 3;
    } else {  // a copy: 12 bits of distance − 1, 4 bits of length − 1
      if (n - i < 2) return false;
      const unsigned v = static_cast<unsigned>(p[i]) | static_cast<unsigned>(p[i + 1]) << 8;
      i += 2;
      const std::size_t d = (v >> 4) + 1;
      std::size_t count = (v & 0x0Fu) + 1;
      if (d > j) return false;
      if (count > total - j) count = total - j;
      for (; count > 0; --count) {
        out[j] = out[j - d];
        j += 1;
      }
    }
    mask >>= 1;
  }
  return true;
}

}  // namespace pdtref
