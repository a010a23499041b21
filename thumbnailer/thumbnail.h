// Thumbnails of PDT pictures for file managers: a PNG no larger than a square
// of a given side, aspect ratio kept, smoothly downscaled, never enlarged.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace thumbnailer {

// Writes the thumbnail of the PDT file `input` to `output`; returns the reason
// on failure (empty on success). On failure no file is left at `output`, and
// one that was there stays as it was.
std::string WriteThumbnail(const std::filesystem::path& input, const std::filesystem::path& output,
                           std::int32_t max_side);

}  // namespace thumbnailer
