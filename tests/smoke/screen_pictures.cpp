// Writes the pictures the screen tests open: larger than the screen one way
// or both, and one of even size for a 2× screen. Every pixel's colour follows
// from its position, so any part of the picture can be checked on screen.
//
//   screen_pictures DIR                      the pictures of the screen tests
//   screen_pictures FILE WIDTH HEIGHT        one picture of that size
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "devtools/pdt_encoder.h"

namespace {

// Bands of 8 × 8 pixels with a fine pattern inside: neighbours differ, so a
// picture shifted or scaled by a pixel does not match, yet rows repeat often
// enough for the encoder to compress large pictures quickly.
std::uint32_t Colour(int x, int y) {
  const auto r = static_cast<std::uint32_t>((x / 8 * 37 + y / 8 * 11) & 0xFF);
  const auto g = static_cast<std::uint32_t>(((x & 7) * 32 + (y & 7) * 4) & 0xFF);
  const auto b = static_cast<std::uint32_t>((x / 64 * 53 + y / 64 * 29) & 0xFF);
  return r << 16 | g << 8 | b;
}

bool Write(const std::filesystem::path& path, int width, int height) {
  std::vector<std::uint32_t> pixels;
  pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) pixels.push_back(Colour(x, y));
  pdtgen::EncodeOptions options;
  options.max_chain = 4;
  if (pdtgen::WriteFile(path, pdtgen::EncodePdt(pixels, width, height, options))) return true;
  std::fprintf(stderr, "screen_pictures: cannot write %s\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4) {
    const int width = std::atoi(argv[2]);
    const int height = std::atoi(argv[3]);
    if (width < 1 || height < 1) {
      std::fprintf(stderr, "screen_pictures: bad size %s x %s\n", argv[2], argv[3]);
      return 2;
    }
    return Write(argv[1], width, height) ? 0 : 1;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: screen_pictures DIR | screen_pictures FILE WIDTH HEIGHT\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  // Wider than a 1600 × 1200 screen, taller than a 768-pixel one, and even
  // sized (300 × 200) for a 2× screen.
  return Write(dir / "wide.pdt", 1920, 1080) && Write(dir / "tall.pdt", 200, 900) &&
                 Write(dir / "even.pdt", 300, 200)
             ? 0
             : 1;
}
