#include "pdt/stream.h"

#include <cstring>

namespace mdl_pdt::detail {

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
  std::size_t from = moved_;
  const std::size_t end = base_ + at;
  while (from < end) {
    const std::size_t row = from / width_;
    const std::size_t col = from % width_;
    const std::size_t n = std::min(width_ - col, end - from);
    std::memcpy(rows_ + (height_ - 1 - row) * width_ + col, window_ + (from - base_),
                n * sizeof(std::uint32_t));
    from += n;
  }
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
