// Checks pixels of an X window dump (the format xwd writes) against expected
// colours.
//
//   xwd_check FILE ORIGIN_X ORIGIN_Y X:Y:RRGGBB...
//
// Each X:Y is relative to the origin (the window's client area on the screen).
// Exits 0 when every pixel is within a small tolerance of its colour, 1 when
// one is not (each difference is printed), 2 when the file cannot be read.
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
