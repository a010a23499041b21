#include "pdt/mdl_pdt.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>

namespace mdl_pdt {
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

// Input a flag group may need when read without checks: the flag byte, eight
// 3-byte literals, and one byte beyond the last literal for its 4-byte load.
constexpr std::size_t kGroupReadBytes = std::size_t{1} + 8 * 3 + 1;
// Pixels a copy writes at once when it has room; the surplus past its length
// lands on pixels the following tokens overwrite.
constexpr std::size_t kCopyBlock = 16;
// The most payload bytes a load holds at once.
constexpr std::size_t kReadPiece = std::size_t{64} * 1024;

// How far ahead in the current row the decoder asks for cache lines it is
// about to write. Rows go to descending addresses on a load, and at each row
// start the processor's own prefetching falls behind.
constexpr std::size_t kPrefetchAhead = 64;

void PrefetchForWrite(const std::uint32_t* p) {
#if defined(__GNUC__)
  __builtin_prefetch(p, 1);
#else
  static_cast<void>(p);
#endif
}

void CopyPixels(std::uint32_t* out, const std::uint32_t* from, std::size_t count) {
  std::memcpy(out, from, count * sizeof(std::uint32_t));
}

// Writes kCopyBlock pixels at `out` repeating the `distance` pixels before it
// (distance 2 to kCopyBlock − 1), as a pixel-at-a-time forward copy would.
void RepeatBlock(std::uint32_t* out, std::size_t distance) {
  const std::uint32_t* from = out - distance;
  if (distance >= 8) {
    // Each 8-pixel half reads only pixels written before it.
    CopyPixels(out, from, 8);
    CopyPixels(out + 8, from + 8, 8);
  } else if (distance == 4) {
    // Loaded once: reading each quarter back from the one just stored would
    // chain the four steps one after the other.
    std::uint32_t quad[4];
    std::memcpy(quad, from, sizeof quad);
    for (std::size_t k = 0; k < kCopyBlock; k += 4) std::memcpy(out + k, quad, sizeof quad);
  } else if (distance > 4) {
    for (std::size_t k = 0; k < kCopyBlock; k += 4) CopyPixels(out + k, from + k, 4);
  } else if (distance == 2) {
    std::uint64_t pair;
    std::memcpy(&pair, from, sizeof pair);
    for (std::size_t k = 0; k < kCopyBlock; k += 2) std::memcpy(out + k, &pair, sizeof pair);
  } else {
    for (std::size_t k = 0; k < kCopyBlock; ++k) out[k] = from[k];
  }
}

// Where the decoder stands: storage index of the current row's first pixel,
// pixels written in that row, rows complete, and the pixel just before the
// current position whenever the current row has one. That pixel is kept apart
// because a distance-1 copy repeats it, and reading it back from the stores
// just made would stall on them.
struct Cursor {
  std::size_t row_base = 0;
  std::size_t col = 0;
  std::size_t rows_done = 0;
  std::uint32_t last = 0;
};

// The output: `rows` rows of `row_len` pixels. Row r of the stream is stored
// at (rows − 1 − r) × row_len: with one row of the whole picture's length that
// is stream order (top row first), with the picture's own width and height it
// is bottom row first, so a load needs no separate flip. Earlier rows of the
// stream therefore lie after the current one in storage.
struct Rows {
  std::uint32_t* dst;
  std::size_t row_len;
  std::size_t rows;

