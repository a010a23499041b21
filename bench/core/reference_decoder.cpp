#include "bench/core/reference_decoder.h"

#include <cstddef>

namespace quillon_bench {

bool ReferenceDecode(std::span<const std::uint8_t> payload, std::int32_t width, std::int32_t height,
                     std::vector<std::uint32_t>& pixels) {
  if (width < 1 || height < 1) return false;
  const std::size_t total = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  pixels.assign(total, 0);

  const std::uint8_t* p = payload.data();
  const std::size_t n = payload.size();
  std::size_t i = 0;     // input position
  std::size_t j = 0;     // output position
  unsigned flags = 0;    // current flag byte
  unsigned mask = 0;     // bit of the current token
  std::int64_t col = 0;  // pixels counted in the current row
  std::int64_t row = 1;  // current row number
  for (;;) {
    mask >>= 1;
    if (mask == 0) {
      if (i >= n) return false;
      mask = 0x80;
      flags = p[i];
      i += 1;
    }
    if (flags & mask) {
      if (n - i < 3) return false;
      pixels[j] = 0xFF000000u | static_cast<std::uint32_t>(p[i + 2]) << 16 |
                  static_cast<std::uint32_t>(p[i + 1]) << 8 | p[i];
      j += 1;
      i += 3;
      col += 1;
    } else {
      if (n - i < 2) return false;
      const unsigned v = static_cast<unsigned>(p[i]) | static_cast<unsigned>(p[i + 1]) << 8;
      const std::size_t back = (v >> 4) + 1;
      const std::size_t count = (v & 0x0Fu) + 1;
      if (back > j) return false;
      std::size_t s = j - back;
      for (std::size_t k = 0; k < count && j < total; ++k) {
        pixels[j] = pixels[s];
        j += 1;
        s += 1;
        col += 1;
      }
      i += 2;
    }
    while (col >= width) {
      col -= width;
      row += 1;
      if (row > height) return true;
    }
  }
}

}  // namespace quillon_bench
