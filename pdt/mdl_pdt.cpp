#include "pdt/mdl_pdt.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>

// The AVX-512 decoder below is built for x86-64 with GCC or clang, and used
// where the processor has it. QUILLON_PDT_PLAIN builds the portable one only.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(QUILLON_PDT_PLAIN)
#define QUILLON_PDT_WIDE 1
// GCC 12's AVX-512 headers warn of their own placeholder values.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace mdl_pdt {

namespace detail {
namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Huge pages are offered where the system takes the hint; elsewhere a
// picture's pixels get ordinary memory, without the alignment's cost.
#if defined(__linux__) && defined(MADV_HUGEPAGE)
constexpr bool kOfferHugePages = true;
#else
constexpr bool kOfferHugePages = false;
#endif
}  // namespace

void* AllocatePixels(std::size_t bytes) {
  if (!kOfferHugePages || bytes < kHugePage) return ::operator new(bytes);
  // Whole huge pages, so that the block's last one is not shared.
  const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* p = ::operator new (rounded, std::align_val_t{kHugePage});
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint: without it the pages are small
#endif
  return p;
}

void FreePixels(void* p, std::size_t bytes) noexcept {
  if (!kOfferHugePages || bytes < kHugePage) {
    ::operator delete(p);
  } else {
    ::operator delete (p, std::align_val_t{kHugePage});
  }
}
}  // namespace detail

namespace {

std::int32_t ReadInt32Le(const std::uint8_t* p) {
  const std::uint32_t v = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                          static_cast<std::uint32_t>(p[2]) << 16 |
                          static_cast<std::uint32_t>(p[3]) << 24;
  return static_cast<std::int32_t>(v);
}

std::uint32_t LiteralPixel(const std::uint8_t* p) {
  return 0xFF000000u | static_cast<std::uint32_t>(p[2]) << 16 |
         static_cast<std::uint32_t>(p[1]) << 8 | p[0];
}

// LiteralPixel for a literal followed by at least one more readable byte: one
// 4-byte load on little-endian hosts, whose top byte is then replaced.
std::uint32_t LiteralPixelWide(const std::uint8_t* p) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v | 0xFF000000u;
  } else {
    return LiteralPixel(p);
  }
}

// Eight literals (24 bytes) into eight pixels: on little-endian hosts three
// 8-byte loads, and the pixels stored two at a time. (The stores stay
// separate: gathered in memory first, they would be read back in one piece
// the processor cannot forward from the pending stores.)
void EightLiterals(const std::uint8_t* p, std::uint32_t* to) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    std::uint64_t c = 0;
    std::memcpy(&a, p, sizeof a);
    std::memcpy(&b, p + 8, sizeof b);
    std::memcpy(&c, p + 16, sizeof c);
    constexpr std::uint64_t kRgb = 0xFFFFFF;
    constexpr std::uint64_t kOpaque = 0xFF000000FF000000u;
    const std::uint64_t p01 = (a & kRgb) | ((a >> 24) & kRgb) << 32 | kOpaque;
    const std::uint64_t p23 = (a >> 48 | (b & 0xFF) << 16) | ((b >> 8) & kRgb) << 32 | kOpaque;
    const std::uint64_t p45 = ((b >> 32) & kRgb) | (b >> 56 | (c & 0xFFFF) << 8) << 32 | kOpaque;
    const std::uint64_t p67 = ((c >> 16) & kRgb) | (c >> 40) << 32 | kOpaque;
    std::memcpy(to, &p01, sizeof p01);
    std::memcpy(to + 2, &p23, sizeof p23);
    std::memcpy(to + 4, &p45, sizeof p45);
    std::memcpy(to + 6, &p67, sizeof p67);
  } else {
    for (std::size_t k = 0; k < 8; ++k) to[k] = LiteralPixel(p + 3 * k);
  }
}

// The fields of a copy token: a 16-bit little-endian value whose upper 12
// bits are the distance − 1 and whose lower 4 bits are the length − 1.
struct CopyToken {
  std::size_t distance;  // 1 .. 4096 pixels back
  std::size_t length;    // 1 .. 16 pixels
};

CopyToken ReadCopy(const std::uint8_t* p) {
  const unsigned v = static_cast<unsigned>(p[0]) | static_cast<unsigned>(p[1]) << 8;
  return {(v >> 4) + 1, (v & 0x0Fu) + 1};
}

