#include "pdt/stream.h"

#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mdl_pdt::detail {
namespace {

// Pictures at least this large reach their rows past the cache: each finished
// pixel is written there once and not read again while decoding, so writing
// it through the cache would first read its line from memory and push the
// window out. Smaller pictures stay in the cache for whoever reads them next.
constexpr std::size_t kStreamingBytes = std::size_t{2} << 20;

// to[0..n) = from[0..n), with non-temporal stores where the processor has
// them; FinishStreaming() orders them before whatever follows.
void StreamPixels(std::uint32_t* to, const std::uint32_t* from, std::size_t n) {
#if defined(__SSE2__)
  std::size_t k = 0;
  for (; k < n && (reinterpret_cast<std::uintptr_t>(to + k) & 15u) != 0; ++k) to[k] = from[k];
  for (; n - k >= 4; k += 4) {
    _mm_stream_si128(reinterpret_cast<__m128i*>(to + k),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + k)));
  }
  for (; k < n; ++k) to[k] = from[k];
#else
  std::memcpy(to, from, n * sizeof(std::uint32_t));
#endif
}

void FinishStreaming() {
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

}  // namespace

// Long rows a piece at a time through a held piece, with the library's
// copies; short ones (narrow pictures swap many) four pixels at a time in
// place, without the calls.
void SwapPixels(std::uint32_t* a, std::uint32_t* b, std::size_t n) {
  if (n >= 64) {
    std::uint32_t held[2048];
    for (std::size_t k = 0; k < n; k += std::size(held)) {
      const std::size_t bytes = std::min(n - k, std::size(held)) * sizeof(std::uint32_t);
      std::memcpy(held, a + k, bytes);
      std::memcpy(a + k, b + k, bytes);
      std::memcpy(b + k, held, bytes);
    }
    return;
  }
  std::size_t k = 0;
  for (; n - k >= 4; k += 4) {
    std::uint32_t x[4];
    std::uint32_t y[4];
    std::memcpy(x, a + k, sizeof x);
    std::memcpy(y, b + k, sizeof y);
    std::memcpy(a + k, y, sizeof y);
    std::memcpy(b + k, x, sizeof x);
  }
  for (; k < n; ++k) std::swap(a[k], b[k]);
}

bool Source::Refill(std::size_t& at) {
  const std::size_t kept = bytes_.size() - at;
  if (kept > 0) std::memmove(buffer_.data(), bytes_.data() + at, kept);
  at = 0;
  const std::size_t want = std::min(remaining_, buffer_.size() - kept);
  std::size_t got = 0;
  while (got < want) {
    const std::size_t n = std::fread(buffer_.data() + kept + got, 1, want - got, file_);
    if (n == 0) break;
    got += n;
  }
  if (std::ferror(file_)) return false;
  remaining_ = got < want ? 0 : remaining_ - got;  // a file that shrank ends early
  bytes_ = std::span<const std::uint8_t>(buffer_.data(), kept + got);
  return true;
}

Output::Output(std::uint32_t* pixels, std::size_t width, std::size_t height)
    : window_(pixels),
      capacity_(width * height),
      total_(width * height),
      rows_(pixels),
      width_(width),
      height_(height) {
  if (width >= 1 && width <= kBandPixels / 4) {
    // The first band: the picture's top rows, at the end of the buffer.
    mode_ = Mode::kBands;
    band_rows_ = std::min(height, kBandPixels / width);
    window_ = pixels + (height - band_rows_) * width;
    capacity_ = band_rows_ * width;
  } else {
    mode_ = Mode::kMove;
    UseOwnWindow(PixelBuffer(std::min(total_, kWindowPixels + kMaxDistance)));
  }
}

Output::Output(RowSink& sink, std::size_t width, std::size_t height)
    : mode_(Mode::kSink),
      window_(nullptr),
      capacity_(0),
      total_(width * height),
      sink_(&sink),
      width_(width),
      height_(height) {
  UseOwnWindow(PixelBuffer(std::min(total_, kWindowPixels + kMaxDistance + width)));
}

void Output::UseOwnWindow(PixelBuffer window) {
  own_ = std::move(window);
  window_ = own_.data();
  capacity_ = own_.size();
}

