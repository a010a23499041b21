// Writing pictures as PNG files: 8-bit RGB, no alpha, every pixel opaque.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "files/files.h"

namespace png {

// How hard the writer compresses. Small: zlib's default level and a filter
// chosen row by row, for files that are kept. Fast: zlib's fastest level with
// run-length matching and one fixed filter (each byte less its left
// neighbour), for thumbnails made while someone waits: about four times
// faster, files about a quarter larger.
enum class Compression { Small, Fast };

// Writes Width × Height pixels, each 0xFF000000 | R << 16 | G << 8 | B with
// row 0 the bottom row (as a loaded picture holds them), as an 8-bit RGB PNG.
// The file is written through files::WriteFile, as BMP files are: complete
// before it takes the name `path`, replacing a file there only with
// Replace::Allowed.
files::Status WritePng(const std::filesystem::path& path, std::int32_t width, std::int32_t height,
                       std::span<const std::uint32_t> pixels,
                       Compression compression = Compression::Small,
                       files::Replace replace = files::Replace::Allowed);

}  // namespace png