constexpr std::size_t kMaxDistance = 4096;
constexpr std::size_t kMaxLength = 16;
// Input a flag group may need when read without checks: the flag byte, eight
// 3-byte literals, and one byte beyond the last literal for its 4-byte load.
constexpr std::size_t kGroupReadBytes = std::size_t{1} + 8 * 3 + 1;
// Input the AVX-512 decoder may read from a flag byte: it reads a literal's
// pixel as the first of 16 (the last literal starts at byte 22).
constexpr std::size_t kWideReadBytes = std::size_t{1} + 7 * 3 + 16 * 4;
// Output a flag group may touch when written without checks: eight copies,
// each writing a whole block of kMaxLength pixels whatever its length (the
// surplus lands on pixels the following tokens overwrite).
constexpr std::size_t kGroupWritePixels = 8 * kMaxLength;
// The most payload bytes a file load holds at once, and the pixels of the
// stream-order window a load decodes into before they are moved to their
// bottom-first rows (small enough to stay in the processor's cache). A test
// build makes both tiny, so that small pictures cross many refills and slides.
#ifndef QUILLON_PDT_READ_PIECE
#define QUILLON_PDT_READ_PIECE (64 * 1024)
#endif
#ifndef QUILLON_PDT_WINDOW_PIXELS
#define QUILLON_PDT_WINDOW_PIXELS (128 * 1024)
#endif
constexpr std::size_t kReadPiece = QUILLON_PDT_READ_PIECE;
constexpr std::size_t kWindowPixels = QUILLON_PDT_WINDOW_PIXELS;
static_assert(kReadPiece >= 2 * kWideReadBytes && kWindowPixels >= kGroupWritePixels);

// Where the tokens of one flag group start, counted from the flag byte, and
// how many bytes the group takes: the flag byte alone fixes both (3 bytes for
// a literal, 2 for a copy), so the input position never waits on a token.
struct GroupLayout {
  std::array<std::uint8_t, 8> offset;
  std::uint8_t bytes;
  std::uint8_t literals;
};

// Flag groups with at most this many literals branch on the token kind.
constexpr unsigned kBranchingLiterals = 2;

constexpr std::array<GroupLayout, 256> kGroupLayouts = [] {
  std::array<GroupLayout, 256> layouts{};
  for (unsigned flags = 0; flags < 256; ++flags) {
    unsigned at = 1;
    for (unsigned t = 0; t < 8; ++t) {
      layouts[flags].offset[t] = static_cast<std::uint8_t>(at);
      at += (flags << t & 0x80u) != 0 ? 3 : 2;
    }
    layouts[flags].bytes = static_cast<std::uint8_t>(at);
    layouts[flags].literals = static_cast<std::uint8_t>(std::popcount(flags));
  }
  return layouts;
}();

// For a copy of distance d (row min(d, kMaxLength)), the pixel before the
// copy that output pixel k repeats, counted from d pixels back: k mod d for
// short distances, k itself for the rest. Row 0 serves literals, whose
// distance is taken as 0: every pixel repeats the literal just stored.
constexpr std::array<std::array<std::uint8_t, kMaxLength>, kMaxLength + 1> kRepeat = [] {
  std::array<std::array<std::uint8_t, kMaxLength>, kMaxLength + 1> rows{};
  for (std::size_t d = 1; d <= kMaxLength; ++d) {
    for (std::size_t k = 0; k < kMaxLength; ++k) rows[d][k] = static_cast<std::uint8_t>(k % d);
  }
  return rows;
}();

// The output pixels of a copy past its first four (k = 4 .. 15), taken from
// `distance` pixels back as a pixel-at-a-time forward copy would.
void CopyTail(std::uint32_t* to, std::size_t distance) {
  const std::uint32_t* from = to - distance;
  if (distance >= kMaxLength) {
    std::memcpy(to + 4, from + 4, (kMaxLength - 4) * sizeof(std::uint32_t));
  } else if (distance == 1) {
    std::fill_n(to + 4, kMaxLength - 4, from[0]);
  } else {
    for (std::size_t k = 4; k < kMaxLength; ++k) to[k] = from[k];
  }
}

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
  bool Refill(std::size_t& at) {
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

 private:
  std::span<const std::uint8_t> bytes_;
  std::FILE* file_ = nullptr;
  std::vector<std::uint8_t> buffer_;
  std::size_t remaining_ = 0;
};

// Where decoded pixels go. The decoder writes in stream order into a window;
// `at` is the window index of the next pixel and `base` the stream index of
// window pixel 0. Top row first, the window is the picture itself. Bottom row
// first, or row by row to a sink, it is a small buffer of its own: finished
// pixels move from it to their rows (finished rows to the sink), and the last
// kMaxDistance pixels, with any unfinished row, slide to its front so that
// copies still find them.
class Output {
 public:
  // Stream order straight into `pixels` (total pixels).
  Output(std::uint32_t* pixels, std::size_t total)
      : window_(pixels), capacity_(total), total_(total) {}
  // Rows of `width` pixels stored bottom row first into `pixels`.
  Output(std::uint32_t* pixels, std::size_t width, std::size_t height)
      : own_(std::min(width * height, kWindowPixels + kMaxDistance)),
        window_(own_.data()),
        capacity_(own_.size()),
        total_(width * height),
        rows_(pixels),
        width_(width),
        height_(height) {}
  // Rows of `width` pixels handed to `sink` top row first; the window also
  // holds an unfinished row.
  Output(RowSink& sink, std::size_t width, std::size_t height)
      : own_(std::min(width * height, kWindowPixels + kMaxDistance + width)),
        window_(own_.data()),
        capacity_(own_.size()),
        total_(width * height),
        sink_(&sink),
        width_(width),
        height_(height) {}

  std::uint32_t* window() const { return window_; }
  std::size_t at = 0;

