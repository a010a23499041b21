#include "devtools/pdt_encoder.h"

#include <algorithm>
#include <fstream>
#include <unordered_map>

namespace pdtgen {
namespace {

constexpr std::size_t kMaxDistance = 4096;
constexpr std::size_t kMaxLength = 16;

class TokenWriter {
 public:
  explicit TokenWriter(std::vector<std::uint8_t>& out) : out_(out) {}

  void Literal(std::uint32_t pixel) {
    NextBit(true);
    out_.push_back(static_cast<std::uint8_t>(pixel));
    out_.push_back(static_cast<std::uint8_t>(pixel >> 8));
    out_.push_back(static_cast<std::uint8_t>(pixel >> 16));
  }

  void Copy(std::size_t distance, std::size_t length) {
    NextBit(false);
    const auto v = static_cast<unsigned>((distance - 1) << 4 | (length - 1));
    out_.push_back(static_cast<std::uint8_t>(v));
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
  }

 private:
  void NextBit(bool literal) {
    if (mask_ == 0) {
      flag_pos_ = out_.size();
      out_.push_back(0);
      mask_ = 0x80;
    }
    if (literal) out_[flag_pos_] = static_cast<std::uint8_t>(out_[flag_pos_] | mask_);
    mask_ >>= 1;
  }

  std::vector<std::uint8_t>& out_;
  std::size_t flag_pos_ = 0;
  unsigned mask_ = 0;
};

}  // namespace

std::vector<std::uint8_t> EncodeStream(std::span<const std::uint32_t> pixels,
                                       const EncodeOptions& options) {
  std::vector<std::uint8_t> out;
  out.reserve(pixels.size() + pixels.size() / 8 + 16);
  TokenWriter tokens(out);
  const std::size_t n = pixels.size();
  auto rgb = [&](std::size_t k) { return pixels[k] & 0x00FFFFFFu; };

  // Chains of earlier positions holding the same colour, newest first.
  std::unordered_map<std::uint32_t, std::size_t> head;
  std::vector<std::size_t> prev(n, SIZE_MAX);
  auto insert = [&](std::size_t k) {
    auto [it, fresh] = head.try_emplace(rgb(k), k);
    if (!fresh) {
      prev[k] = it->second;
      it->second = k;
    }
  };

  std::size_t j = 0;
  while (j < n) {
    std::size_t best_len = 0;
    std::size_t best_dist = 0;
    if (!options.literals_only) {
      const std::size_t limit = std::min(kMaxLength, n - j);
      auto it = head.find(rgb(j));
      std::size_t cand = it == head.end() ? SIZE_MAX : it->second;
      for (int tries = 0; cand != SIZE_MAX && j - cand <= kMaxDistance && tries < options.max_chain;
           ++tries, cand = prev[cand]) {
        std::size_t len = 1;
        while (len < limit && rgb(cand + len) == rgb(j + len)) ++len;
        if (len > best_len) {
          best_len = len;
          best_dist = j - cand;
          if (len == limit) break;
        }
      }
    }
    const std::size_t step = best_len == 0 ? 1 : best_len;
    if (best_len == 0) {
      tokens.Literal(pixels[j]);
    } else {
      tokens.Copy(best_dist, best_len);
    }
    for (std::size_t k = 0; k < step; ++k) insert(j + k);
    j += step;
  }
  return out;
}

std::vector<std::uint8_t> MakeHeader(std::int32_t width, std::int32_t height,
                                     std::size_t payload_size) {
  std::vector<std::uint8_t> h(32, 0);
  const char sig[] = "PDT10";
  std::copy(sig, sig + 5, h.begin());
  auto put = [&](std::size_t at, std::uint32_t v) {
    for (std::size_t k = 0; k < 4; ++k) h[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
  };
  put(8, static_cast<std::uint32_t>(32 + payload_size));
  put(12, static_cast<std::uint32_t>(width));
  put(16, static_cast<std::uint32_t>(height));
  return h;
}

std::vector<std::uint8_t> EncodePdt(std::span<const std::uint32_t> pixels, std::int32_t width,
                                    std::int32_t height, const EncodeOptions& options) {
  std::vector<std::uint8_t> payload = EncodeStream(pixels, options);
  std::vector<std::uint8_t> file = MakeHeader(width, height, payload.size());
  file.insert(file.end(), payload.begin(), payload.end());
  return file;
}

bool WriteFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace pdtgen
