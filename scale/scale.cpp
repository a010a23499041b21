#include "scale/scale.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <type_traits>
#include <vector>

namespace scale {
namespace {

// Where each colour's byte sits within a pixel's four bytes in memory.
constexpr bool kLittle = std::endian::native == std::endian::little;
constexpr std::size_t kRed = kLittle ? 2 : 1;
constexpr std::size_t kGreen = kLittle ? 1 : 2;
constexpr std::size_t kBlue = kLittle ? 0 : 3;

// Area weights along one axis, in whole numbers. With g = gcd(from, to),
// source pixel k spans [k·to/g, (k+1)·to/g) and output pixel i spans
// [i·from/g, (i+1)·from/g); a tap's weight is the length of their overlap, so
// each output pixel's weights add up to `total` = from/g.
struct Axis {
  std::vector<std::size_t> first;  // first tap of output i; first[to] ends the last
  std::vector<std::size_t> source;
  std::vector<std::uint32_t> weight;
  std::uint64_t total = 0;
};

Axis MakeAxis(std::int32_t from, std::int32_t to) {
  const std::int64_t g = std::gcd(from, to);
  const std::int64_t n = from / g;
  const std::int64_t m = to / g;
  Axis axis;
  axis.total = static_cast<std::uint64_t>(n);
  axis.first.reserve(static_cast<std::size_t>(to) + 1);
  for (std::int64_t i = 0; i < to; ++i) {
    axis.first.push_back(axis.source.size());
    const std::int64_t lo = i * n;
    const std::int64_t hi = lo + n;
    for (std::int64_t k = lo / m; k < from && k * m < hi; ++k) {
      const std::int64_t overlap = std::min(hi, (k + 1) * m) - std::max(lo, k * m);
      if (overlap > 0) {
        axis.source.push_back(static_cast<std::size_t>(k));
        axis.weight.push_back(static_cast<std::uint32_t>(overlap));
      }
    }
  }
  axis.first.push_back(axis.source.size());
  return axis;
}

// acc[i] = weight × byte i of the row (kSet), or acc[i] += it, over all four
// bytes of each pixel. Blocks of a fixed length, copied out of the row first,
// let the compiler turn the loop into vector code.
template <bool kSet, class Acc>
void AccumulateRow(const std::uint32_t* row, std::size_t width, Acc weight, Acc* acc) {
  constexpr std::size_t kBlock = 32;
  const auto* bytes = reinterpret_cast<const unsigned char*>(row);
  const std::size_t count = width * 4;
  unsigned char block[kBlock];
  for (std::size_t i = 0; i < count; i += kBlock) {
    const std::size_t n = std::min(kBlock, count - i);
    Acc* a = acc + i;
    if (n == kBlock) {
      std::memcpy(block, bytes + i, kBlock);
      for (std::size_t j = 0; j < kBlock; ++j) {
        a[j] = static_cast<Acc>((kSet ? 0 : a[j]) + weight * block[j]);
      }
    } else {
      std::memcpy(block, bytes + i, n);
      for (std::size_t j = 0; j < n; ++j) {
        a[j] = static_cast<Acc>((kSet ? 0 : a[j]) + weight * block[j]);
      }
    }
  }
}

#if defined(__GNUC__)
// Sixteen bytes and sixteen 16-bit sums as the compiler's vector types: one
// operation on them stands for sixteen, in whatever vector instructions the
// processor has.
using Bytes16 = unsigned char __attribute__((vector_size(16)));
using Sums16 = std::uint16_t __attribute__((vector_size(32)));

// AccumulateRow for 16-bit sums, sixteen bytes at a time, over row r0 and,
// when kTwo, row r1 as well: two rows in one pass over `acc`.
template <bool kSet, bool kTwo>
void AccumulateRows16(const unsigned char* r0, std::uint16_t w0, const unsigned char* r1,
                      std::uint16_t w1, std::size_t count, std::uint16_t* acc) {
  std::size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    Bytes16 b;
    std::memcpy(&b, r0 + i, sizeof b);
    Sums16 sum = __builtin_convertvector(b, Sums16) * w0;
    if constexpr (kTwo) {
      std::memcpy(&b, r1 + i, sizeof b);
      sum += __builtin_convertvector(b, Sums16) * w1;
    }
    if constexpr (!kSet) {
      Sums16 a;
      std::memcpy(&a, acc + i, sizeof a);
      sum += a;
    }
    std::memcpy(acc + i, &sum, sizeof sum);
  }
  for (; i < count; ++i) {
    auto sum = static_cast<std::uint16_t>((kSet ? 0 : acc[i]) + w0 * r0[i]);
    if constexpr (kTwo) sum = static_cast<std::uint16_t>(sum + w1 * r1[i]);
    acc[i] = sum;
  }
}
#endif

// sum / divisor rounded half up, for sum ≤ 255 × divisor: a multiplication by
// a reciprocal that is at most one too large, then corrected exactly.
class Divider {
 public:
  explicit Divider(std::uint64_t divisor)
      : divisor_(divisor), reciprocal_(((std::uint64_t{1} << kShift) + divisor - 1) / divisor) {}
  std::uint32_t operator()(std::uint64_t sum) const {
    std::uint64_t q = (sum * reciprocal_ + (std::uint64_t{1} << (kShift - 1))) >> kShift;
    if (2 * q * divisor_ > 2 * sum + divisor_) --q;
    return static_cast<std::uint32_t>(q);
  }