  // Window index up to which a whole flag group can be written unchecked;
  // makes room first when the window is nearly full.
  std::size_t FastEnd() {
    if (windowed() && capacity_ - at < kGroupWritePixels && capacity_ < total_ - base_) {
      Slide();
    }
    return std::min(capacity_, total_ - base_);
  }
  // Pixels still missing from the picture.
  std::size_t left() const { return total_ - base_ - at; }

  // Moves the pixels not yet moved to their rows; the picture is complete.
  void Finish() {
    if (windowed()) MoveOut();
  }

 private:
  bool windowed() const { return rows_ != nullptr || sink_ != nullptr; }

  // Moves window pixels [moved_, base_ + at) of the stream to their rows; a
  // sink gets the finished rows among them.
  void MoveOut() {
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
  void Slide() {
    MoveOut();
    const std::size_t keep = std::min(at, std::max(kMaxDistance, base_ + at - moved_));
    std::memmove(window_, window_ + at - keep, keep * sizeof(std::uint32_t));
    base_ += at - keep;
    at = keep;
  }

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
};

enum class Step { Continue, Done, CopyBeforeStart, Truncated };

// Among the loaders' own results: a file whose header was read and accepted
// but whose size cannot be known (not a regular file).
constexpr auto kNotRegular = static_cast<PdtStatus>(-1);

// Whole flag groups while their input and output need no checks; returns
// with `in` at the next flag byte when either runs short.
Step DecodeGroups(std::span<const std::uint8_t> bytes, std::size_t& in, Output& out) {
  const std::uint8_t* const src = bytes.data();
  const std::size_t src_len = bytes.size();
  std::uint32_t* const win = out.window();
  std::size_t i = in;
  // FastEnd first: it may slide the window and so move `out.at`.
  std::size_t fast_end = out.FastEnd();
  std::size_t at = out.at;
  // The newest pixel, kept in a register so that runs of it need no load.
  std::uint32_t last = at > 0 ? win[at - 1] : 0;
  Step step = Step::Continue;
  while (src_len - i >= kGroupReadBytes) {
    if (fast_end - at < kGroupWritePixels) {
      out.at = at;
      fast_end = out.FastEnd();
      at = out.at;
      if (fast_end - at < kGroupWritePixels) break;
    }
    const unsigned flags = src[i];
    if (flags == 0xFFu) {
      EightLiterals(src + i + 1, win + at);
      last = LiteralPixel(src + i + 22);
      i += 25;
      at += 8;
      continue;
    }
    const GroupLayout& layout = kGroupLayouts[flags];
    if (layout.literals <= kBranchingLiterals) {
      // Few literals, as long runs give: a branch on the token kind is
      // mostly predicted, and each copy writes a whole block of kMaxLength
      // pixels.
      const std::uint8_t* p = src + i + 1;
      i += layout.bytes;
      bool before_start = false;
      for (unsigned t = 0; t < 8; ++t) {
        if (((flags << t) & 0x80u) != 0) {
          last = LiteralPixelWide(p);
          win[at++] = last;
          p += 3;
          continue;
        }
        const CopyToken copy = ReadCopy(p);
        p += 2;
        if (copy.distance > at) {
          before_start = true;
          break;
        }
        std::uint32_t* to = win + at;
        if (copy.distance >= kMaxLength) {
          const std::uint32_t* from = to - copy.distance;
          std::memcpy(to, from, kMaxLength * sizeof(std::uint32_t));
          last = from[copy.length - 1];
        } else if (copy.distance == 1) {
          std::fill_n(to, kMaxLength, last);
        } else {
          // Pixels from before the copy only, so that none waits on this
          // copy's own stores; the second half only when the copy needs it.
          const std::uint32_t* from = to - copy.distance;
          const std::uint8_t* repeat = kRepeat[copy.distance].data();
          for (std::size_t k = 0; k < kMaxLength / 2; ++k) to[k] = from[repeat[k]];
          if (copy.length > kMaxLength / 2) {
            for (std::size_t k = kMaxLength / 2; k < kMaxLength; ++k) to[k] = from[repeat[k]];
          }
          last = from[repeat[copy.length - 1]];
        }
        at += copy.length;
      }
      if (before_start) {
        step = Step::CopyBeforeStart;
        break;
      }
      continue;
    }
    const std::uint8_t* const group = src + i;
    i += layout.bytes;
    // Every token takes the same steps: a literal is a copy of distance 0
    // whose first pixel is the literal, so nothing branches on the kind.
    // Four pixels are always written; the surplus lands on pixels the
    // following tokens overwrite. A copy from before pixel 0 reads pixel
    // `at` instead and fails the group.
    std::uint32_t* to = win + at;
    std::size_t before_start = 0;
#pragma GCC unroll 8
    for (unsigned t = 0; t < 8; ++t) {
      const std::uint8_t* p = group + layout.offset[t];
      const std::uint32_t copy_mask = ((flags << t) & 0x80u) != 0 ? 0u : ~0u;
      const unsigned v =
          (static_cast<unsigned>(p[0]) | static_cast<unsigned>(p[1]) << 8) & copy_mask;
      std::size_t distance = (v >> 4) + (copy_mask & 1u);
      const std::size_t length = (v & 0x0Fu) + 1;
      // All ones while the copy reaches back no further than pixel 0.
      const std::size_t reach =
          std::size_t{0} - static_cast<std::size_t>(distance <= static_cast<std::size_t>(to - win));
      before_start |= ~reach;
      distance &= reach;
      // Pixel by pixel in order, so that an overlapping copy repeats what it
      // has just written.
      const std::uint32_t* from = to - distance;
      to[0] = (LiteralPixelWide(p) & ~copy_mask) | (from[0] & copy_mask);
      to[1] = from[1];
      to[2] = from[2];
      to[3] = from[3];
      if (length > 4) CopyTail(to, distance);
      to += length;
    }
    at = static_cast<std::size_t>(to - win);
    last = win[at - 1];
    if (before_start) {
      step = Step::CopyBeforeStart;
      break;
    }
  }
  in = i;
  out.at = at;
  return step;
}

#ifdef QUILLON_PDT_WIDE
// The AVX-512 decoder. Detailed pictures mix literals, copies from just
// behind and copies from rows above at random, so branching on the kind of
// each token mispredicts often; here every token takes the same steps.
// The newest 16 pixels stay in a register (the history), so that a copy from
// at most 16 back is a permutation of it and waits on no store. Every token
// writes with one 16-pixel store: past the first kMaxDistance pixels the
// history, its own pixels last and the ones before them again with the values
// they hold; before that its own pixels first, the surplus overwritten by the
// following tokens as in the plain decoder.
#define QUILLON_PDT_WIDE_TARGET \
  __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi")))

// Permutation indexes into the history (0 .. 15) followed by a token's own 16
// pixels (16 .. 31): a literal's pixel, or the pixels a far copy repeats.
struct WideTables {
  // next[r][n]: the history after a token of n pixels. r = 0 appends the
  // token's own pixels; r = d (1 .. 16) repeats the last d pixels.
  alignas(64) std::uint32_t next[kMaxLength + 1][kMaxLength + 1][16];
  // fill[r]: the 16 pixels the token writes, by the same r.
  alignas(64) std::uint32_t fill[kMaxLength + 1][16];
};

constexpr WideTables kWide = [] {
  WideTables t{};
  for (std::size_t r = 0; r <= kMaxLength; ++r) {
    for (std::size_t n = 0; n <= kMaxLength; ++n) {
      for (std::size_t k = 0; k < 16; ++k) {
        const std::size_t from = k + n;
        t.next[r][n][k] =
            static_cast<std::uint32_t>(r == 0 || from < 16 ? from : 16 - r + (from - 16) % r);
      }
    }
    for (std::size_t k = 0; k < 16; ++k) {
      t.fill[r][k] = static_cast<std::uint32_t>(r == 0 ? 16 + k : 16 - r + k % r);
    }
  }
  return t;
}();

// The history at window index `at`: lane k holds pixel at − 16 + k, and 0
// where that is before pixel 0.
QUILLON_PDT_WIDE_TARGET inline __m512i LoadHistory(const std::uint32_t* win, std::size_t at) {
  if (at >= 16) return _mm512_loadu_si512(win + at - 16);
  return _mm512_maskz_expandloadu_epi32(static_cast<__mmask16>(0xFFFFu << (16 - at)), win);
}

// Where each token of a flag group reads and writes, worked out for all eight
// at once.
struct alignas(64) GroupPlan {
  const std::uint32_t* own[8];  // its own pixels: a far copy's source, a literal's bytes
  std::uint32_t* to[8];   // where its store goes: its first pixel, or its last 16 past kMaxDistance
  std::uint32_t rows[8];  // byte offsets of its rows: kWide.fill above 16 bits, kWide.next below
};

// One flag group, its input and output known to be in reach. Checked: the
// group may start within kMaxDistance pixels of pixel 0; if a copy reaches
// before pixel 0, returns false having written nothing.
template <bool kChecked>
QUILLON_PDT_WIDE_TARGET inline bool WideGroup(const std::uint8_t* group, const GroupLayout& layout,
                                              std::uint32_t* win, std::size_t& at, __m512i& hist) {
  const __m256i one = _mm256_set1_epi32(1);
  // Lane t: the four bytes from token t's start.
  const __m256i bytes =
      _mm256_maskz_loadu_epi8(static_cast<__mmask32>((1u << kGroupReadBytes) - 1), group);
  const __m128i offsets = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(layout.offset.data()));
  const __m256i starts =
      _mm256_permutexvar_epi8(_mm256_set_epi8(7, 7, 7, 7, 6, 6, 6, 6, 5, 5, 5, 5, 4, 4, 4, 4, 3, 3,
                                              3, 3, 2, 2, 2, 2, 1, 1, 1, 1, 0, 0, 0, 0),
                              _mm256_castsi128_si256(offsets));
  const __m256i token =
      _mm256_permutexvar_epi8(_mm256_add_epi8(starts, _mm256_set1_epi32(0x03020100)), bytes);
  const __mmask8 literal = _mm256_test_epi32_mask(_mm256_set1_epi32(group[0]),
                                                  _mm256_set_epi32(1, 2, 4, 8, 16, 32, 64, 128));
  // The copy fields, as ReadCopy reads them.
  const __m256i distance = _mm256_add_epi32(
      _mm256_srli_epi32(_mm256_and_si256(token, _mm256_set1_epi32(0xFFFF)), 4), one);
  const __m256i length = _mm256_mask_mov_epi32(
      _mm256_add_epi32(_mm256_and_si256(token, _mm256_set1_epi32(0x0F)), one), literal, one);
  // Copies from at most kMaxLength back (their second byte is 0) come from
  // the history; the others read their own pixels.
  const __mmask8 near = _mm256_mask_testn_epi32_mask(static_cast<__mmask8>(~literal), token,
                                                     _mm256_set1_epi32(0xFF00));
  const auto far = static_cast<__mmask8>(~literal & ~near);
  // Where each token starts: `at` and the lengths before it.
  __m256i sum = length;
  sum = _mm256_add_epi32(sum, _mm256_alignr_epi32(sum, _mm256_setzero_si256(), 7));
  sum = _mm256_add_epi32(sum, _mm256_alignr_epi32(sum, _mm256_setzero_si256(), 6));
  sum = _mm256_add_epi32(sum, _mm256_alignr_epi32(sum, _mm256_setzero_si256(), 4));
  const __m256i to =
      _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(at)), _mm256_sub_epi32(sum, length));
  if constexpr (kChecked) {
    if (_mm256_mask_cmpgt_epu32_mask(static_cast<__mmask8>(~literal), distance, to) != 0) {
      return false;
    }
  }
  // Near copies read pixels they do not use. Once kMaxDistance pixels are
  // decoded, they read from far enough back, at an address apart from the
  // newest stores' in its low 12 bits too, that the load waits on none.
  const __m256i unused_back = _mm256_set1_epi32(kChecked ? 0 : 3584);
  const __m256i from = _mm256_sub_epi32(to, _mm256_mask_mov_epi32(unused_back, far, distance));
  const __m512i win_at =
      _mm512_set1_epi64(static_cast<long long>(reinterpret_cast<std::uintptr_t>(win)));
  const __m512i group_at =
      _mm512_set1_epi64(static_cast<long long>(reinterpret_cast<std::uintptr_t>(group)));
  GroupPlan plan;
  const __m256i store_at =
      kChecked ? to : _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(at) - 16), sum);
  _mm512_store_si512(
      plan.to, _mm512_add_epi64(win_at, _mm512_slli_epi64(_mm512_cvtepu32_epi64(store_at), 2)));
  _mm512_store_si512(
      plan.own, _mm512_mask_add_epi64(
                    _mm512_add_epi64(win_at, _mm512_slli_epi64(_mm512_cvtepu32_epi64(from), 2)),
                    literal, group_at, _mm512_cvtepu8_epi64(offsets)));
  const __m256i r = _mm256_maskz_mov_epi32(near, distance);
  const __m256i next_row = _mm256_add_epi32(_mm256_add_epi32(_mm256_slli_epi32(r, 4), r), length);
  _mm256_store_si256(reinterpret_cast<__m256i*>(plan.rows),
                     _mm256_or_si256(_mm256_slli_epi32(r, 6 + 16), _mm256_slli_epi32(next_row, 6)));
  // Read back one field at a time: a load each, cheaper than taking lanes
  // out of the vectors.
  const volatile GroupPlan& p = plan;
  const auto* fills = reinterpret_cast<const std::uint8_t*>(kWide.fill);
  const auto* nexts = reinterpret_cast<const std::uint8_t*>(kWide.next);
  // Every decoded pixel is opaque, so setting the top byte turns a literal's
  // three bytes into its pixel and leaves copied pixels as they are.
  const __m512i opaque = _mm512_set1_epi32(static_cast<int>(0xFF000000u));
