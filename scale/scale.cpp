#include "scale/scale.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace scale {
namespace {

// One source pixel's share of an output pixel, in units where a whole output
// pixel along this axis is `from` long.
struct Tap {
  std::int32_t source;
  float weight;
};

// For each of `to` output positions: the source positions it covers and how
// much of each. Source k spans [k·to, (k+1)·to), output i spans [i·from, (i+1)·from).
struct Taps {
  std::vector<std::int32_t> first;  // first tap of output i; first[to] ends the last
  std::vector<Tap> taps;
};

Taps MakeTaps(std::int32_t from, std::int32_t to) {
  Taps result;
  result.first.reserve(static_cast<std::size_t>(to) + 1);
  const std::int64_t n = from;
  const std::int64_t m = to;
  for (std::int64_t i = 0; i < m; ++i) {
    result.first.push_back(static_cast<std::int32_t>(result.taps.size()));
    const std::int64_t lo = i * n;
    const std::int64_t hi = lo + n;
    for (std::int64_t k = lo / m; k < from && k * m < hi; ++k) {
      const std::int64_t overlap = std::min(hi, (k + 1) * m) - std::max(lo, k * m);
      if (overlap > 0) {
        result.taps.push_back({static_cast<std::int32_t>(k), static_cast<float>(overlap)});
      }
    }
  }
  result.first.push_back(static_cast<std::int32_t>(result.taps.size()));
  return result;
}

std::uint32_t Channel(float sum) {
  return static_cast<std::uint32_t>(std::clamp(std::lround(sum), 0L, 255L));
}

}  // namespace

Size FitWithin(Size picture, std::int32_t max_side) {
  if (picture.width < 1 || picture.height < 1 || max_side < 1) return {};
  const std::int32_t longer = std::max(picture.width, picture.height);
  if (longer <= max_side) return picture;
  auto side = [&](std::int32_t length) {
    const std::int64_t scaled =
        (std::int64_t{length} * max_side * 2 + longer) / (std::int64_t{longer} * 2);
    return static_cast<std::int32_t>(std::max<std::int64_t>(1, scaled));
  };
  return {side(picture.width), side(picture.height)};
}

bool ScaleArea(std::span<const std::uint32_t> src, Size from, std::uint32_t* dst,
               std::ptrdiff_t dst_stride, Size to) {
  if (from.width < 1 || from.height < 1 || to.width < 1 || to.height < 1) return false;
  const auto src_width = static_cast<std::size_t>(from.width);
  if (src.size() != src_width * static_cast<std::size_t>(from.height)) return false;
  const Taps columns = MakeTaps(from.width, to.width);
  const Taps rows = MakeTaps(from.height, to.height);
  // Each output pixel's weights add up to from.width × from.height.
  const float norm = 1.0F / (static_cast<float>(from.width) * static_cast<float>(from.height));
  std::vector<float> acc(src_width * 3);
  for (std::int32_t y = 0; y < to.height; ++y) {
    // Down the columns first: the covered source rows, weighted, into one row.
    std::fill(acc.begin(), acc.end(), 0.0F);
    const auto ry = static_cast<std::size_t>(y);
    for (auto t = static_cast<std::size_t>(rows.first[ry]);
         t < static_cast<std::size_t>(rows.first[ry + 1]); ++t) {
      const Tap tap = rows.taps[t];
      // Source row `tap.source` counted from the top is stored from the bottom.
      const std::uint32_t* line =
          src.data() + static_cast<std::size_t>(from.height - 1 - tap.source) * src_width;
      float* a = acc.data();
      for (std::size_t x = 0; x < src_width; ++x, a += 3) {
        const std::uint32_t p = line[x];
        a[0] += tap.weight * static_cast<float>((p >> 16) & 0xFFU);
        a[1] += tap.weight * static_cast<float>((p >> 8) & 0xFFU);
        a[2] += tap.weight * static_cast<float>(p & 0xFFU);
      }
    }
    // Then across: the covered columns of that row into each output pixel.
    std::uint32_t* out = dst + static_cast<std::ptrdiff_t>(y) * dst_stride;
    for (std::size_t x = 0; x < static_cast<std::size_t>(to.width); ++x) {
      float r = 0.0F;
      float g = 0.0F;
      float b = 0.0F;
      for (auto t = static_cast<std::size_t>(columns.first[x]);
           t < static_cast<std::size_t>(columns.first[x + 1]); ++t) {
        const Tap tap = columns.taps[t];
        const float* a = acc.data() + static_cast<std::size_t>(tap.source) * 3;
        r += tap.weight * a[0];
        g += tap.weight * a[1];
        b += tap.weight * a[2];
      }
      out[x] = 0xFF000000U | Channel(r * norm) << 16 | Channel(g * norm) << 8 | Channel(b * norm);
    }
  }
  return true;
}

}  // namespace scale