  Cursor Start() const {
    Cursor c;
    c.row_base = (rows - 1) * row_len;
    return c;
  }
};

// Continue: the input ran short (whole groups only, so it stopped at a flag
// byte).
enum class Step { Continue, Done, CopyBeforeStart };

// Moves to the next row; true when that completes the picture.
bool EndRow(const Rows& out, Cursor& c) {
  c.col = 0;
  if (++c.rows_done == out.rows) return true;
  c.row_base -= out.row_len;
  return false;
}

// A copy token one pixel at a time, following source and destination across
// row ends; cut off where the picture is complete.
Step CopySlow(const Rows& out, Cursor& c, std::size_t distance, std::size_t length) {
  std::size_t from_base = c.row_base;
  std::size_t from_col = 0;
  if (distance <= c.col) {
    from_col = c.col - distance;
  } else {
    // `back` rows up, stored `back` rows after the current one.
    const std::size_t reach = distance - c.col;
    const std::size_t back = reach <= out.row_len ? 1 : (reach - 1) / out.row_len + 1;
    if (back > c.rows_done) return Step::CopyBeforeStart;
    from_base = c.row_base + back * out.row_len;
    from_col = back * out.row_len - reach;
  }
  for (std::size_t k = 0; k < length; ++k) {
    c.last = out.dst[from_base + from_col];
    out.dst[c.row_base + c.col] = c.last;
    if (++from_col == out.row_len) {
      from_col = 0;
      from_base -= out.row_len;
    }
    if (++c.col == out.row_len && EndRow(out, c)) return Step::Done;
  }
  return Step::Continue;
}

// Empties `pixels` and gives back its memory.
void Release(PixelBuffer& pixels) {
  pixels.clear();
  pixels.shrink_to_fit();
}

unsigned CopyValue(const std::uint8_t* p) {
  return static_cast<unsigned>(p[0]) | static_cast<unsigned>(p[1]) << 8;
}

// Whole flag groups from src[in] on while a whole group's bytes are there, so
// the tokens inside need no input checks. Returns with `in` at the next flag
// byte when the input runs short.
Step DecodeGroups(std::span<const std::uint8_t> payload, std::size_t& in, const Rows& out,
                  Cursor& cursor) {
  const std::uint8_t* const src = payload.data();
  const std::size_t src_len = payload.size();
  std::uint32_t* const dst = out.dst;
  const std::size_t row_len = out.row_len;
  const std::size_t total = row_len * out.rows;
  // Worked on in locals, so that they can live in registers.
  Cursor c = cursor;
  std::size_t i = in;

  // A copy token. When a whole block fits in the current row and the source
  // lies in this row or wholly in the previous one, it moves kCopyBlock pixels
  // at once; a source in the previous row is stored after this row, so it
  // never overlaps what the copy writes. Everything else goes pixel by pixel.
  auto copy = [&](unsigned v) {
    const std::size_t distance = (v >> 4) + 1;
    const std::size_t length = (v & 0x0Fu) + 1;
    if (row_len - c.col >= kCopyBlock) {
      std::uint32_t* to = dst + c.row_base + c.col;
      if (row_len - c.col > kPrefetchAhead) PrefetchForWrite(to + kPrefetchAhead);
      if (distance <= c.col) {
        const std::uint32_t* from = to - distance;
        if (distance >= kCopyBlock) {
          CopyPixels(to, from, kCopyBlock);
          c.last = from[length - 1];
        } else if (distance == 1) {
          std::fill_n(to, kCopyBlock, c.last);
        } else {
          RepeatBlock(to, distance);
          const auto back = static_cast<unsigned>(length - 1);
          const auto period = static_cast<unsigned>(distance);
          // Dithering repeats with a period of 2 or 4, where a mask replaces
          // the division. Both below 16: a 32-bit remainder is much quicker
          // than a 64-bit one.
          c.last = from[(period & (period - 1)) == 0 ? back & (period - 1) : back % period];
        }
        c.col += length;
        return Step::Continue;
      }
      const std::size_t reach = distance - c.col;
      if (reach <= row_len && length <= reach && c.rows_done > 0) {
        const std::size_t from = c.row_base + row_len + (row_len - reach);
        if (total - from >= kCopyBlock) {
          CopyPixels(to, dst + from, kCopyBlock);
        } else {
          for (std::size_t k = 0; k < length; ++k) to[k] = dst[from + k];
        }
        c.last = dst[from + length - 1];
        c.col += length;
        return Step::Continue;
      }
    }
    // Through a copy, so that `c` itself never has its address taken and can
    // stay in registers.
    Cursor slow = c;
    const Step step = CopySlow(out, slow, distance, length);
    c = slow;
    return step;
  };

  Step step = Step::Continue;
  while (step == Step::Continue && src_len - i >= kGroupReadBytes) {
    unsigned flags = src[i++];
    if (flags == 0xFFu && row_len - c.col >= 8) {
      // Eight literals inside the current row.
      std::uint32_t* to = dst + c.row_base + c.col;
      EightLiterals(src + i, to);
      c.last = LiteralPixelWide(src + i + 21);
      i += 24;
      c.col += 8;
      if (c.col == row_len && EndRow(out, c)) step = Step::Done;
      continue;
    }
    for (int t = 0; t < 8; ++t, flags <<= 1) {
      if (flags & 0x80u) {
        c.last = LiteralPixelWide(src + i);
        dst[c.row_base + c.col] = c.last;
        i += 3;
        ++c.col;
      } else {
        step = copy(CopyValue(src + i));
        i += 2;
        if (step != Step::Continue) break;
      }
      if (c.col == row_len && EndRow(out, c)) {
        step = Step::Done;
        break;
      }
    }
  }
  cursor = c;
  in = i;
  return step;
}

// The end of the stream, every read checked; few enough tokens that their
// copies go pixel by pixel.
PdtStatus DecodeTail(std::span<const std::uint8_t> payload, std::size_t in, const Rows& out,
                     Cursor& c) {
  const std::uint8_t* const src = payload.data();
  const std::size_t src_len = payload.size();
  for (;;) {
    if (in >= src_len) return PdtStatus::StreamTruncated;
    unsigned flags = src[in++];
    for (int t = 0; t < 8; ++t, flags <<= 1) {
      Step step = Step::Continue;
      if (flags & 0x80u) {
        if (src_len - in < 3) return PdtStatus::StreamTruncated;
        out.dst[c.row_base + c.col] = LiteralPixel(src + in);
        in += 3;
        if (++c.col == out.row_len && EndRow(out, c)) step = Step::Done;
      } else {
        if (src_len - in < 2) return PdtStatus::StreamTruncated;
        const unsigned v = CopyValue(src + in);
        in += 2;
        step = CopySlow(out, c, (v >> 4) + 1, (v & 0x0Fu) + 1);
      }
      if (step == Step::Done) return PdtStatus::Ok;
      if (step == Step::CopyBeforeStart) return PdtStatus::CopyBeforeStart;
    }
  }
}

// The whole stream held in memory.
PdtStatus DecodeRows(std::span<const std::uint8_t> payload, const Rows& out) {
  Cursor c = out.Start();
  std::size_t in = 0;
  const Step step = DecodeGroups(payload, in, out, c);
  if (step == Step::Done) return PdtStatus::Ok;
  if (step == Step::CopyBeforeStart) return PdtStatus::CopyBeforeStart;
  return DecodeTail(payload, in, out, c);
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

}  // namespace

const char* Describe(PdtStatus status) {
  switch (status) {
    case PdtStatus::Ok:
      return "ok";
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
  pixels.resize(total);
  const PdtStatus status = DecodeRows(payload, Rows{pixels.data(), total, 1});
  if (status != PdtStatus::Ok) Release(pixels);
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
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) return PdtStatus::CannotOpen;
  // Reads go straight into the caller's buffers.
  std::setvbuf(file.get(), nullptr, _IONBF, 0);

  std::array<std::uint8_t, kHeaderSize> head{};
  const long long got = ReadUpTo(file.get(), head.data(), head.size());
  if (got < 0) return PdtStatus::CannotRead;
  PdtStatus status = ParseHeader(std::span(head.data(), static_cast<std::size_t>(got)), header);
  if (status != PdtStatus::Ok) return status;
  if (header.FileSize < static_cast<std::int32_t>(kHeaderSize) + 1) return PdtStatus::BadFileSize;

  // The payload is what the file really holds from offset 32, but never more
  // than FileSize − 32 bytes: a short file costs no more memory than its size.
  std::error_code ec;
  const std::uintmax_t file_bytes = std::filesystem::file_size(path, ec);
  if (ec) return PdtStatus::CannotRead;  // not a regular file
  const std::size_t declared = static_cast<std::size_t>(header.FileSize) - kHeaderSize;
  const std::size_t available = static_cast<std::size_t>(
      std::min<std::uintmax_t>(declared, file_bytes > kHeaderSize ? file_bytes - kHeaderSize : 0));
  status = CheckHeader(header, available);
  if (status != PdtStatus::Ok) return status;

  // The payload is read and decoded a piece at a time, so that it never has to
  // be held whole. A piece is decoded up to where a flag group might not fit;
  // those bytes move to the front and the next read follows them.
  std::vector<std::uint8_t> buffer(std::min(available, kReadPiece));
  std::size_t filled = 0;
  std::size_t remaining = available;
  auto fill = [&] {
    const std::size_t want = std::min(remaining, buffer.size() - filled);
    const long long read = ReadUpTo(file.get(), buffer.data() + filled, want);
    if (read < 0) return false;
    const auto n = static_cast<std::size_t>(read);
    filled += n;
    remaining = n < want ? 0 : remaining - n;  // a file that shrank ends early
    return true;
  };
  if (!fill()) return PdtStatus::CannotRead;

  // Decoded straight into bottom-first order, which is what flipping the
  // stream-order result would give. Not cleared first: every pixel is written
  // before the decoder succeeds.
  std::size_t total = 0;
  status = PixelCount(header.Width, header.Height, total);
  if (status != PdtStatus::Ok) return status;
  pixels.resize(total);
  const Rows out{pixels.data(), static_cast<std::size_t>(header.Width),
                 static_cast<std::size_t>(header.Height)};
  Cursor c = out.Start();
  for (;;) {
    const std::span<const std::uint8_t> piece(buffer.data(), filled);
    std::size_t in = 0;
    const Step step = DecodeGroups(piece, in, out, c);
    if (step != Step::Continue) {
      status = step == Step::Done ? PdtStatus::Ok : PdtStatus::CopyBeforeStart;
      break;
    }
    if (remaining == 0) {
      status = DecodeTail(piece, in, out, c);
      break;
    }
    std::memmove(buffer.data(), buffer.data() + in, filled - in);
    filled -= in;
    if (!fill()) {
      status = PdtStatus::CannotRead;
      break;
    }
  }
  if (status != PdtStatus::Ok) Release(pixels);
  return status;
}

PdtStatus LoadPdtMemory(std::span<const std::uint8_t> file, PdtHeader& header, PixelBuffer& pixels) {
  PdtStatus status = ParseHeader(file, header);
  if (status != PdtStatus::Ok) return status;
  if (header.FileSize < static_cast<std::int32_t>(kHeaderSize) + 1) return PdtStatus::BadFileSize;
  const std::size_t declared = static_cast<std::size_t>(header.FileSize) - kHeaderSize;
  const std::span<const std::uint8_t> payload =
      file.subspan(kHeaderSize, std::min(declared, file.size() - kHeaderSize));
  status = CheckHeader(header, payload.size());
  if (status != PdtStatus::Ok) return status;
  std::size_t total = 0;
  status = PixelCount(header.Width, header.Height, total);
  if (status != PdtStatus::Ok) return status;
  pixels.resize(total);
  status = DecodeRows(payload, Rows{pixels.data(), static_cast<std::size_t>(header.Width),
                                    static_cast<std::size_t>(header.Height)});
  if (status != PdtStatus::Ok) Release(pixels);
  return status;
}

bool LoadPdt(const std::filesystem::path& path, PdtHeader& header, PixelBuffer& pixels) {
  return LoadPdtFile(path, header, pixels) == PdtStatus::Ok;
}

}  // namespace mdl_pdt
