// Pictures drawn in code that look like game art (flat colours, gradients,
// outlines, some noise), for the sample folder, tests and benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pdtgen {

struct Picture {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint32_t> pixels;  // top row first, 0xFFRRGGBB
};

// A scene of the given size; the seed varies its content. Deterministic.
Picture DrawGameArt(std::int32_t width, std::int32_t height, std::uint32_t seed);

// Random pixels: a stream made almost only of literals.
Picture DrawNoise(std::int32_t width, std::int32_t height, std::uint32_t seed);

struct SamplePicture {
  std::string file_name;  // e.g. "EV001.PDT"
  Picture picture;
};

// The sample pictures the run command shows: several sizes, one narrow, one tall.
std::vector<SamplePicture> SamplePictures();

}  // namespace pdtgen
