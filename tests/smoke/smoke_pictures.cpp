// Writes the pictures the desktop smoke test opens: three PDT files made of
// four solid quadrants of known colours, one of them named with the Shift-JIS
// bytes of "背景.PDT", and a file the file list must not show.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "devtools/pdt_encoder.h"

namespace {

// A width × height picture, top row first, with the four quadrants coloured
// top-left, top-right, bottom-left, bottom-right.
std::vector<std::uint32_t> Quadrants(int width, int height, const std::uint32_t (&colours)[4]) {
  std::vector<std::uint32_t> pixels;
  pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      pixels.push_back(colours[(y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1)]);
  return pixels;
}

bool Write(const std::filesystem::path& path, int width, int height,
           const std::uint32_t (&colours)[4]) {
  const auto bytes = pdtgen::EncodePdt(Quadrants(width, height, colours), width, height);
  if (pdtgen::WriteFile(path, bytes)) return true;
  std::fprintf(stderr, "smoke_pictures: cannot write %s\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: smoke_pictures FOLDER\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  // The colours must match those the smoke script looks for on the screen.
  const std::uint32_t first[4] = {0xE02020, 0x20C040, 0x2040E0, 0xF0D020};
  const std::uint32_t second[4] = {0xF0D020, 0x2040E0, 0x20C040, 0xE02020};
  const std::uint32_t third[4] = {0x2040E0, 0xE02020, 0xF0D020, 0x20C040};
  if (!Write(dir / "A.PDT", 64, 48, first) || !Write(dir / "b.pdt", 40, 30, second) ||
      !Write(dir / "\x94\x77\x8C\x69.PDT", 50, 36, third))
    return 1;
  std::FILE* other = std::fopen((dir / "readme.txt").c_str(), "w");
  if (other == nullptr) return 1;
  std::fclose(other);
  return 0;
}
