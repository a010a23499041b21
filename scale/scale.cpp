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
// Thirty-two bytes and thirty-two 16-bit sums as the compiler's vector types:
// one operation on them stands for thirty-two, in whatever vector
// instructions the processor has.
using Bytes32 = unsigned char __attribute__((vector_size(32)));
using Sums32 = std::uint16_t __attribute__((vector_size(64)));

// AccumulateRow for 16-bit sums, thirty-two bytes at a time: acc[i] = weight
// × row[i] (set) or acc[i] += it. Built for wider vector units as well where
// the processor has them (AVX2, AVX-512), chosen when the program starts.
#if defined(__x86_64__) && defined(__has_attribute)
#if __has_attribute(target_clones)
#define QUILLON_SCALE_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#endif
#endif
#ifndef QUILLON_SCALE_CLONES
#define QUILLON_SCALE_CLONES
#endif
QUILLON_SCALE_CLONES
void AccumulateRow16(const unsigned char* row, std::uint16_t weight, std::size_t count, bool set,
                     std::uint16_t* acc) {
  std::size_t i = 0;
  if (set) {
    for (; i + 32 <= count; i += 32) {
      Bytes32 b;
      std::memcpy(&b, row + i, sizeof b);
      const Sums32 sum = __builtin_convertvector(b, Sums32) * weight;
      std::memcpy(acc + i, &sum, sizeof sum);
    }
    for (; i < count; ++i) acc[i] = static_cast<std::uint16_t>(weight * row[i]);
    return;
  }
  for (; i + 32 <= count; i += 32) {
    Bytes32 b;
    std::memcpy(&b, row + i, sizeof b);
    Sums32 sum;
    std::memcpy(&sum, acc + i, sizeof sum);
    sum += __builtin_convertvector(b, Sums32) * weight;
    std::memcpy(acc + i, &sum, sizeof sum);
  }
  for (; i < count; ++i) acc[i] = static_cast<std::uint16_t>(acc[i] + weight * row[i]);
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

}  // namespace

// Down the columns first: each output row's source rows, as they arrive,
// weighted into `acc`, one entry per byte of a source row; then across: each
// output pixel's columns of `acc`, weighted, divided by the sum of all their
// weights. Output rows are taken in order and each one's source rows are
// consecutive, so one row of sums is enough, whether shrinking or enlarging.
class RowScaler::Impl {
 public:
  virtual ~Impl() = default;
  virtual void Add(const std::uint32_t* row) = 0;
};

namespace {

template <class Acc>
class Scaler final : public RowScaler::Impl {
 public:
  Scaler(Size from, Size to, std::uint32_t* dst, std::ptrdiff_t dst_stride, Axis columns, Axis rows)
      : width_(static_cast<std::size_t>(from.width)),
        to_(to),
        dst_(dst),
        dst_stride_(dst_stride),
        columns_(std::move(columns)),
        rows_(std::move(rows)),
        // Not value-initialised: every sum is set before it is added to.
        acc_(new Acc[width_ * 4]),
        divide_(columns_.total * rows_.total),
        // Whole sums of at most 255 × divisor fit in 16 bits, and so does
        // every partial sum on the way.
        packed_(std::is_same_v<Acc, std::uint16_t> &&
                columns_.total * rows_.total <= 0xFFFF / 255) {}

  // Source row `source_` (counted from the top): weighed into every output
  // row that covers it, those rows written out as they complete.
  void Add(const std::uint32_t* row) override {
    const auto y_end = static_cast<std::size_t>(to_.height);
    while (y_ < y_end && rows_.source[tap_] == source_) {
      Accumulate(row, rows_.weight[tap_], tap_ == rows_.first[y_]);
      if (++tap_ < rows_.first[y_ + 1]) break;
      Emit();
      ++y_;
    }
    ++source_;
  }

 private:
  void Accumulate(const std::uint32_t* row, std::uint32_t weight, bool set) {
#if defined(__GNUC__)
    if constexpr (std::is_same_v<Acc, std::uint16_t>) {
      const auto* bytes = reinterpret_cast<const unsigned char*>(row);
      const auto w = static_cast<std::uint16_t>(weight);
      AccumulateRow16(bytes, w, width_ * 4, set, acc_.get());
      return;
    }
#endif
    set ? AccumulateRow<true>(row, width_, static_cast<Acc>(weight), acc_.get())
        : AccumulateRow<false>(row, width_, static_cast<Acc>(weight), acc_.get());
  }

