#include "tests/core/core_test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>

namespace coretest {

Bytes HeaderBytes(std::string_view signature, std::int32_t file_size, std::int32_t width,
                  std::int32_t height, const std::array<std::uint8_t, 12>& reserved) {
  Bytes h(32, 0);
  std::copy_n(signature.begin(), std::min<std::size_t>(signature.size(), 8), h.begin());
  auto put = [&h](std::size_t at, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (std::size_t k = 0; k < 4; ++k) h[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
  };
  put(8, file_size);
  put(12, width);
  put(16, height);
  std::copy(reserved.begin(), reserved.end(), h.begin() + 20);
  return h;
}

Bytes PdtFile(std::int32_t width, std::int32_t height, std::span<const std::uint8_t> payload) {
  Bytes file = HeaderBytes("PDT10", static_cast<std::int32_t>(32 + payload.size()), width, height);
  file.insert(file.end(), payload.begin(), payload.end());
  return file;
}

void StreamBuilder::NextFlag(bool literal) {
  if (mask_ == 0) {
    flag_at_ = bytes_.size();
    bytes_.push_back(0);
    mask_ = 0x80;
  }
  if (literal) bytes_[flag_at_] = static_cast<std::uint8_t>(bytes_[flag_at_] | mask_);
  mask_ >>= 1;
}

StreamBuilder& StreamBuilder::Literal(std::uint32_t pixel) {
  NextFlag(true);
  bytes_.push_back(static_cast<std::uint8_t>(pixel));
  bytes_.push_back(static_cast<std::uint8_t>(pixel >> 8));
  bytes_.push_back(static_cast<std::uint8_t>(pixel >> 16));
  pixels_.push_back(pixel | 0xFF000000u);
  return *this;
}

StreamBuilder& StreamBuilder::Copy(std::size_t distance, std::size_t length) {
  NextFlag(false);
  const auto v = static_cast<unsigned>((distance - 1) << 4 | (length - 1));
  bytes_.push_back(static_cast<std::uint8_t>(v));
  bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
  // One pixel at a time, so an overlapping source repeats what was just written.
  for (std::size_t k = 0; k < length; ++k) {
    pixels_.push_back(distance <= pixels_.size() ? pixels_[pixels_.size() - distance] : 0);
  }
  return *this;
}

StreamBuilder& StreamBuilder::Trailing(std::span<const std::uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  mask_ = 0;
  return *this;
}

std::vector<std::uint32_t> RandomPicture(std::int32_t width, std::int32_t height,
                                         std::uint32_t seed, int colours, double noise) {
  std::mt19937 rng(seed);
  std::vector<std::uint32_t> palette(static_cast<std::size_t>(std::max(colours, 1)));
  for (auto& c : palette) c = rng();
  std::uniform_int_distribution<std::size_t> pick(0, palette.size() - 1);
  std::uniform_int_distribution<int> run_length(1, 40);
  std::bernoulli_distribution noisy(noise);

  const std::size_t total = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::vector<std::uint32_t> pixels;
  pixels.reserve(total);
  while (pixels.size() < total) {
    const std::uint32_t colour = palette[pick(rng)];
    for (int k = run_length(rng); k > 0 && pixels.size() < total; --k) {
      pixels.push_back(noisy(rng) ? rng() : colour);
    }
  }
  return pixels;
}

mdl_pdt::PixelBuffer BottomFirst(std::span<const std::uint32_t> top_first, std::int32_t width,
                        std::int32_t height) {
  const auto w = static_cast<std::size_t>(width);
  const auto h = static_cast<std::size_t>(height);
  mdl_pdt::PixelBuffer out(w * h);
  for (std::size_t y = 0; y < h; ++y) {
    for (std::size_t x = 0; x < w; ++x) {
      out[(h - 1 - y) * w + x] = top_first[y * w + x] | 0xFF000000u;
    }
  }
  return out;
}

}  // namespace coretest