#pragma GCC unroll 8
  for (unsigned t = 0; t < 8; ++t) {
    const __m512i own = _mm512_or_si512(_mm512_loadu_si512(p.own[t]), opaque);
    const std::uint32_t rows = p.rows[t];
    if constexpr (kChecked) {
      _mm512_storeu_si512(
          p.to[t], _mm512_permutex2var_epi32(hist, _mm512_load_si512(fills + (rows >> 16)), own));
    }
    hist = _mm512_permutex2var_epi32(hist, _mm512_load_si512(nexts + (rows & 0xFFFFu)), own);
    if constexpr (!kChecked) {
      // The newest 16 pixels, this token's last.
      _mm512_storeu_si512(p.to[t], hist);
    }
  }
  at += static_cast<std::uint32_t>(_mm256_extract_epi32(sum, 7));
  return true;
}

// A flag group of eight literals, as one token of eight pixels; returns the
// new `at`.
QUILLON_PDT_WIDE_TARGET inline std::size_t EightLiteralsWide(const std::uint8_t* group,
                                                             std::uint32_t* win, std::size_t at,
                                                             __m512i& hist) {
  const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(group + 1));
  const __m512i own = _mm512_zextsi256_si512(
      _mm256_or_si256(_mm256_permutexvar_epi8(
                          _mm256_set_epi8(0, 23, 22, 21, 0, 20, 19, 18, 0, 17, 16, 15, 0, 14, 13,
                                          12, 0, 11, 10, 9, 0, 8, 7, 6, 0, 5, 4, 3, 0, 2, 1, 0),
                          bytes),
                      _mm256_set1_epi32(static_cast<int>(0xFF000000u))));
  hist = _mm512_permutex2var_epi32(hist, _mm512_load_si512(kWide.next[0][8]), own);
  if (at >= kMaxLength) {
    _mm512_storeu_si512(win + at + 8 - 16, hist);
  } else {
    _mm512_storeu_si512(win + at, own);
  }
  return at + 8;
}

