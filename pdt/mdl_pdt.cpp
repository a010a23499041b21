// The public loaders: the header, the checks made before anything is
// allocated, and the file and memory entry points over the one decoder.
#include "pdt/mdl_pdt.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>

#include "pdt/stream.h"

namespace mdl_pdt {

namespace {

using detail::Decode;
using detail::Output;
using detail::Source;

std::int32_t ReadInt32Le(const std::uint8_t* p) {
  const std::uint32_t v = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                          static_cast<std::uint32_t>(p[2]) << 16 |
                          static_cast<std::uint32_t>(p[3]) << 24;
  return static_cast<std::int32_t>(v);
}

// Among the loaders' own results: a file whose header was read and accepted
// but whose size cannot be known (not a regular file).
constexpr auto kNotRegular = static_cast<PdtStatus>(-1);

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
  file.reset(std::fopen(path.c_str(), "rb"));
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
      return "cannot open the file (No such file or directory)";
    case PdtStatus::PermissionDenied:
      return "cannot open the file (Permission denied)";
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
