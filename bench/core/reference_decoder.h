// A plain pixel-at-a-time decoder of the PDT10 stream: one token per pass,
// flag byte and mask, one pixel per copy step, and a row counter that ends the
// loop. It is the yardstick the benchmarks measure the real decoder against.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quillon_bench {

// Decodes `payload` into width × height pixels, top row first. False when the
// stream runs out, copies from before pixel 0 or writes past the last pixel.
bool ReferenceDecode(std::span<const std::uint8_t> payload, std::int32_t width, std::int32_t height,
                     std::vector<std::uint32_t>& pixels);

}  // namespace quillon_bench
