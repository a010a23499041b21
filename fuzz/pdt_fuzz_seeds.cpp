// Writes the fuzzer's starting corpus into a folder: small valid pictures made
// by the project's encoder, broken variants of them, and the first rows of the
// shared game-art pictures when they are there.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "devtools/pdt_encoder.h"
#include "devtools/sample_art.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Flat areas, a gradient and a little noise, top row first.
std::vector<std::uint32_t> Picture(std::int32_t w, std::int32_t h, std::uint32_t seed) {
  std::mt19937 rng(seed);
  const std::uint32_t palette[] = {0x203040, 0xF0E0D0, 0x10A010,
                                   static_cast<std::uint32_t>(rng() & 0xFFFFFF)};
  std::vector<std::uint32_t> pixels;
  for (std::int32_t y = 0; y < h; ++y) {
    for (std::int32_t x = 0; x < w; ++x) {
      std::uint32_t p = palette[static_cast<std::size_t>((x / 5 + y / 3) % 4)];
      if (x > w / 2) p = static_cast<std::uint32_t>(x * 255 / w) << 16 | 0x40;
      if (rng() % 16 == 0) p = static_cast<std::uint32_t>(rng() & 0xFFFFFF);
      pixels.push_back(p);
    }
  }
  return pixels;
}

void PutLe32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (std::size_t k = 0; k < 4; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
}

// How many pixels the whole tokens among the first `size` payload bytes make.
std::size_t PixelsIn(const Bytes& file, std::size_t size) {
  std::size_t i = 32;
  std::size_t pixels = 0;
  const std::size_t end = 32 + size;
  while (i < end) {
    const unsigned flags = file[i++];
    for (unsigned mask = 0x80; mask != 0; mask >>= 1) {
      const std::size_t need = (flags & mask) != 0 ? 3 : 2;
      if (end - i < need) return pixels;
      pixels += (flags & mask) != 0 ? 1 : (file[i] & 0x0Fu) + 1;
      i += need;
    }
  }
  return pixels;
}

// The first `size` payload bytes of a real picture, as a picture of `width`
// pixels a row and as many whole rows as they make: header patched to match.
Bytes FirstRows(const Bytes& file, std::size_t size, std::uint32_t width) {
  Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(32 + size));
  const std::size_t rows = PixelsIn(file, size) / width;
  PutLe32(cut, 8, static_cast<std::uint32_t>(cut.size()));
  PutLe32(cut, 12, width);
  PutLe32(cut, 16, static_cast<std::uint32_t>(rows > 0 ? rows : 1));
  return cut;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  int written = 0;
  bool ok = true;
  auto put = [&](const std::string& name, const Bytes& bytes) {
    ok = pdtgen::WriteFile(dir / name, bytes) && ok;
    ++written;
  };

  // Valid pictures of several shapes, narrow ones included.
  const std::pair<std::int32_t, std::int32_t> sizes[] = {
      {1, 1}, {2, 2}, {4, 1}, {1, 40}, {3, 17}, {15, 6}, {16, 4}, {17, 9}, {40, 30}, {64, 48}};
  std::uint32_t seed = 1;
  for (const auto& [w, h] : sizes) {
    const Bytes file = pdtgen::EncodePdt(Picture(w, h, seed++), w, h);
    const std::string base = std::to_string(w) + "x" + std::to_string(h);
    put("ok-" + base + ".pdt", file);

    // The same picture, broken in several ways.
    Bytes cut = file;
    cut.resize(32 + (file.size() - 32) / 2);
    put("cut-" + base + ".pdt", cut);
    Bytes short_size = file;
    PutLe32(short_size, 8, static_cast<std::uint32_t>(file.size() - 3));
    put("filesize-short-" + base + ".pdt", short_size);
    Bytes taller = file;
    PutLe32(taller, 16, static_cast<std::uint32_t>(h + 1));
    put("taller-" + base + ".pdt", taller);
  }

  // Only literals, and one spread over a long narrow column.
  pdtgen::EncodeOptions literals;
  literals.literals_only = true;
  put("ok-literals-8x8.pdt", pdtgen::EncodePdt(Picture(8, 8, 99), 8, 8, literals));
  // Drawn scenes: outlines, gradients and flat areas give long copies.
  for (const auto& [w, h] : {std::pair{24, 18}, {80, 60}}) {
    const pdtgen::Picture art = pdtgen::DrawGameArt(w, h, static_cast<std::uint32_t>(w));
    put("ok-art-" + std::to_string(w) + "x" + std::to_string(h) + ".pdt",
        pdtgen::EncodePdt(art.pixels, w, h));
  }

  // Payloads a little over 64 KiB, longer than the loader reads at once.
  put("ok-literals-150x140.pdt", pdtgen::EncodePdt(Picture(150, 140, 7), 150, 140, literals));
  put("ok-column-1x200.pdt", pdtgen::EncodePdt(std::vector<std::uint32_t>(200, 0x123456), 1, 200));

  // Real game art: the first rows of one picture of each kind, at its own
  // width and re-read as narrow rows, where one copy can end several rows.
  const std::filesystem::path shared = QUILLON_BENCH_PICTURES;
  for (const char* name : {"bench_00_flat_1280x720", "bench_02_shaded_1280x720",
                           "bench_04_painted_1280x720", "bench_06_dialogue_1280x720"}) {
    std::ifstream in(shared / (std::string(name) + ".pdt"), std::ios::binary);
    const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 32 + 24000) continue;
    put(std::string(name) + "-rows.pdt", FirstRows(file, 24000, 1280));
    put(std::string(name) + "-narrow.pdt", FirstRows(file, 6000, 13));
  }

  // A literal and a repeat of it, and broken relatives of that file.
  const Bytes example = {0x80, 0x10, 0x20, 0x30, 0x02, 0x00};
  Bytes ex = pdtgen::MakeHeader(4, 1, example.size());
  ex.insert(ex.end(), example.begin(), example.end());
  put("literal-repeat.pdt", ex);
  Bytes spaced = ex;
  const char sig[8] = {' ', 'P', 'D', 'T', '1', '0', 0, 0};
  std::copy(sig, sig + 8, spaced.begin());
  put("spaced-signature.pdt", spaced);
  Bytes lower = ex;
  lower[0] = 'p';
  put("lower-signature.pdt", lower);
  Bytes copy_first = ex;
  copy_first[32] = 0x00;
  put("copy-first.pdt", copy_first);
  Bytes huge = pdtgen::MakeHeader(23170, 23170, 992);
  huge.resize(1024, 0xFF);
  put("huge-claim.pdt", huge);
  // FileSize promises a payload that could fill 4096 × 4096 pixels (64 MiB),
  // but the file ends after 1 KiB.
  Bytes lying = pdtgen::MakeHeader(4096, 4096, 4096 * 4096 / 8);
  lying.resize(1024, 0xFF);
  put("lying-filesize.pdt", lying);
  Bytes too_large = pdtgen::MakeHeader(65536, 65536, 4);
  too_large.insert(too_large.end(), {0x80, 1, 2, 3});
  put("too-large.pdt", too_large);
  put("header-only.pdt", pdtgen::MakeHeader(4, 1, 6));
  put("short-header.pdt", Bytes(ex.begin(), ex.begin() + 20));

  if (!ok) {
    std::fprintf(stderr, "%s: cannot write into %s\n", argv[0], dir.c_str());
    return 1;
  }
  std::printf("%d seed files in %s\n", written, dir.c_str());
  return 0;
}