void Output::Finish() {
  switch (mode_) {
    case Mode::kStream:
      break;
    case Mode::kBands:
      // The band reaches the picture's end, so its rows are all finished.
      PlaceBandRows(band_rows_);
      break;
    case Mode::kMove:
    case Mode::kSink:
      MoveOut();
      break;
  }
}

// Moves window pixels [moved_, base_ + at) of the stream to their rows; a
// sink gets the finished rows among them.
void Output::MoveOut() {
  if (sink_ != nullptr) {
    for (; moved_ + width_ <= base_ + at; moved_ += width_) {
      sink_->Row(moved_ / width_, std::span(window_ + (moved_ - base_), width_));
    }
    return;
  }
  const bool streaming = total_ * sizeof(std::uint32_t) >= kStreamingBytes;
  std::size_t from = moved_;
  const std::size_t end = base_ + at;
  while (from < end) {
    const std::size_t row = from / width_;
    const std::size_t col = from % width_;
    const std::size_t n = std::min(width_ - col, end - from);
    std::uint32_t* to = rows_ + (height_ - 1 - row) * width_ + col;
    if (streaming) {
      StreamPixels(to, window_ + (from - base_), n);
    } else {
      std::memcpy(to, window_ + (from - base_), n * sizeof(std::uint32_t));
    }
    from += n;
  }
  if (streaming) FinishStreaming();
  moved_ = end;
}

void Output::Slide() {
  if (mode_ == Mode::kBands) {
    SlideBand();
    return;
  }
  MoveOut();
  const std::size_t keep = std::min(at, std::max(kMaxDistance, base_ + at - moved_));
  std::memmove(window_, window_ + at - keep, keep * sizeof(std::uint32_t));
  base_ += at - keep;
  at = keep;
}

// The band is nearly full. The last kMaxDistance pixels, with the unfinished
// row, go below the next band, which takes the places of the rows from the
// unfinished one on; its top row is this band's first place, so the kept
// pixels land below this band's finished rows, which then swap into their
// order. Near the picture's bottom, where no band has room below, the kept
// pixels go to a window of the decoder's own instead.
void Output::SlideBand() {
  const std::size_t now = base_ + at;
  const std::size_t row = now / width_;
  const std::size_t keep = std::min(now, std::max(kMaxDistance, now - row * width_));
  const std::size_t before = row * width_ - (now - keep);  // kept pixels before `row`
  const std::size_t rows = kBandPixels / width_;
  const std::uint32_t* const kept = window_ + at - keep;
  if (height_ - row >= rows && (height_ - row - rows) * width_ >= before) {
    std::uint32_t* const next = rows_ + (height_ - row - rows) * width_ - before;
    std::memmove(next, kept, keep * sizeof(std::uint32_t));
    PlaceBandRows(row - band_first_);
    window_ = next;
    capacity_ = before + rows * width_;
    band_rows_ = rows;
    band_first_ = row;
  } else {
    PixelBuffer own(std::min(total_ - (now - keep), kWindowPixels + kMaxDistance));
    std::memcpy(own.data(), kept, keep * sizeof(std::uint32_t));
    PlaceBandRows(row - band_first_);
    UseOwnWindow(std::move(own));
    mode_ = Mode::kMove;
    moved_ = row * width_;
  }
  base_ = now - keep;
  at = keep;
}

// The band holds stream rows band_first_ on in stream order; moves the first
// `finished` of them to their bottom-first places in the band. Places past
// those rows' are left to the rows after them.
void Output::PlaceBandRows(std::size_t finished) {
  std::uint32_t* const first = rows_ + (height_ - band_first_ - band_rows_) * width_;
  for (std::size_t i = 0; i < finished; ++i) {
    const std::size_t to = band_rows_ - 1 - i;
    if (to <= i) break;  // the rows from here on are in place
    std::uint32_t* const from_row = first + i * width_;
    std::uint32_t* const to_row = first + to * width_;
    if (to < finished) {
      swap(from_row, to_row, width_);
    } else {
      std::memcpy(to_row, from_row, width_ * sizeof(std::uint32_t));
    }
  }
}

}  // namespace mdl_pdt::detail
