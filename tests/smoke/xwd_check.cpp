// Checks pixels of an X window dump (the format xwd writes) against expected
// colours.
//
//   xwd_check FILE ORIGIN_X ORIGIN_Y X:Y:RRGGBB...
//
// Each X:Y is relative to the origin (the window's client area on the screen).
// Exits 0 when every pixel is within a small tolerance of its colour, 1 when
// one is not (each difference is printed), 2 when the file cannot be read.
//
//   xwd_check FILE --corner BMP W H X0 Y0 X1 Y1
//
// Looks for the bottom-right W × H pixels of a 32-bit BMP file on the screen,
// exactly, with their last pixel somewhere in X0…X1 × Y0…Y1; prints where that
// last pixel is ("X Y") and exits 0, or exits 1 when they are not there.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Image {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t bits_per_pixel = 0;
  std::uint32_t bytes_per_line = 0;
  bool msb_first = false;
  std::uint32_t masks[3] = {};  // red, green, blue
  std::vector<std::uint8_t> bytes;
  std::size_t data_offset = 0;
};

std::uint32_t BigEndian32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) << 24 | static_cast<std::uint32_t>(b[at + 1]) << 16 |
         static_cast<std::uint32_t>(b[at + 2]) << 8 | static_cast<std::uint32_t>(b[at + 3]);
}

std::optional<Image> ReadXwd(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  Image img;
  img.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  constexpr std::size_t kHeaderFields = 25;
  if (img.bytes.size() < kHeaderFields * 4) return std::nullopt;
  std::uint32_t h[kHeaderFields];
  for (std::size_t i = 0; i < kHeaderFields; ++i) h[i] = BigEndian32(img.bytes, i * 4);
  const std::uint32_t header_size = h[0];
  const std::uint32_t version = h[1];
  const std::uint32_t format = h[2];
  img.width = h[4];
  img.height = h[5];
  img.msb_first = h[7] != 0;
  img.bits_per_pixel = h[11];
  img.bytes_per_line = h[12];
  img.masks[0] = h[14];
  img.masks[1] = h[15];
  img.masks[2] = h[16];
  const std::uint32_t colours = h[19];
  // Only true-colour ZPixmap dumps of 24 or 32 bits per pixel are expected.
  if (version != 7 || format != 2 || (img.bits_per_pixel != 24 && img.bits_per_pixel != 32))
    return std::nullopt;
  const std::uint64_t offset = std::uint64_t{header_size} + std::uint64_t{colours} * 12;
  const std::uint64_t needed =
      offset + std::uint64_t{img.bytes_per_line} * std::uint64_t{img.height};
  if (header_size < kHeaderFields * 4 || needed > img.bytes.size() ||
      std::uint64_t{img.bytes_per_line} * 8 < std::uint64_t{img.width} * img.bits_per_pixel)
    return std::nullopt;
  img.data_offset = static_cast<std::size_t>(offset);
  return img;
}

// The pixel's colour as 0xRRGGBB; the caller keeps x and y inside the image.
std::uint32_t PixelAt(const Image& img, std::uint32_t x, std::uint32_t y) {
  const std::size_t bytes_per_pixel = img.bits_per_pixel / 8;
  const std::size_t at =
      img.data_offset + std::size_t{y} * img.bytes_per_line + x * bytes_per_pixel;
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < bytes_per_pixel; ++i) {
    const std::uint32_t byte = img.bytes[at + i];
    value |= img.msb_first ? byte << (8 * (bytes_per_pixel - 1 - i)) : byte << (8 * i);
  }
  std::uint32_t rgb = 0;
  for (const std::uint32_t mask : img.masks) {
    if (mask == 0) return 0;
    int shift = 0;
    while (((mask >> shift) & 1u) == 0) ++shift;
    const std::uint32_t max = mask >> shift;
    const std::uint32_t channel = (((value & mask) >> shift) * 255u + max / 2) / max;
    rgb = rgb << 8 | (channel & 0xFFu);
  }
  return rgb;
}

// A 32-bit uncompressed BMP file's pixels, top row first, as 0xRRGGBB.
struct Bitmap {
  long width = 0;
  long height = 0;
  std::vector<std::uint32_t> pixels;
};

std::uint32_t LittleEndian(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[at + static_cast<std::size_t>(i)];
  return v;
}

