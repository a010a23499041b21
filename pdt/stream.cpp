#include "pdt/stream.h"

#include <cstdint>
#include <cstring>

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
    : own_(std::min(width * height, kWindowPixels + kMaxDistance)),
      window_(own_.data()),
      capacity_(own_.size()),
      total_(width * height),
      rows_(pixels),
      width_(width),
      height_(height) {}

Output::Output(RowSink& sink, std::size_t width, std::size_t height)
    : own_(std::min(width * height, kWindowPixels + kMaxDistance + width)),
      window_(own_.data()),
      capacity_(own_.size()),
      total_(width * height),
      sink_(&sink),
      width_(width),
      height_(height) {}

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
  MoveOut();
  const std::size_t keep = std::min(at, std::max(kMaxDistance, base_ + at - moved_));
  std::memmove(window_, window_ + at - keep, keep * sizeof(std::uint32_t));
  base_ += at - keep;
  at = keep;
}

}  // namespace mdl_pdt::detail
