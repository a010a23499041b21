// Resizing pictures by area averaging: each output pixel is the mean of the
// part of the picture it covers, so downscaling is smooth and never skips
// pixels. Standard library only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace scale {

struct Size {
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// The largest size whose longer side is at most `max_side`, with the
// picture's aspect ratio (rounded, each side at least 1); a picture that
// already fits keeps its size, so it is never enlarged.
Size FitWithin(Size picture, std::int32_t max_side);

// Resizes `src`, `from.width` × `from.height` pixels stored bottom row first
// (0xFF000000 | R << 16 | G << 8 | B, as a loaded picture holds them), to
// `to`. Output row y (0 = top row) starts at dst + y × dst_stride pixels; a
// negative stride with dst at the last row stores the result bottom row
// first. Output pixels are opaque. Sizes below 1 or a `src` of the wrong
// length produce nothing and return false.
bool ScaleArea(std::span<const std::uint32_t> src, Size from, std::uint32_t* dst,
               std::ptrdiff_t dst_stride, Size to);

// The same resize with the picture fed one row at a time, top row first, so
// that it never needs to be held whole: output row y (0 = top) is written to
// dst + y × dst_stride pixels as soon as the source rows it covers are in.
class RowScaler {
 public:
  // Sizes below 1 give a scaler that takes no rows.
  RowScaler(Size from, Size to, std::uint32_t* dst, std::ptrdiff_t dst_stride);
  ~RowScaler();
  RowScaler(const RowScaler&) = delete;
  RowScaler& operator=(const RowScaler&) = delete;

  // The next source row, `from.width` pixels; false, and nothing done, for a
  // row of another length or one beyond `from.height`.
  bool AddRow(std::span<const std::uint32_t> row);

  // Output rows written so far, so that a caller can pass each one on as it
  // completes.
  std::int32_t RowsOut() const;

  class Impl;

 private:
  std::int32_t width_;
  std::int32_t rows_left_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace scale