// DecodeGroups with the AVX-512 decoder.
QUILLON_PDT_WIDE_TARGET
Step DecodeGroupsWide(std::span<const std::uint8_t> bytes, std::size_t& in, Output& out) {
  const std::uint8_t* const src = bytes.data();
  const std::size_t src_len = bytes.size();
  std::uint32_t* const win = out.window();
  std::size_t i = in;
  std::size_t fast_end = out.FastEnd();
  std::size_t at = out.at;
  __m512i hist = LoadHistory(win, at);
  Step step = Step::Continue;
  while (src_len - i >= kWideReadBytes) {
    if (fast_end - at < kGroupWritePixels) {
      out.at = at;
      fast_end = out.FastEnd();  // may slide the window
      at = out.at;
      if (fast_end - at < kGroupWritePixels) break;
      hist = LoadHistory(win, at);
    }
    const std::uint8_t* const group = src + i;
    if (group[0] == 0xFFu) {
      at = EightLiteralsWide(group, win, at, hist);
      i += 25;
      continue;
    }
    const GroupLayout& layout = kGroupLayouts[group[0]];
    i += layout.bytes;
    if (at >= kMaxDistance) {
      WideGroup<false>(group, layout, win, at, hist);
    } else if (!WideGroup<true>(group, layout, win, at, hist)) {
      step = Step::CopyBeforeStart;
      break;
    }
  }
  in = i;
  out.at = at;
  return step;
}