std::optional<Bitmap> ReadBmp(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  const std::vector<std::uint8_t> b{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M' || LittleEndian(b, 28, 2) != 32)
    return std::nullopt;
  Bitmap bmp;
  const std::size_t offset = LittleEndian(b, 10, 4);
  bmp.width = static_cast<std::int32_t>(LittleEndian(b, 18, 4));
  const auto height = static_cast<std::int32_t>(LittleEndian(b, 22, 4));
  bmp.height = height < 0 ? -static_cast<long>(height) : height;
  if (bmp.width < 1 || bmp.height < 1 || bmp.width > 65536 || bmp.height > 65536 ||
      offset + static_cast<std::size_t>(bmp.width * bmp.height) * 4 > b.size())
    return std::nullopt;
  for (long y = 0; y < bmp.height; ++y) {
    const long row = height > 0 ? bmp.height - 1 - y : y;  // bottom-up unless negative
    for (long x = 0; x < bmp.width; ++x)
      bmp.pixels.push_back(
          LittleEndian(b, offset + static_cast<std::size_t>(row * bmp.width + x) * 4, 3));
  }
  return bmp;
}

// The bottom-right w × h block of `bmp` lies on the screen with its last
// pixel at (ex, ey), exactly.
bool BlockAt(const Image& img, const Bitmap& bmp, long w, long h, long ex, long ey) {
  for (long dy = 0; dy < h; ++dy) {
    for (long dx = 0; dx < w; ++dx) {
      const long bx = bmp.width - w + dx;
      const long by = bmp.height - h + dy;
      const auto got = PixelAt(img, static_cast<std::uint32_t>(ex - w + 1 + dx),
                               static_cast<std::uint32_t>(ey - h + 1 + dy));
      if (got != bmp.pixels[static_cast<std::size_t>(by * bmp.width + bx)]) return false;
    }
  }
  return true;
}

int FindCorner(const Image& img, char** argv) {
  const std::optional<Bitmap> bmp = ReadBmp(argv[0]);
  if (!bmp) {
    std::fprintf(stderr, "xwd_check: %s is no 32-bit BMP file\n", argv[0]);
    return 2;
  }
  long v[6];
  for (int i = 0; i < 6; ++i) v[i] = std::strtol(argv[1 + i], nullptr, 10);
  const long w = v[0], h = v[1];
  if (w < 1 || h < 1 || w > bmp->width || h > bmp->height) return 2;
  for (long ey = std::max(v[3], h - 1); ey <= v[5] && ey < static_cast<long>(img.height); ++ey) {
    for (long ex = std::max(v[2], w - 1); ex <= v[4] && ex < static_cast<long>(img.width); ++ex) {
      if (BlockAt(img, *bmp, w, h, ex, ey)) {
        std::printf("%ld %ld\n", ex, ey);
        return 0;
      }
    }
  }
  std::printf("the picture's bottom-right %ld x %ld pixels are not on the screen\n", w, h);
  return 1;
}

int Channel(std::uint32_t rgb, int shift) {
  return static_cast<int>((rgb >> shift) & 0xFFu);
}

bool Close(std::uint32_t a, std::uint32_t b) {
  constexpr int kTolerance = 8;
  for (const int shift : {16, 8, 0})
    if (std::abs(Channel(a, shift) - Channel(b, shift)) > kTolerance) return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: xwd_check FILE ORIGIN_X ORIGIN_Y X:Y:RRGGBB...\n");
    return 2;
  }
  const std::optional<Image> img = ReadXwd(argv[1]);
  if (!img) {
    std::fprintf(stderr, "xwd_check: %s is no 24/32-bit true-colour window dump\n", argv[1]);
    return 2;
  }
  if (std::string(argv[2]) == "--corner") {
    if (argc != 10) {
      std::fprintf(stderr, "usage: xwd_check FILE --corner BMP W H X0 Y0 X1 Y1\n");
      return 2;
    }
    return FindCorner(*img, argv + 3);
  }
  const long origin_x = std::strtol(argv[2], nullptr, 10);
  const long origin_y = std::strtol(argv[3], nullptr, 10);
  int mismatches = 0;
  for (int i = 4; i < argc; ++i) {
    long x = 0;
    long y = 0;
    unsigned long want = 0;
    if (std::sscanf(argv[i], "%ld:%ld:%lx", &x, &y, &want) != 3) {
      std::fprintf(stderr, "xwd_check: bad point %s\n", argv[i]);
      return 2;
    }
    const long sx = origin_x + x;
    const long sy = origin_y + y;
    if (sx < 0 || sy < 0 || sx >= static_cast<long>(img->width) ||
        sy >= static_cast<long>(img->height)) {
      std::printf("(%ld,%ld): outside the screen\n", x, y);
      ++mismatches;
      continue;
    }
    const std::uint32_t got =
        PixelAt(*img, static_cast<std::uint32_t>(sx), static_cast<std::uint32_t>(sy));
    if (!Close(got, static_cast<std::uint32_t>(want))) {
      std::printf("(%ld,%ld): %06X, expected %06lX\n", x, y, static_cast<unsigned>(got), want);
      ++mismatches;
    }
  }
  return mismatches == 0 ? 0 : 1;
}
