// The AVX2 kernel (with BMI2), chosen at run time. Like the AVX-512 kernel,
// every token of a mixed flag group takes the same steps, so that nothing
// branches on the kind of token: the newest eight pixels stay in a register
// (the history), a copy from at most eight back is a permutation of it and
// waits on no store, and where each token reads and writes is worked out for
// the whole group at once. Each token stores its first eight pixels, then the
// history after it, which ends with its last; the surplus of the first store
// lands on pixels the following tokens overwrite. The first kMaxDistance + 8
// pixels, where a copy may reach before pixel 0, go through the portable
// kernel's checked groups.
#include "pdt/kernels.h"

#ifdef QUILLON_PDT_X86
#include <immintrin.h>

#include <cstdint>
#include <cstring>
#include <utility>

#define QUILLON_PDT_TARGET __attribute__((target("avx2,bmi2")))
#include "pdt/generic_kernel.h"
#include "pdt/group_loop.h"
#include "pdt/tokens.h"

namespace mdl_pdt::detail {
namespace {

// The eight pixels of the eight literals from `p` (24 bytes; it reads 28).
QUILLON_PDT_TARGET inline __m256i EightLiterals(const std::uint8_t* p) {
  const __m256i bytes = _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
  const __m256i spread = _mm256_shuffle_epi8(
      bytes, _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1, 3,
                              4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1));
  return _mm256_or_si256(spread, _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
}

// Where the far loads of a token that reads none (a literal, a near copy)
// go: window pixels written only when decoding starts or the window slides,
// so that these loads wait on no store, and the same few for every such
// token, so that they stay cached.
constexpr int kUnusedFrom = 8;

// Rows of permutation indexes and blend masks, by the token's kind r (0: a
// copy from more than eight back, 1 .. 8: a copy from that many back, 9: a
// literal) and its length n.
struct Avx2Tables {
  struct Next {
    std::int32_t index[8];  // the history's lanes the next history keeps
    std::int32_t own[8];    // all ones: the lane comes from the token's own pixels
  };
  struct First {
    std::int32_t index[8];  // a near copy's first eight pixels, from the history
    std::int32_t own[8];    // all ones: not a far copy (its pixels are not loaded)
  };
  alignas(64) Next next[10][kMaxLength + 1];
  alignas(64) First first[10];
};

constexpr Avx2Tables kAvx2 = [] {
  Avx2Tables t{};
  for (int r = 0; r < 10; ++r) {
    const bool near = r >= 1 && r <= 8;
    for (int n = 0; n <= static_cast<int>(kMaxLength); ++n) {
      for (int k = 0; k < 8; ++k) {
        // Pixel n + k of the history followed by the token's pixels.
        const int j = n + k;
        if (near) {
          t.next[r][n].index[k] = j < 8 ? j : 8 - r + (j - 8) % r;
          t.next[r][n].own[k] = 0;
        } else {
          t.next[r][n].index[k] = j & 7;
          t.next[r][n].own[k] = j >= 8 ? -1 : 0;
        }
      }
    }
    for (int k = 0; k < 8; ++k) {
      t.first[r].index[k] = near ? 8 - r + k % r : 0;
      t.first[r].own[k] = r != 0 ? -1 : 0;
    }
  }
  return t;
}();

// Where each token of a flag group reads and writes, as window indexes.
struct alignas(32) Avx2Plan {
  std::uint32_t edge[16];  // edge[t]: token t's first pixel; edge[t + 1] its end
  std::uint32_t first[8];  // a far copy's first eight pixels
  std::uint32_t last[8];   // a far copy's last eight pixels (some may be before it)
  std::uint32_t rows[8];   // byte offsets: kAvx2.first above 16 bits, kAvx2.next below
};

QUILLON_PDT_TARGET inline __m256i LoadNarrowHistory(const std::uint32_t* win, std::size_t at) {
  if (at >= 8) return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(win + at - 8));
  alignas(32) std::uint32_t lanes[8] = {};
  for (std::size_t k = 0; k < at; ++k) lanes[8 - at + k] = win[k];
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes));
}