bool HasWide() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
         __builtin_cpu_supports("avx512vbmi");
}
#endif

// One flag group with every read checked and copies cut where the picture is
// complete.
Step DecodeGroupChecked(std::span<const std::uint8_t> bytes, std::size_t& in, Output& out) {
  const std::uint8_t* const src = bytes.data();
  const std::size_t src_len = bytes.size();
  out.FastEnd();  // room in the window for the whole group
  std::uint32_t* const win = out.window();
  if (in >= src_len) return Step::Truncated;
  unsigned flags = src[in++];
  for (int t = 0; t < 8; ++t, flags <<= 1) {
    if (flags & 0x80u) {
      if (src_len - in < 3) return Step::Truncated;
      win[out.at++] = LiteralPixel(src + in);
      in += 3;
      if (out.left() == 0) return Step::Done;
    } else {
      if (src_len - in < 2) return Step::Truncated;
      const CopyToken copy = ReadCopy(src + in);
      in += 2;
      if (copy.distance > out.at) return Step::CopyBeforeStart;
      const std::size_t n = std::min(copy.length, out.left());
      for (std::size_t k = 0; k < n; ++k, ++out.at) win[out.at] = win[out.at - copy.distance];
      if (out.left() == 0) return Step::Done;
    }
  }
  return Step::Continue;
}

// The one decoding loop: the payload from `source` into `out`.
PdtStatus Decode(Source& source, Output& out) {
  std::size_t in = 0;
  for (;;) {
#ifdef QUILLON_PDT_WIDE
    static const bool wide = HasWide();
    Step step =
        wide ? DecodeGroupsWide(source.bytes(), in, out) : DecodeGroups(source.bytes(), in, out);
#else
    Step step = DecodeGroups(source.bytes(), in, out);
#endif
    if (step == Step::Continue) {
      if (source.more() && source.bytes().size() - in < kWideReadBytes) {
        if (!source.Refill(in)) return PdtStatus::CannotRead;
        continue;
      }
      if (out.left() == 0) {
        step = Step::Done;
      } else {
        step = DecodeGroupChecked(source.bytes(), in, out);
      }
    }
    switch (step) {
      case Step::Continue:
        break;
      case Step::Done:
        out.Finish();
        return PdtStatus::Ok;
      case Step::CopyBeforeStart:
        return PdtStatus::CopyBeforeStart;
      case Step::Truncated:
        return PdtStatus::StreamTruncated;
    }
  }
}

// Width × Height as a pixel count, or why it cannot be one.
PdtStatus PixelCount(std::int32_t width, std::int32_t height, std::size_t& total) {
  if (width < 1 || height < 1) return PdtStatus::BadDimensions;
  total = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (total > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) / 4) {
    return PdtStatus::TooLarge;
  }
  return PdtStatus::Ok;
}

bool ContainsPdt10(const std::array<char, 8>& signature) {
  return std::string_view(signature.data(), signature.size()).find("PDT10") !=
         std::string_view::npos;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Reads up to `size` bytes; returns how many, or -1 on a read error.
long long ReadUpTo(std::FILE* f, std::uint8_t* data, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const std::size_t n = std::fread(data + got, 1, size - got, f);
    got += n;
    if (n == 0) break;
  }
  if (std::ferror(f)) return -1;
  return static_cast<long long>(got);
}