 private:
  // sum × reciprocal stays below 2^64 and its error below 1/2 while the
  // divisor is below 2^39, far beyond any picture held in memory.
  static constexpr int kShift = 48;
  std::uint64_t divisor_;
  std::uint64_t reciprocal_;
};

// Down the columns first: for each output row, its source rows' weighted bytes
// into `acc`, one entry per byte of a source row; then across: each output
// pixel's columns of `acc`, weighted, divided by the sum of all its weights.
template <class Acc>
void Scale(const std::uint32_t* src, Size from, std::uint32_t* dst, std::ptrdiff_t dst_stride,
           Size to, const Axis& columns, const Axis& rows) {
  const auto width = static_cast<std::size_t>(from.width);
  const auto acc = std::make_unique_for_overwrite<Acc[]>(width * 4);
  const std::uint64_t divisor = columns.total * rows.total;
  const Divider divide(divisor);
  // Whole sums of at most 255 × divisor fit in 16 bits, and so does every
  // partial sum on the way.
  const bool packed = std::is_same_v<Acc, std::uint16_t> && divisor <= 0xFFFF / 255;
  // Bottom output row first and each one's source rows bottom first, so that
  // the source is read in the order it is stored.
  for (std::int32_t y = to.height; y-- > 0;) {
    const auto ry = static_cast<std::size_t>(y);
    const auto line = [&](std::size_t tap) {
      // Source row `source` counted from the top is stored from the bottom.
      const std::size_t stored = static_cast<std::size_t>(from.height) - 1 - rows.source[tap];
      return src + stored * width;
    };
    const std::size_t first = rows.first[ry];
    std::size_t end = rows.first[ry + 1];
#if defined(__GNUC__)
    if constexpr (std::is_same_v<Acc, std::uint16_t>) {
      const std::size_t count = width * 4;
      const auto bytes = [&](std::size_t tap) {
        return reinterpret_cast<const unsigned char*>(line(tap));
      };
      for (bool set = true; end > first; set = false) {
        if (end - first >= 2) {
          const auto* r0 = bytes(end - 1);
          const auto* r1 = bytes(end - 2);
          const auto w0 = static_cast<std::uint16_t>(rows.weight[end - 1]);
          const auto w1 = static_cast<std::uint16_t>(rows.weight[end - 2]);
          set ? AccumulateRows16<true, true>(r0, w0, r1, w1, count, acc.get())
              : AccumulateRows16<false, true>(r0, w0, r1, w1, count, acc.get());
          end -= 2;
        } else {
          const auto* r0 = bytes(end - 1);
          const auto w0 = static_cast<std::uint16_t>(rows.weight[end - 1]);
          set ? AccumulateRows16<true, false>(r0, w0, r0, 0, count, acc.get())
              : AccumulateRows16<false, false>(r0, w0, r0, 0, count, acc.get());
          end -= 1;
        }
      }
    }
#endif
    for (std::size_t t = end; t-- > first;) {
      const auto weight = static_cast<Acc>(rows.weight[t]);
      if (t + 1 == rows.first[ry + 1]) {
        AccumulateRow<true>(line(t), width, weight, acc.get());
      } else {
        AccumulateRow<false>(line(t), width, weight, acc.get());
      }
    }
    std::uint32_t* out = dst + static_cast<std::ptrdiff_t>(y) * dst_stride;
    if (packed) {
      // A pixel's four 16-bit sums read as one 64-bit number: one
      // multiplication weighs all of them, and no lane can carry into the next.
      for (std::size_t x = 0; x < static_cast<std::size_t>(to.width); ++x) {
        std::uint64_t sums = 0;
        for (std::size_t t = columns.first[x]; t < columns.first[x + 1]; ++t) {
          std::uint64_t lanes = 0;
          std::memcpy(&lanes, acc.get() + columns.source[t] * 4, sizeof lanes);
          sums += columns.weight[t] * lanes;
        }
        const auto lane = [&](std::size_t c) {
          return (sums >> (kLittle ? 16 * c : 48 - 16 * c)) & 0xFFFFU;
        };
        out[x] = 0xFF000000U | divide(lane(kRed)) << 16 | divide(lane(kGreen)) << 8 |
                 divide(lane(kBlue));
      }
      continue;
    }
    for (std::size_t x = 0; x < static_cast<std::size_t>(to.width); ++x) {
      std::uint64_t r = 0;
      std::uint64_t g = 0;
      std::uint64_t b = 0;
      for (std::size_t t = columns.first[x]; t < columns.first[x + 1]; ++t) {
        const Acc* a = acc.get() + columns.source[t] * 4;
        const std::uint64_t weight = columns.weight[t];
        r += weight * a[kRed];
        g += weight * a[kGreen];
        b += weight * a[kBlue];
      }
      out[x] = 0xFF000000U | divide(r) << 16 | divide(g) << 8 | divide(b);
    }
  }
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
  if (src.size() != static_cast<std::size_t>(from.width) * static_cast<std::size_t>(from.height)) {
    return false;
  }
  const Axis columns = MakeAxis(from.width, to.width);
  const Axis rows = MakeAxis(from.height, to.height);
  // A column of one output row adds up to at most 255 × rows.total: the
  // narrowest sums that hold it make the fastest vector code.
  constexpr std::uint64_t kMaxByte = 255;
  if (rows.total * kMaxByte <= std::numeric_limits<std::uint16_t>::max()) {
    Scale<std::uint16_t>(src.data(), from, dst, dst_stride, to, columns, rows);
  } else if (rows.total * kMaxByte <= std::numeric_limits<std::uint32_t>::max()) {
    Scale<std::uint32_t>(src.data(), from, dst, dst_stride, to, columns, rows);
  } else {
    Scale<std::uint64_t>(src.data(), from, dst, dst_stride, to, columns, rows);
  }
  return true;
}

}  // namespace scale
