// Shared helpers for the core tests: PDT headers and token streams built by hand, and random
// pictures.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pdt/mdl_pdt.h"
#include "tests/support/scratch_files.h"

namespace coretest {

using Bytes = std::vector<std::uint8_t>;

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

// A pixel as the decoder produces it.
constexpr std::uint32_t Px(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return 0xFF000000u | static_cast<std::uint32_t>(r) << 16 | static_cast<std::uint32_t>(g) << 8 | b;
}

// The 32 header bytes with every field given explicitly. `signature` is
// copied byte for byte (zero bytes included) and padded with zeros to 8.
Bytes HeaderBytes(std::string_view signature, std::int32_t file_size, std::int32_t width,
                  std::int32_t height, const std::array<std::uint8_t, 12>& reserved = {});

// A PDT file: a header with a "PDT10" signature and FileSize = 32 + payload
// size, followed by the payload.
Bytes PdtFile(std::int32_t width, std::int32_t height, std::span<const std::uint8_t> payload);

// Builds a token stream token by token and keeps, beside it, the pixels a
// correct decoder must produce from it.
class StreamBuilder {
 public:
  StreamBuilder& Literal(std::uint32_t pixel);
  // Copies `length` (1..16) pixels from `distance` (1..4096) pixels back.
  StreamBuilder& Copy(std::size_t distance, std::size_t length);
  // Raw bytes appended after the tokens, outside any flag group.
  StreamBuilder& Trailing(std::span<const std::uint8_t> bytes);

  const Bytes& bytes() const { return bytes_; }
  const mdl_pdt::PixelBuffer& pixels() const { return pixels_; }

 private:
  void NextFlag(bool literal);

  Bytes bytes_;
  mdl_pdt::PixelBuffer pixels_;
  std::size_t flag_at_ = 0;
  unsigned mask_ = 0;
};

// Width × Height pixels, top row first, drawn from a palette of `colours`
// colours in runs, with a share of `noise` (0..1) of single random pixels.
// The top byte of every pixel is random: the file format has no place for it.
std::vector<std::uint32_t> RandomPicture(std::int32_t width, std::int32_t height,
                                         std::uint32_t seed, int colours, double noise);

// What a load of the picture `top_first` must give: rows reversed, so the
// bottom row comes first, and every pixel opaque.
mdl_pdt::PixelBuffer BottomFirst(std::span<const std::uint32_t> top_first, std::int32_t width,
                        std::int32_t height);

}  // namespace coretest