// Makes `pixels` hold `total` pixels without values, reusing its memory when
// it has room and copying nothing over when it has not.
void Reserve(PixelBuffer& pixels, std::size_t total) {
  if (pixels.capacity() < total) pixels.clear();
  pixels.resize(total);
}

// FileSize − 32, or 0 when FileSize leaves no payload.
std::size_t DeclaredPayload(const PdtHeader& header) {
  return header.FileSize > static_cast<std::int32_t>(kHeaderSize)
             ? static_cast<std::size_t>(header.FileSize) - kHeaderSize
             : 0;
}

// Checks the parsed header against a payload of `payload_bytes` bytes, then
// decodes the payload from `source` bottom row first into `pixels`.
PdtStatus LoadFrom(Source& source, std::size_t payload_bytes, const PdtHeader& header,
                   PixelBuffer& pixels) {
  PdtStatus status = CheckHeader(header, payload_bytes);
  if (status == PdtStatus::Ok) {
    const auto width = static_cast<std::size_t>(header.Width);
    const auto height = static_cast<std::size_t>(header.Height);
    Reserve(pixels, width * height);
    Output out(pixels.data(), width, height);
    status = Decode(source, out);
  }
  if (status != PdtStatus::Ok) pixels.clear();
  return status;
}

// LoadFrom with the rows handed to `sink`.
PdtStatus DecodeRowsFrom(Source& source, std::size_t payload_bytes, const PdtHeader& header,
                         RowSink& sink) {
  const PdtStatus status = CheckHeader(header, payload_bytes);
  if (status != PdtStatus::Ok) return status;
  sink.Begin(header);
  Output out(sink, static_cast<std::size_t>(header.Width), static_cast<std::size_t>(header.Height));
  return Decode(source, out);
}

// Opens a PDT file and reads its header, leaving the file at the payload
// (NotRegular, an internal status, when its header is good but it is not a
// regular file);
// `available` gets the payload bytes to decode: what the file really holds
// from offset 32, but never more than FileSize − 32 bytes, so that a short
// file costs no more memory than its size.
PdtStatus OpenPdt(const std::filesystem::path& path, File& file, PdtHeader& header,
                  std::size_t& available) {
  errno = 0;
#if defined(_WIN32)
  file.reset(::_wfopen(path.c_str(), L"rb"));  // Windows names are wide
#else
  file.reset(std::fopen(path.c_str(), "rb"));
#endif
  if (!file) {
    // fopen sets errno on POSIX systems; elsewhere the reason stays general.
    if (errno == ENOENT || errno == ENOTDIR) return PdtStatus::NotFound;
    if (errno == EACCES || errno == EPERM) return PdtStatus::PermissionDenied;
    return PdtStatus::CannotOpen;
  }
  // Reads go straight into the decoder's buffer.
  std::setvbuf(file.get(), nullptr, _IONBF, 0);

  std::array<std::uint8_t, kHeaderSize> head{};
  const long long got = ReadUpTo(file.get(), head.data(), head.size());
  if (got < 0) return PdtStatus::CannotRead;
  const PdtStatus status =
      ParseHeader(std::span(head.data(), static_cast<std::size_t>(got)), header);
  if (status != PdtStatus::Ok) return status;

  std::error_code ec;
  const std::uintmax_t file_bytes = std::filesystem::file_size(path, ec);
  if (ec) return kNotRegular;
  available = static_cast<std::size_t>(std::min<std::uintmax_t>(
      DeclaredPayload(header), file_bytes > kHeaderSize ? file_bytes - kHeaderSize : 0));
  return PdtStatus::Ok;
}

// The payload of a PDT file held in memory: what it holds from offset 32, but
// never more than FileSize − 32 bytes.
std::span<const std::uint8_t> PayloadOf(std::span<const std::uint8_t> file,
                                        const PdtHeader& header) {
  return file.subspan(kHeaderSize, std::min(DeclaredPayload(header), file.size() - kHeaderSize));
}

}  // namespace

const char* Describe(PdtStatus status) {
  switch (status) {
    case PdtStatus::Ok:
      return "ok";
    case PdtStatus::NotFound:
      return "cannot open the file (no such file or folder)";
    case PdtStatus::PermissionDenied:
      return "cannot open the file (permission denied)";
    case PdtStatus::CannotOpen:
      return "cannot open the file";
    case PdtStatus::CannotRead:
      return "cannot read the file";
    case PdtStatus::HeaderTooShort:
      return "header too short (a PDT file starts with 32 header bytes)";
    case PdtStatus::NotPdt10:
      return "not a PDT10 file";
    case PdtStatus::BadFileSize:
      return "file size in the header leaves no picture data";
    case PdtStatus::BadDimensions:
      return "width or height in the header is below 1";
    case PdtStatus::TooLarge:
      return "picture too large";
    case PdtStatus::StreamTruncated:
      return "stream ends before the picture is complete";
    case PdtStatus::CopyBeforeStart:
      return "copy before the first pixel";
  }
  return "unknown error";
}

