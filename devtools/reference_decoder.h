// The reference decoder: a plain token-at-a-time decoder of the PDT10 stream,
// written for clarity alone. It is the model the tests and the fuzz target
// hold every kernel of the real decoder against, and the yardstick the
// benchmarks measure them by.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace pdtref {

// Decodes `payload` into width × height pixels, top row first, each
// 0xFF000000 | R << 16 | G << 8 | B. `pixels` is resized, keeping its memory
// and not clearing it. Decoding stops after exactly width × height pixels,
// cutting the last copy there. False when the stream runs out first or a copy
// reaches back before pixel 0.
bool ReferenceDecode(std::span<const std::uint8_t> payload, std::int32_t width, std::int32_t height,
                     std::vector<std::uint32_t>& pixels);

}  // namespace pdtref