  // Output row y_ from the sums of its source rows.
  void Emit() {
    std::uint32_t* out = dst_ + static_cast<std::ptrdiff_t>(y_) * dst_stride_;
    const Acc* acc = acc_.get();
    if (packed_) {
      // A pixel's four 16-bit sums read as one 64-bit number: one
      // multiplication weighs all of them, and no lane can carry into the next.
      for (std::size_t x = 0; x < static_cast<std::size_t>(to_.width); ++x) {
        std::uint64_t sums = 0;
        for (std::size_t t = columns_.first[x]; t < columns_.first[x + 1]; ++t) {
          std::uint64_t lanes = 0;
          std::memcpy(&lanes, acc + columns_.source[t] * 4, sizeof lanes);
          sums += columns_.weight[t] * lanes;
        }
        const auto lane = [&](std::size_t c) {
          return (sums >> (kLittle ? 16 * c : 48 - 16 * c)) & 0xFFFFU;
        };
        out[x] = 0xFF000000U | divide_(lane(kRed)) << 16 | divide_(lane(kGreen)) << 8 |
                 divide_(lane(kBlue));
      }
      return;
    }
    for (std::size_t x = 0; x < static_cast<std::size_t>(to_.width); ++x) {
      std::uint64_t r = 0;
      std::uint64_t g = 0;
      std::uint64_t b = 0;
      for (std::size_t t = columns_.first[x]; t < columns_.first[x + 1]; ++t) {
        const Acc* a = acc + columns_.source[t] * 4;
        const std::uint64_t weight = columns_.weight[t];
        r += weight * a[kRed];
        g += weight * a[kGreen];
        b += weight * a[kBlue];
      }
      out[x] = 0xFF000000U | divide_(r) << 16 | divide_(g) << 8 | divide_(b);
    }
  }

  std::size_t width_;
  Size to_;
  std::uint32_t* dst_;
  std::ptrdiff_t dst_stride_;
  Axis columns_;
  Axis rows_;
  std::unique_ptr<Acc[]> acc_;
  Divider divide_;
  bool packed_;
  std::size_t source_ = 0;  // the next source row
  std::size_t y_ = 0;       // the output row being summed
  std::size_t tap_ = 0;     // its next tap
};

// Rows kept at their size: each one copied, made opaque as a resize makes it.
class RowCopier final : public RowScaler::Impl {
 public:
  RowCopier(std::size_t width, std::uint32_t* dst, std::ptrdiff_t dst_stride)
      : width_(width), dst_(dst), dst_stride_(dst_stride) {}

  void Add(const std::uint32_t* row) override {
    std::uint32_t* out = dst_ + static_cast<std::ptrdiff_t>(y_++) * dst_stride_;
    for (std::size_t x = 0; x < width_; ++x) out[x] = row[x] | 0xFF000000U;
  }

 private:
  std::size_t width_;
  std::uint32_t* dst_;
  std::ptrdiff_t dst_stride_;
  std::size_t y_ = 0;
};

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

RowScaler::RowScaler(Size from, Size to, std::uint32_t* dst, std::ptrdiff_t dst_stride)
    : width_(from.width), rows_left_(from.height) {
  if (from.width < 1 || from.height < 1 || to.width < 1 || to.height < 1) {
    rows_left_ = 0;
    return;
  }
  if (from.width == to.width && from.height == to.height) {
    impl_ = std::make_unique<RowCopier>(static_cast<std::size_t>(from.width), dst, dst_stride);
    return;
  }
  Axis columns = MakeAxis(from.width, to.width);
  Axis rows = MakeAxis(from.height, to.height);
  // A column of one output row adds up to at most 255 × rows.total: the
  // narrowest sums that hold it make the fastest vector code.
  constexpr std::uint64_t kMaxByte = 255;
  if (rows.total * kMaxByte <= std::numeric_limits<std::uint16_t>::max()) {
    impl_ = std::make_unique<Scaler<std::uint16_t>>(from, to, dst, dst_stride, std::move(columns),
                                                    std::move(rows));
  } else if (rows.total * kMaxByte <= std::numeric_limits<std::uint32_t>::max()) {
    impl_ = std::make_unique<Scaler<std::uint32_t>>(from, to, dst, dst_stride, std::move(columns),
                                                    std::move(rows));
  } else {
    impl_ = std::make_unique<Scaler<std::uint64_t>>(from, to, dst, dst_stride, std::move(columns),
                                                    std::move(rows));
  }
}

RowScaler::~RowScaler() = default;

bool RowScaler::AddRow(std::span<const std::uint32_t> row) {
  if (rows_left_ < 1 || row.size() != static_cast<std::size_t>(width_)) return false;
  impl_->Add(row.data());
  --rows_left_;
  return true;
}

bool ScaleArea(std::span<const std::uint32_t> src, Size from, std::uint32_t* dst,
               std::ptrdiff_t dst_stride, Size to) {
  if (from.width < 1 || from.height < 1 || to.width < 1 || to.height < 1) return false;
  const auto width = static_cast<std::size_t>(from.width);
  if (src.size() != width * static_cast<std::size_t>(from.height)) return false;
  RowScaler scaler(from, to, dst, dst_stride);
  // Stored bottom row first: the top row is the last one.
  for (std::size_t y = static_cast<std::size_t>(from.height); y-- > 0;) {
    scaler.AddRow(src.subspan(y * width, width));
  }
  return true;
}

}  // namespace scale
