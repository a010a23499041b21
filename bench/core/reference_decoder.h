// A plain pixel-at-a-time decoder of the PDT10 stream: one token per pass,
// flag byte and mask, one pixel per copy step, and a row counter that ends the
// loop. It is the yardstick the benchmarks measure the real decoder against,
// and the tests' model of what the real decoder must produce.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quillon_bench {

// Decodes `payload` into width × height pixels, top row first. Every row a
// token completes is counted, so decoding stops exactly after width × height
// pixels, cutting the last copy there. False when the stream runs out or a
// copy reaches back before pixel 0.
bool ReferenceDecode(std::span<const std::uint8_t> payload, std::int32_t width, std::int32_t height,
                     std::vector<std::uint32_t>& pixels);

}  // namespace quillon_bench
