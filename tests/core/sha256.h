// SHA-256 of a byte string, as lowercase hex: enough to check decoded pictures
// against published digests.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace coretest {

std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace coretest
