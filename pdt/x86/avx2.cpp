// The AVX2 kernel (with BMI2), chosen at run time: the portable kernel's
// flag groups, with eight literals spread to pixels by one byte shuffle and
// copies moved eight pixels at a time.
#include "pdt/kernels.h"

#ifdef QUILLON_PDT_X86
#include <immintrin.h>

#define QUILLON_PDT_TARGET __attribute__((target("avx2,bmi2")))
#include "pdt/generic_kernel.h"
#include "pdt/group_loop.h"

namespace mdl_pdt::detail {
namespace {

struct Avx2Ops {
  // Bytes 0..15 and 12..27 of the literals.
  static constexpr std::size_t kReadBytes = std::size_t{1} + 28;
  static constexpr bool kAlwaysCheck = false;

  QUILLON_PDT_TARGET static void EightLiterals(const std::uint8_t* p, std::uint32_t* to) {
    const __m256i bytes = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
    const __m256i spread = _mm256_shuffle_epi8(
        bytes, _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1,
                                3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to),
                        _mm256_or_si256(spread, _mm256_set1_epi32(static_cast<int>(0xFF000000u))));
  }
  QUILLON_PDT_TARGET static void Copy16(std::uint32_t* to, const std::uint32_t* from) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + 8));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), a);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 8), b);
  }
  QUILLON_PDT_TARGET static void Fill16(std::uint32_t* to, std::uint32_t v) {
    const __m256i all = _mm256_set1_epi32(static_cast<int>(v));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), all);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 8), all);
  }
  // to[0..15] as a forward copy from d pixels back (2 <= d < 16), from the
  // pixels before `to` only: for d <= 8 the last eight of them permuted; for
  // longer distances the first eight, and the second eight with the pixels
  // the copy itself repeats permuted in.
  QUILLON_PDT_TARGET static void Repeat(std::uint32_t* to, std::size_t d) {
    const auto* idx = reinterpret_cast<const __m256i*>(kRepeatIndex.rows[d]);
    if (d <= 8) {
      const __m256i h = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(to - 8));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to),
                          _mm256_permutevar8x32_epi32(h, _mm256_load_si256(idx)));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 8),
                          _mm256_permutevar8x32_epi32(h, _mm256_load_si256(idx + 1)));
      return;
    }
    const std::uint32_t* from = to - d;
    const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
    const __m256i second = _mm256_blendv_epi8(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + 8)),
        _mm256_permutevar8x32_epi32(first, _mm256_load_si256(idx)), _mm256_load_si256(idx + 1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), first);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 8), second);
  }
  QUILLON_PDT_TARGET static void Repeat16(std::uint32_t* to, const std::uint32_t* /*from*/,
                                          std::size_t d, std::size_t /*length*/) {
    Repeat(to, d);
  }
  QUILLON_PDT_TARGET static void CopyTail(std::uint32_t* to, std::size_t distance) {
    const std::uint32_t* from = to - distance;
    if (distance >= kMaxLength) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 4),
                          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + 4)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 12),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 12)));
    } else if (distance == 1) {
      const __m256i all = _mm256_set1_epi32(static_cast<int>(from[0]));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 4), all);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 12), _mm256_castsi256_si128(all));
    } else {
      Repeat(to, distance);
    }
  }

  // Row d <= 8: where pixel k of the copy is among the eight pixels before
  // it (8 − d + k mod d). Row d > 8: for the second eight pixels (k = 8 + j),
  // where the ones that repeat the copy's own first pixels are among those
  // (j + 8 − d), and a mask of them.
  struct RepeatIndex {
    alignas(32) std::int32_t rows[kMaxLength][16];
  };
  static constexpr RepeatIndex kRepeatIndex = [] {
    RepeatIndex t{};
    for (int d = 1; d < 16; ++d) {
      for (int k = 0; k < 16; ++k) t.rows[d][k] = 8 - d + k % d;
      if (d > 8) {
        for (int j = 0; j < 8; ++j) {
          t.rows[d][j] = (j + 8 - d) & 7;
          t.rows[d][8 + j] = j + 8 >= d ? -1 : 0;
        }
      }
    }
    return t;
  }();
};
}  // namespace

bool Avx2Runnable() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
}

QUILLON_PDT_TARGET
Step Avx2Groups(std::span<const std::uint8_t> bytes, std::size_t& in, Output& out) {
  return RunGroups<GenericKernel<Avx2Ops>>(bytes, in, out);
}

}  // namespace mdl_pdt::detail
#endif