// A mixed flag group, at least kMaxDistance + 8 pixels from pixel 0, so that
// every load is within the window.
QUILLON_PDT_TARGET inline void NarrowGroup(const std::uint8_t* group, std::uint32_t* win,
                                           std::size_t& at, __m256i& hist) {
  const unsigned flags = group[0];
  const GroupLayout& layout = kGroupLayouts[flags];
  const __m256i one = _mm256_set1_epi32(1);
  // Lane t: the three bytes from token t's start. Tokens 0 .. 3 start within
  // the group's first 11 bytes, tokens 4 .. 7 at bytes 9 .. 22.
  std::uint64_t offsets = 0;
  std::memcpy(&offsets, layout.offset.data(), sizeof offsets);
  const __m256i starts =
      _mm256_shuffle_epi8(_mm256_set1_epi64x(static_cast<long long>(offsets)),
                          _mm256_setr_epi8(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4,
                                           4, 5, 5, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7));
  // The top byte's index gets its high bit set, which makes it 0.
  const __m256i picks = _mm256_add_epi8(
      starts, _mm256_setr_epi8(0, 1, 2, -128, 0, 1, 2, -128, 0, 1, 2, -128, 0, 1, 2, -128, -9, -8,
                               -7, 0x77, -9, -8, -7, 0x77, -9, -8, -7, 0x77, -9, -8, -7, 0x77));
  const __m256i bytes = _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(group))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(group + 9)), 1);
  const __m256i token = _mm256_shuffle_epi8(bytes, picks);
  const __m256i bits = _mm256_setr_epi32(128, 64, 32, 16, 8, 4, 2, 1);
  const __m256i literal =
      _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(static_cast<int>(flags)), bits), bits);
  const __m256i literals = _mm256_or_si256(token, _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
  // The copy fields, as ReadCopy reads them.
  const __m256i field = _mm256_and_si256(token, _mm256_set1_epi32(0xFFFF));
  const __m256i distance = _mm256_add_epi32(_mm256_srli_epi32(field, 4), one);
  const __m256i length = _mm256_blendv_epi8(
      _mm256_add_epi32(_mm256_and_si256(field, _mm256_set1_epi32(0x0F)), one), one, literal);
  const __m256i near =
      _mm256_andnot_si256(literal, _mm256_cmpgt_epi32(_mm256_set1_epi32(0x80), field));
  const __m256i far = _mm256_xor_si256(_mm256_or_si256(literal, near), _mm256_set1_epi32(-1));
  // Where each token starts: `at` and the lengths before it.
  __m256i sum = _mm256_add_epi32(length, _mm256_slli_si256(length, 4));
  sum = _mm256_add_epi32(sum, _mm256_slli_si256(sum, 8));
  sum =
      _mm256_add_epi32(sum, _mm256_shuffle_epi32(_mm256_permute2x128_si256(sum, sum, 0x08), 0xFF));
  const __m256i end = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(at)), sum);
  const __m256i start = _mm256_sub_epi32(end, length);
  const __m256i first =
      _mm256_blendv_epi8(_mm256_set1_epi32(kUnusedFrom), _mm256_sub_epi32(start, distance), far);
  const __m256i r = _mm256_or_si256(_mm256_and_si256(near, distance),
                                    _mm256_and_si256(literal, _mm256_set1_epi32(9)));
  const __m256i next_row = _mm256_slli_epi32(
      _mm256_add_epi32(_mm256_mullo_epi32(r, _mm256_set1_epi32(kMaxLength + 1)), length), 6);
  Avx2Plan plan;
  plan.edge[0] = static_cast<std::uint32_t>(at);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(plan.edge + 1), end);
  _mm256_store_si256(reinterpret_cast<__m256i*>(plan.first), first);
  _mm256_store_si256(reinterpret_cast<__m256i*>(plan.last),
                     _mm256_add_epi32(first, _mm256_sub_epi32(length, _mm256_set1_epi32(8))));
  _mm256_store_si256(reinterpret_cast<__m256i*>(plan.rows),
                     _mm256_or_si256(_mm256_slli_epi32(r, 6 + 16), next_row));
  // The compiler picks how each field comes back, from memory or taken out
  // of its vector: forcing loads (a volatile plan) measured about 8% slower,
  // since it keeps them in order.
  const Avx2Plan& p = plan;
  const auto* firsts = reinterpret_cast<const std::uint8_t*>(kAvx2.first);
  const auto* nexts = reinterpret_cast<const std::uint8_t*>(kAvx2.next);
