#include "bmp/bmp.h"

#include <bit>
#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <system_error>

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
bool WritePixels(std::FILE* f, const mdl_pdt::PixelBuffer& pixels) {
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

// Creates a new file beside `target` under a name no other file has, opened
// for writing. Returns its path, or an empty path when none could be created.
std::filesystem::path CreateTempBeside(const std::filesystem::path& target, std::FILE*& file) {
  std::random_device entropy;
  std::mt19937_64 rng((static_cast<std::uint64_t>(entropy()) << 32) ^ entropy());
  const std::filesystem::path dir = target.parent_path();
  // A short name of its own: the target's name may already be as long as the
  // folder allows, so nothing can be added to it.
  const std::string stem = ".quillon-";
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::filesystem::path candidate =
        dir / (stem + std::to_string(rng() % 1000000000000ULL) + ".tmp");
    file = std::fopen(candidate.c_str(), "wbx");  // fails if the name exists
    if (file != nullptr) return candidate;
    if (errno != EEXIST) break;
  }
  file = nullptr;
  return {};
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

void FillInfoHeader(LoadedPicture& picture) {
  BITMAPINFOHEADER& ih = picture.Info.bmiHeader;
  ih.biSize = 40;
  ih.biWidth = picture.Header.Width;
  ih.biHeight = picture.Header.Height;
  ih.biBitCount = 32;
  ih.biPlanes = 1;
  // The loader guarantees Width × Height × 4 fits in a signed 32-bit integer.
  const std::int64_t image = static_cast<std::int64_t>(picture.Header.Width) *
                             static_cast<std::int64_t>(picture.Header.Height) * 4;
  ih.biSizeImage = image > 0 && image <= INT32_MAX ? static_cast<std::uint32_t>(image) : 0;
}

bool WriteBmp(const std::filesystem::path& path, LoadedPicture& picture) {
  BITMAPFILEHEADER& fh = picture.FileHeader;
  fh.bfType = 0x4D42;
  fh.bfOffBits = kBmpHeadersSize;
  fh.bfSize = picture.Info.bmiHeader.biSizeImage + fh.bfOffBits;

  // Never write more or fewer pixel bytes than the headers announce.
  if (static_cast<std::uint64_t>(picture.Pixels.size()) * 4 != picture.Info.bmiHeader.biSizeImage) {
    return false;
  }
  if (path.empty() || !path.has_filename()) return false;

  std::FILE* file = nullptr;
  const std::filesystem::path temp = CreateTempBeside(path, file);
  if (file == nullptr) return false;

  const auto headers = SerializeBmpHeaders(fh, picture.Info);
  bool ok = std::fwrite(headers.data(), 1, headers.size(), file) == headers.size() &&
            WritePixels(file, picture.Pixels);
  ok = std::fflush(file) == 0 && ok;
  ok = std::fclose(file) == 0 && ok;
  // rename replaces an existing file in one step; a directory of that name makes it fail.
  if (ok) ok = std::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) std::remove(temp.c_str());
  return ok;
}
