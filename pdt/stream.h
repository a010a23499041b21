// The decoder's input and output: the payload a piece at a time, and the
// window of decoded pixels with its room checks. Internal to pdt/.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "pdt/mdl_pdt.h"

namespace mdl_pdt::detail {

constexpr std::size_t kMaxDistance = 4096;
constexpr std::size_t kMaxLength = 16;
// Output a flag group may touch when written without checks: eight copies,
// each writing a whole block of kMaxLength pixels whatever its length (the
// surplus lands on pixels the following tokens overwrite).
constexpr std::size_t kGroupWritePixels = 8 * kMaxLength;
// The most input any kernel reads from a flag byte without checks (the
// AVX-512 kernel reads a literal's pixel as the first of 16; the last literal
// starts at byte 22). The file reader refills at this margin.
constexpr std::size_t kMaxGroupReadBytes = std::size_t{1} + 7 * 3 + 16 * 4;
// The most payload bytes a file load holds at once; the pixels of the
// stream-order window a decoder of its own decodes into, before they move to
// their rows (small enough to stay in the processor's cache); and those of a
// band, for pictures decoded in their own rows (bottom row first, rows of at
// most a quarter band). A test build makes all three tiny, so that small
// pictures cross many refills, slides and bands.
#ifndef QUILLON_PDT_READ_PIECE
#define QUILLON_PDT_READ_PIECE (64 * 1024)
#endif
#ifndef QUILLON_PDT_WINDOW_PIXELS
#define QUILLON_PDT_WINDOW_PIXELS (128 * 1024)
#endif
#ifndef QUILLON_PDT_BAND_PIXELS
#define QUILLON_PDT_BAND_PIXELS (32 * 1024)
#endif
constexpr std::size_t kReadPiece = QUILLON_PDT_READ_PIECE;
constexpr std::size_t kWindowPixels = QUILLON_PDT_WINDOW_PIXELS;
constexpr std::size_t kBandPixels = QUILLON_PDT_BAND_PIXELS;
static_assert(kReadPiece >= 2 * kMaxGroupReadBytes && kWindowPixels >= kGroupWritePixels);
// After a slide a band has room for more than half of it, and so for a group.
static_assert(kBandPixels >= 2 * kGroupWritePixels);

// The payload, a piece at a time: all of it when it is in memory, otherwise
// up to kReadPiece bytes of a file, refilled as the decoder consumes them.
class Source {
 public:
  explicit Source(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  Source(std::FILE* file, std::size_t payload_bytes)
      : file_(file), buffer_(std::min(payload_bytes, kReadPiece)), remaining_(payload_bytes) {}

  std::span<const std::uint8_t> bytes() const { return bytes_; }
  // More bytes can still come from the file.
  bool more() const { return remaining_ > 0; }

  // Keeps the bytes from `at` on, moved to the front, and reads more behind
  // them; `at` becomes 0. False on a read error.
  bool Refill(std::size_t& at);

 private:
  std::span<const std::uint8_t> bytes_;
  std::FILE* file_ = nullptr;
  std::vector<std::uint8_t> buffer_;
  std::size_t remaining_ = 0;
};

// Swaps a[0..n) and b[0..n), which do not overlap. Bands swap their rows this
// way, and a kernel may bring its own (its instruction set's wider moves).
using SwapFn = void (*)(std::uint32_t* a, std::uint32_t* b, std::size_t n);
void SwapPixels(std::uint32_t* a, std::uint32_t* b, std::size_t n);

// Where decoded pixels go. The decoder writes in stream order into a window;
// `at` is the window index of the next pixel and `base` the stream index of
// window pixel 0. Top row first, the window is the picture itself.
//
// Bottom row first, with rows of at most kBandPixels / 4, the window is a band
// of the picture's own rows: the next rows' places, filled in stream order,
// with the last kMaxDistance pixels before them copied just below, into rows
// still to come, so that copies find them. When the band is full, its
// finished rows swap into their order there, in the cache, and the next band
// lies below; the last few rows, with no room below for the copies' pixels,
// go the following way.
//
// Otherwise the window is a small buffer of its own: finished pixels move
// from it to their rows (finished rows to a sink, which also needs the window
// to hold an unfinished row), and the last kMaxDistance pixels, with any
// unfinished row, slide to its front.
class Output {
 public:
  // Stream order straight into `pixels` (total pixels).
  Output(std::uint32_t* pixels, std::size_t total)
      : window_(pixels), capacity_(total), total_(total) {}
  // Rows of `width` pixels stored bottom row first into `pixels`.
  Output(std::uint32_t* pixels, std::size_t width, std::size_t height);
  // Rows of `width` pixels handed to `sink` top row first.
  Output(RowSink& sink, std::size_t width, std::size_t height);

  // Changes when the window slides.
  std::uint32_t* window() const { return window_; }
  std::size_t at = 0;
  // How the rows of a band swap.
  SwapFn swap = SwapPixels;

  // Window index up to which a whole flag group can be written unchecked;
  // makes room first when the window is nearly full.
  std::size_t FastEnd() {
    if (mode_ != Mode::kStream && capacity_ - at < kGroupWritePixels &&
        capacity_ < total_ - base_) {
      Slide();
    }
    return std::min(capacity_, total_ - base_);
  }
  // Pixels still missing from the picture.
  std::size_t left() const { return total_ - base_ - at; }

  // Puts the pixels not yet in their rows there; the picture is complete.
  void Finish();

 private:
  enum class Mode { kStream, kBands, kMove, kSink };
  void MoveOut();
  void Slide();
  void SlideBand();
  void UseOwnWindow(PixelBuffer window);
  void PlaceBandRows(std::size_t finished);

  Mode mode_ = Mode::kStream;
  PixelBuffer own_;
  std::uint32_t* window_;
  std::size_t capacity_;
  std::size_t total_;
  std::size_t base_ = 0;
  std::size_t moved_ = 0;
  std::uint32_t* rows_ = nullptr;
  RowSink* sink_ = nullptr;
  std::size_t width_ = 0;
  std::size_t height_ = 0;
  std::size_t band_rows_ = 0;   // rows of a band
  std::size_t band_first_ = 0;  // the stream row that starts the band
};

// The payload from `source` into `out`, through the kernel in use.
PdtStatus Decode(Source& source, Output& out);

}  // namespace mdl_pdt::detail