#pragma GCC unroll 8
  for (unsigned t = 0; t < 8; ++t) {
    const std::uint32_t rows = p.rows[t];
    const auto* f = reinterpret_cast<const __m256i*>(firsts + (rows >> 16));
    const auto* n = reinterpret_cast<const __m256i*>(nexts + (rows & 0xFFFFu));
    const __m256i head = _mm256_blendv_epi8(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(win + p.first[t])),
        _mm256_permutevar8x32_epi32(hist, _mm256_load_si256(f)), _mm256_load_si256(f + 1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(win + p.edge[t]), head);
    // Loaded after the store above: a copy from 9 .. 15 back longer than its
    // distance repeats pixels that store wrote.
    const __m256i own = _mm256_blendv_epi8(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(win + p.last[t])),
        _mm256_permutevar8x32_epi32(literals, _mm256_set1_epi32(static_cast<int>(t))),
        _mm256_load_si256(f + 1));
    hist = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(hist, _mm256_load_si256(n)), own,
                              _mm256_load_si256(n + 1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(win + p.edge[t + 1] - 8), hist);
  }
  at = p.edge[8];
}

struct Avx2Kernel {
  // The flag byte and 28 bytes for a group of eight literals.
  static constexpr std::size_t kReadBytes = std::size_t{1} + 28;
  using History = __m256i;
  QUILLON_PDT_TARGET static History LoadHistory(const std::uint32_t* win, std::size_t at) {
    return LoadNarrowHistory(win, at);
  }
  template <bool kNearStart>
  QUILLON_PDT_TARGET QUILLON_PDT_INLINE static std::size_t Group(const std::uint8_t* group,
                                                                 std::uint32_t* win,
                                                                 std::size_t& at, __m256i& hist) {
    if (kNearStart || at < kMaxDistance + 8) {
      // Within kMaxDistance + 8 pixels of pixel 0, where a copy may reach
      // before it, the portable kernel's checked groups; few pixels of any
      // picture come this way.
      using Near = GenericKernel<ScalarOps>;
      Near::History near = Near::LoadHistory(win, at);
      const std::size_t used = Near::Group<true>(group, win, at, near);
      hist = LoadNarrowHistory(win, at);
      return used;
    }
    if (group[0] == 0xFFu) {
      const __m256i eight = EightLiterals(group + 1);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(win + at), eight);
      hist = eight;
      at += 8;
      return 25;
    }
    NarrowGroup(group, win, at, hist);
    return kGroupLayouts[group[0]].bytes;
  }
};
}  // namespace

bool Avx2Runnable() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
}

// In place, eight pixels at a time from each row: a third less to move than
// SwapPixels, which goes through a held piece. (Four at a time, in place,
// measured no faster than SwapPixels.)
QUILLON_PDT_TARGET
void Avx2SwapPixels(std::uint32_t* a, std::uint32_t* b, std::size_t n) {
  std::size_t k = 0;
  for (; n - k >= 8; k += 8) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + k));
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + k));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(a + k), y);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(b + k), x);
  }
  for (; k < n; ++k) std::swap(a[k], b[k]);
}

QUILLON_PDT_TARGET
Step Avx2Groups(std::span<const std::uint8_t> bytes, std::size_t& in, Output& out) {
  return RunGroups<Avx2Kernel>(bytes, in, out);
}

}  // namespace mdl_pdt::detail
#endif
