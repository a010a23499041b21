#include "bmp/bmp.h"

#include <bit>
#include <cstdio>

namespace bmp {
namespace {

class ByteWriter {
 public:
  explicit ByteWriter(std::uint8_t* out) : out_(out) {}
  void U16(std::uint16_t v) {
    *out_++ = static_cast<std::uint8_t>(v);
    *out_++ = static_cast<std::uint8_t>(v >> 8);
  }
  void U32(std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) *out_++ = static_cast<std::uint8_t>(v >> shift);
  }
  void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
  void U8(std::uint8_t v) { *out_++ = v; }

 private:
  std::uint8_t* out_;
};

// Writes the pixels as their little-endian bytes B, G, R, 0xFF whatever the host.
bool WritePixels(std::FILE* f, std::span<const std::uint32_t> pixels) {
  if constexpr (std::endian::native == std::endian::little) {
    return std::fwrite(pixels.data(), sizeof(std::uint32_t), pixels.size(), f) == pixels.size();
  } else {
    std::uint8_t chunk[4096];
    std::size_t k = 0;
    while (k < pixels.size()) {
      std::size_t n = 0;
      for (; n < sizeof chunk / 4 && k < pixels.size(); ++n, ++k) {
        ByteWriter(chunk + n * 4).U32(pixels[k]);
      }
      if (std::fwrite(chunk, 4, n, f) != n) return false;
    }
    return true;
  }
}

}  // namespace

std::array<std::uint8_t, kBmpHeadersSize> SerializeBmpHeaders(const BITMAPFILEHEADER& file_header,
                                                              const BITMAPINFO& info) {
  std::array<std::uint8_t, kBmpHeadersSize> bytes{};
  ByteWriter w(bytes.data());
  const BITMAPFILEHEADER& fh = file_header;
  w.U16(fh.bfType);
  w.U32(fh.bfSize);
  w.U16(fh.bfReserved1);
  w.U16(fh.bfReserved2);
  w.U32(fh.bfOffBits);
  const BITMAPINFOHEADER& ih = info.bmiHeader;
  w.U32(ih.biSize);
  w.I32(ih.biWidth);
  w.I32(ih.biHeight);
  w.U16(ih.biPlanes);
  w.U16(ih.biBitCount);
  w.U32(ih.biCompression);
  w.U32(ih.biSizeImage);
  w.I32(ih.biXPelsPerMeter);
  w.I32(ih.biYPelsPerMeter);
  w.U32(ih.biClrUsed);
  w.U32(ih.biClrImportant);
  const RGBQUAD& q = info.bmiColors[0];
  w.U8(q.rgbBlue);
  w.U8(q.rgbGreen);
  w.U8(q.rgbRed);
  w.U8(q.rgbReserved);
  return bytes;
}

void FillInfoHeader(BITMAPINFO& info, std::int32_t width, std::int32_t height) {
  BITMAPINFOHEADER& ih = info.bmiHeader;
  ih.biSize = 40;
  ih.biWidth = width;
  ih.biHeight = height;
  ih.biBitCount = 32;
  ih.biPlanes = 1;
  // The loader guarantees Width × Height × 4 fits in a signed 32-bit integer.
  const std::int64_t image =
      static_cast<std::int64_t>(width) * static_cast<std::int64_t>(height) * 4;
  ih.biSizeImage = image > 0 && image <= INT32_MAX ? static_cast<std::uint32_t>(image) : 0;
}

void FillFileHeader(BITMAPFILEHEADER& file_header, const BITMAPINFO& info) {
  file_header.bfType = 0x4D42;
  file_header.bfOffBits = kBmpHeadersSize;
  file_header.bfSize = info.bmiHeader.biSizeImage + file_header.bfOffBits;
}

WriteStatus WriteBmp(const std::filesystem::path& path, BITMAPFILEHEADER& file_header,
                     const BITMAPINFO& info, std::span<const std::uint32_t> pixels,
                     files::Replace replace) {
  FillFileHeader(file_header, info);

  // Never write more or fewer pixel bytes than the headers announce.
  if (static_cast<std::uint64_t>(pixels.size()) * 4 != info.bmiHeader.biSizeImage) {
    return WriteStatus::BadContent;
  }
  const auto headers = SerializeBmpHeaders(file_header, info);
  return files::WriteFile(path, replace, [&](std::FILE* file) {
    return std::fwrite(headers.data(), 1, headers.size(), file) == headers.size() &&
           WritePixels(file, pixels);
  });
}

}  // namespace bmp