PdtStatus ParseHeader(std::span<const std::uint8_t> bytes, PdtHeader& header) {
  if (bytes.size() < kHeaderSize) return PdtStatus::HeaderTooShort;
  const std::uint8_t* p = bytes.data();
  for (std::size_t k = 0; k < header.Signature.size(); ++k) {
    header.Signature[k] = static_cast<char>(p[k]);
  }
  header.FileSize = ReadInt32Le(p + 8);
  header.Width = ReadInt32Le(p + 12);
  header.Height = ReadInt32Le(p + 16);
  std::copy_n(p + 20, header.Reserved.size(), header.Reserved.begin());
  return ContainsPdt10(header.Signature) ? PdtStatus::Ok : PdtStatus::NotPdt10;
}

PdtStatus CheckHeader(const PdtHeader& header, std::size_t payload_bytes) {
  if (header.FileSize < static_cast<std::int32_t>(kHeaderSize) + 1) return PdtStatus::BadFileSize;
  if (header.Width < 1 || header.Height < 1) return PdtStatus::BadDimensions;
  const auto pixels =
      static_cast<std::uint64_t>(header.Width) * static_cast<std::uint64_t>(header.Height);
  if (pixels * 4 > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
    return PdtStatus::TooLarge;
  }
  if (pixels > static_cast<std::uint64_t>(payload_bytes) * kMaxPixelsPerByte) {
    return PdtStatus::StreamTruncated;
  }
  return PdtStatus::Ok;
}

PdtStatus DecodeStream(std::span<const std::uint8_t> payload, std::int32_t width,
                       std::int32_t height, PixelBuffer& pixels) {
  std::size_t total = 0;
  const PdtStatus size_status = PixelCount(width, height, total);
  if (size_status != PdtStatus::Ok) {
    pixels.clear();
    return size_status;
  }
  // Not cleared first: every pixel is written before the decoder succeeds.
  Reserve(pixels, total);
  Source source(payload);
  Output out(pixels.data(), total);
  const PdtStatus status = Decode(source, out);
  if (status != PdtStatus::Ok) pixels.clear();
  return status;
}

bool DecodePdt10(const PdtHeader& header, std::vector<std::uint8_t>& payload, PixelBuffer& pixels,
                 PdtStatus* status) {
  const PdtStatus result = DecodeStream(payload, header.Width, header.Height, pixels);
  std::vector<std::uint8_t>().swap(payload);
  if (status != nullptr) *status = result;
  return result == PdtStatus::Ok;
}

void FlipRows(PixelBuffer& pixels, std::int32_t width, std::int32_t height) {
  if (width < 1 || height < 2) return;
  const auto w = static_cast<std::size_t>(width);
  const auto h = static_cast<std::size_t>(height);
  if (pixels.size() < w * h) return;
  for (std::size_t top = 0, bottom = h - 1; top < bottom; ++top, --bottom) {
    std::swap_ranges(pixels.begin() + static_cast<std::ptrdiff_t>(top * w),
                     pixels.begin() + static_cast<std::ptrdiff_t>((top + 1) * w),
                     pixels.begin() + static_cast<std::ptrdiff_t>(bottom * w));
  }
}

PdtStatus LoadPdtFile(const std::filesystem::path& path, PdtHeader& header, PixelBuffer& pixels) {
  File file;
  std::size_t available = 0;
  const PdtStatus status = OpenPdt(path, file, header, available);
  if (status == kNotRegular) {
    pixels.clear();  // the header was accepted, so nothing of the old picture stays
    return PdtStatus::CannotRead;
  }
  if (status != PdtStatus::Ok) return status;
  Source source(file.get(), available);
  return LoadFrom(source, available, header, pixels);
}

PdtStatus LoadPdtMemory(std::span<const std::uint8_t> file, PdtHeader& header,
                        PixelBuffer& pixels) {
  const PdtStatus status = ParseHeader(file, header);
  if (status != PdtStatus::Ok) return status;
  Source source(PayloadOf(file, header));
  return LoadFrom(source, source.bytes().size(), header, pixels);
}

PdtStatus DecodeRowsFile(const std::filesystem::path& path, PdtHeader& header, RowSink& sink) {
  File file;
  std::size_t available = 0;
  const PdtStatus status = OpenPdt(path, file, header, available);
  if (status == kNotRegular) return PdtStatus::CannotRead;
  if (status != PdtStatus::Ok) return status;
  Source source(file.get(), available);
  return DecodeRowsFrom(source, available, header, sink);
}

PdtStatus DecodeRowsMemory(std::span<const std::uint8_t> file, PdtHeader& header, RowSink& sink) {
  const PdtStatus status = ParseHeader(file, header);
  if (status != PdtStatus::Ok) return status;
  Source source(PayloadOf(file, header));
  return DecodeRowsFrom(source, source.bytes().size(), header, sink);
}

bool LoadPdt(const std::filesystem::path& path, PdtHeader& header, PixelBuffer& pixels) {
  return LoadPdtFile(path, header, pixels) == PdtStatus::Ok;
}

}  // namespace mdl_pdt
