#include "pdt/mdl_pdt.h"

#include <algorithm>
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

// Longest a flag group can be: one flag byte and eight 3-byte literals.
constexpr std::size_t kMaxGroupBytes = std::size_t{1} + 8 * 3;
// Most pixels a flag group can produce: eight 16-pixel copies.
constexpr std::size_t kMaxGroupPixels = 8 * 16;

struct DecodeState {
  std::size_t in = 0;   // next payload byte
  std::size_t out = 0;  // next pixel
};

// Whole flag groups while a full group's input and output are certainly
// available, so the tokens inside need no bounds checks. A copy with a distance
// of 16 or more cannot overlap what it writes and moves 16 pixels at once; the
// pixels written past its length are overwritten by the tokens that follow.
PdtStatus DecodeGroups(const std::uint8_t* src, std::size_t src_len, std::uint32_t* dst,
                       std::size_t dst_len, DecodeState& st) {
  std::size_t i = st.in;
  std::size_t j = st.out;
  while (src_len - i >= kMaxGroupBytes && dst_len - j >= kMaxGroupPixels) {
    unsigned flags = src[i++];
    for (int bit = 0; bit < 8; ++bit, flags <<= 1) {
      if (flags & 0x80u) {
        dst[j++] = LiteralPixel(src + i);
        i += 3;
        continue;
      }
      const unsigned v = static_cast<unsigned>(src[i]) | static_cast<unsigned>(src[i + 1]) << 8;
      i += 2;
      const std::size_t distance = (v >> 4) + 1;
      const std::size_t length = (v & 0x0Fu) + 1;
      if (distance > j) {
        st = {i, j};
        return PdtStatus::CopyBeforeStart;
      }
      std::uint32_t* out = dst + j;
      const std::uint32_t* from = out - distance;
      if (distance >= 16) {
        std::memcpy(out, from, 16 * sizeof(std::uint32_t));
      } else if (distance == 1) {
        std::fill_n(out, 16, *from);
      } else {
        for (std::size_t k = 0; k < length; ++k) out[k] = from[k];
      }
      j += length;
    }
  }
  st = {i, j};
  return PdtStatus::Ok;
}

// The same tokens with every read and write checked; used for the last groups
// near the end of either buffer. Stops as soon as the picture is complete: a
// copy running past the last pixel is cut there.
PdtStatus DecodeTail(const std::uint8_t* src, std::size_t src_len, std::uint32_t* dst,
                     std::size_t dst_len, DecodeState& st) {
  std::size_t i = st.in;
  std::size_t j = st.out;
  unsigned flags = 0;
  unsigned mask = 0;
  while (j < dst_len) {
    mask >>= 1;
    if (mask == 0) {
      if (i >= src_len) return PdtStatus::StreamTruncated;
      flags = src[i++];
      mask = 0x80;
    }
    if (flags & mask) {
      if (src_len - i < 3) return PdtStatus::StreamTruncated;
      dst[j++] = LiteralPixel(src + i);
      i += 3;
      continue;
    }
    if (src_len - i < 2) return PdtStatus::StreamTruncated;
    const unsigned v = static_cast<unsigned>(src[i]) | static_cast<unsigned>(src[i + 1]) << 8;
    i += 2;
    const std::size_t distance = (v >> 4) + 1;
    if (distance > j) return PdtStatus::CopyBeforeStart;
    const std::size_t length = std::min<std::size_t>((v & 0x0Fu) + 1, dst_len - j);
    for (std::size_t k = 0; k < length; ++k, ++j) dst[j] = dst[j - distance];
  }
  st = {i, j};
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
  pixels.clear();
  if (width < 1 || height < 1) return PdtStatus::BadDimensions;
  const std::size_t total = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (total > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) / 4) {
    return PdtStatus::TooLarge;
  }
  pixels.resize(total);
  DecodeState st;
  PdtStatus status = DecodeGroups(payload.data(), payload.size(), pixels.data(), total, st);
  if (status == PdtStatus::Ok) {
    status = DecodeTail(payload.data(), payload.size(), pixels.data(), total, st);
  }
  if (status != PdtStatus::Ok) {
    pixels.clear();
    pixels.shrink_to_fit();
  }
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

  std::vector<std::uint8_t> payload(available);
  const long long read = ReadUpTo(file.get(), payload.data(), payload.size());
  if (read < 0) return PdtStatus::CannotRead;
  payload.resize(static_cast<std::size_t>(read));
  file.reset();

  if (!DecodePdt10(header, payload, pixels, &status)) return status;
  FlipRows(pixels, header.Width, header.Height);
  return PdtStatus::Ok;
}

bool LoadPdt(const std::filesystem::path& path, PdtHeader& header, PixelBuffer& pixels) {
  return LoadPdtFile(path, header, pixels) == PdtStatus::Ok;
}

}  // namespace mdl_pdt
