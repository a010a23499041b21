// The project's own PDT writer: a greedy LZ77 encoder over pixels, used to make
// test pictures, fuzz seeds, benchmark pictures and the sample pictures.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace pdtgen {

struct EncodeOptions {
  // How many earlier positions with the same pixel are tried per pixel.
  int max_chain = 48;
  // Only literals: a stream with no copy tokens at all.
  bool literals_only = false;
};

// Compresses Width × Height pixels given top row first (0x??RRGGBB; the top
// byte is ignored) into the PDT10 token stream.
std::vector<std::uint8_t> EncodeStream(std::span<const std::uint32_t> pixels,
                                       const EncodeOptions& options = {});

// A whole PDT file: header ("PDT10" signature, FileSize, Width, Height, 12 zero
// bytes) followed by the stream.
std::vector<std::uint8_t> EncodePdt(std::span<const std::uint32_t> pixels, std::int32_t width,
                                    std::int32_t height, const EncodeOptions& options = {});

// The 32 header bytes for a payload of `payload_size` bytes.
std::vector<std::uint8_t> MakeHeader(std::int32_t width, std::int32_t height,
                                     std::size_t payload_size);

// Writes `bytes` to `path`; false on failure.
bool WriteFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

}  // namespace pdtgen
