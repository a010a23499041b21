// The area-averaging resize against a plain reference that takes each output
// pixel's mean straight from its definition, in whole numbers: along each
// axis, source pixel k covers [k·to, (k+1)·to) and output pixel i covers
// [i·from, (i+1)·from); a source pixel counts with the area it shares.
#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "scale/scale.h"

namespace {

using scale::Size;

std::int64_t Overlap(std::int64_t k, std::int64_t i, std::int64_t from, std::int64_t to) {
  return std::max<std::int64_t>(
      0, std::min((k + 1) * to, (i + 1) * from) - std::max(k * to, i * from));
}

// Output pixel (x, y), y from the top, of `src` stored bottom row first: the
// exact mean of what it covers, rounded half up.
std::uint32_t Reference(const std::vector<std::uint32_t>& src, Size from, Size to, int x, int y) {
  std::uint64_t sums[3] = {0, 0, 0};
  // Only the source pixels from floor(i·from/to) to ceil((i+1)·from/to) can overlap.
  const auto first = [](int i, int f, int t) { return static_cast<int>(std::int64_t{i} * f / t); };
  const auto end = [](int i, int f, int t) {
    return static_cast<int>((std::int64_t{i + 1} * f + t - 1) / t);
  };
  for (int l = first(y, from.height, to.height); l < end(y, from.height, to.height); ++l) {
    const std::int64_t wy = Overlap(l, y, from.height, to.height);
    for (int k = first(x, from.width, to.width); k < end(x, from.width, to.width); ++k) {
      const std::int64_t w = wy * Overlap(k, x, from.width, to.width);
      const std::uint32_t p =
          src[static_cast<std::size_t>(from.height - 1 - l) * static_cast<std::size_t>(from.width) +
              static_cast<std::size_t>(k)];
      for (int c = 0; c < 3; ++c)
        sums[c] += static_cast<std::uint64_t>(w) * ((p >> (16 - 8 * c)) & 0xFF);
    }
  }
  const auto d = static_cast<std::uint64_t>(from.width) * static_cast<std::uint64_t>(from.height);
  std::uint32_t result = 0xFF000000U;
  for (int c = 0; c < 3; ++c) {
    result |= static_cast<std::uint32_t>((2 * sums[c] + d) / (2 * d)) << (16 - 8 * c);
  }
  return result;
}

std::vector<std::uint32_t> Noise(Size size, std::mt19937& rng) {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(size.width) *
                                    static_cast<std::size_t>(size.height));
  for (auto& p : pixels) p = 0xFF000000U | (rng() & 0xFFFFFFU);
  return pixels;
}

// Scales into a buffer with a spare pixel after each row (positive stride)
// or bottom row first (negative stride), and checks every output pixel and
// that nothing outside the rows was written.
void ExpectMatchesReference(const std::vector<std::uint32_t>& src, Size from, Size to,
                            bool bottom_first) {
  const std::size_t width = static_cast<std::size_t>(to.width);
  const std::size_t stride = bottom_first ? width : width + 1;
  std::vector<std::uint32_t> out(stride * static_cast<std::size_t>(to.height), 0x12345678U);
  std::uint32_t* start =
      bottom_first ? out.data() + (static_cast<std::size_t>(to.height) - 1) * stride : out.data();
  const std::ptrdiff_t step =
      bottom_first ? -static_cast<std::ptrdiff_t>(stride) : static_cast<std::ptrdiff_t>(stride);
  ASSERT_TRUE(scale::ScaleArea(src, from, start, step, to));
  for (int y = 0; y < to.height; ++y) {
    const std::uint32_t* row = start + y * step;
    for (int x = 0; x < to.width; ++x) {
      ASSERT_EQ(row[x], Reference(src, from, to, x, y))
          << from.width << "x" << from.height << " -> " << to.width << "x" << to.height << " at "
          << x << "," << y;
    }
    if (!bottom_first) {
      ASSERT_EQ(row[to.width], 0x12345678U) << "padding of row " << y;
    }
  }
}

// Random sizes down and up, whole and broken factors, both row orders; the
// sums of tall columns take the narrow, middle and wide forms.
TEST(ScaleArea, MatchesExactAreaMeans) {
  std::mt19937 rng(20240611);
  const Size fixed[][2] = {{{1920, 1080}, {256, 144}}, {{120, 64}, {30, 16}},
                           {{7, 5}, {3, 2}},           {{1, 1}, {1, 1}},
                           {{5, 3}, {12, 7}},          {{300, 1031}, {7, 3}}};
  for (const auto& [from, to] : fixed) {
    ExpectMatchesReference(Noise(from, rng), from, to, true);
  }
  std::uniform_int_distribution<int> side(1, 90);
  for (int round = 0; round < 60; ++round) {
    const Size from{side(rng), side(rng)};
    const Size to{side(rng), side(rng)};
    ExpectMatchesReference(Noise(from, rng), from, to, round % 2 == 0);
  }
}

// A white column so tall that its sums no longer fit in 32 bits.
TEST(ScaleArea, TallColumnKeepsItsMean) {
  const Size from{1, 16843013};  // 255 × 16843013 > 2^32
  const std::vector<std::uint32_t> src(16843013, 0xFFFFFFFFU);
  std::uint32_t out[2] = {};
  ASSERT_TRUE(scale::ScaleArea(src, from, out, 1, {1, 2}));
  EXPECT_EQ(out[0], 0xFFFFFFFFU);
  EXPECT_EQ(out[1], 0xFFFFFFFFU);
}

TEST(ScaleArea, RefusesBadSizes) {
  const std::vector<std::uint32_t> src(12, 0xFF000000U);
  std::uint32_t out[16] = {};
  EXPECT_FALSE(scale::ScaleArea(src, {4, 4}, out, 2, {2, 2}));  // 16 pixels expected
  EXPECT_FALSE(scale::ScaleArea(src, {0, 12}, out, 2, {2, 2}));
  EXPECT_FALSE(scale::ScaleArea(src, {4, 3}, out, 2, {0, 2}));
  EXPECT_TRUE(std::all_of(std::begin(out), std::end(out), [](std::uint32_t p) { return p == 0; }));
  EXPECT_TRUE(scale::ScaleArea(src, {4, 3}, out, 2, {2, 2}));
  EXPECT_EQ(out[0], 0xFF000000U);
}

}  // namespace
