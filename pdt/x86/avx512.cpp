// The AVX-512 kernel (F, BW, DQ, VL and VBMI), chosen at run time. Detailed
// pictures mix literals, copies from just behind and copies from rows above
// at random, so branching on the kind of each token mispredicts often; here
// every token takes the same steps. The newest 16 pixels stay in a register
// (the history), so that a copy from at most 16 back is a permutation of it
// and waits on no store. Every token writes with one 16-pixel store: past the
// first kMaxDistance pixels the history, its own pixels last and the ones
// before them again with the values they hold; before that its own pixels
// first, the surplus overwritten by the following tokens.
#include "pdt/kernels.h"

#ifdef QUILLON_PDT_X86
#include <cstdint>

#include "pdt/tokens.h"
// GCC 12's AVX-512 headers warn of their own placeholder values.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#define QUILLON_PDT_TARGET __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi")))
#include "pdt/group_loop.h"

namespace mdl_pdt::detail {
namespace {

// Input the kernel may read from a flag byte: it reads a literal's pixel as
// the first of 16 (the last literal starts at byte 22).
constexpr std::size_t kWideReadBytes = kMaxGroupReadBytes;
// The bytes of a flag group's tokens, loaded at once.
constexpr std::size_t kGroupBytes = std::size_t{1} + 8 * 3 + 1;

// Permutation indexes into the history (0 .. 15) followed by a token's own 16
// pixels (16 .. 31): a literal's pixel, or the pixels a far copy repeats.
struct WideTables {
  // next[r][n]: the history after a token of n pixels. r = 0 appends the
  // token's own pixels; r = d (1 .. 16) repeats the last d pixels.
  alignas(64) std::uint32_t next[kMaxLength + 1][kMaxLength + 1][16];
  // fill[r]: the 16 pixels the token writes, by the same r.
  alignas(64) std::uint32_t fill[kMaxLength + 1][16];
};

constexpr WideTables kWide = [] {
  WideTables t{};
  for (std::size_t r = 0; r <= kMaxLength; ++r) {
    for (std::size_t n = 0; n <= kMaxLength; ++n) {
      for (std::size_t k = 0; k < 16; ++k) {
        const std::size_t from = k + n;
        t.next[r][n][k] =
            static_cast<std::uint32_t>(r == 0 || from < 16 ? from : 16 - r + (from - 16) % r);
      }
    }
    for (std::size_t k = 0; k < 16; ++k) {
      t.fill[r][k] = static_cast<std::uint32_t>(r == 0 ? 16 + k : 16 - r + k % r);
    }
  }
  return t;
}();

// The history at window index `at`: lane k holds pixel at − 16 + k, and 0
// where that is before pixel 0.
QUILLON_PDT_TARGET inline __m512i LoadWideHistory(const std::uint32_t* win, std::size_t at) {
  if (at >= 16) return _mm512_loadu_si512(win + at - 16);
  return _mm512_maskz_expandloadu_epi32(static_cast<__mmask16>(0xFFFFu << (16 - at)), win);
}

// Where each token of a flag group reads and writes, worked out for all eight
// at once.
struct alignas(64) GroupPlan {
  const std::uint32_t* own[8];  // its own pixels: a far copy's source, a literal's bytes
  std::uint32_t* to[8];   // where its store goes: its first pixel, or its last 16 past kMaxDistance
  std::uint32_t rows[8];  // byte offsets of its rows: kWide.fill above 16 bits, kWide.next below
};

// One flag group, its input and output known to be in reach. Checked: the
// group may start within kMaxDistance pixels of pixel 0; if a copy reaches
// before pixel 0, returns false having written nothing.
template <bool kChecked>
QUILLON_PDT_TARGET inline bool WideGroup(const std::uint8_t* group, const GroupLayout& layout,
                                         std::uint32_t* win, std::size_t& at, __m512i& hist) {
  const __m256i one = _mm256_set1_epi32(1);
  // Lane t: the four bytes from token t's start.
  const __m256i bytes =
      _mm256_maskz_loadu_epi8(static_cast<__mmask32>((1u << kGroupBytes) - 1), group);
  const __m128i offsets = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(layout.offset.data()));
  const __m256i starts =
      _mm256_permutexvar_epi8(_mm256_set_epi8(7, 7, 7, 7, 6, 6, 6, 6, 5, 5, 5, 5, 4, 4, 4, 4, 3, 3,
                                              3, 3, 2, 2, 2, 2, 1, 1, 1, 1, 0, 0, 0, 0),
                              _mm256_castsi128_si256(offsets));
  const __m256i token =
      _mm256_permutexvar_epi8(_mm256_add_epi8(starts, _mm256_set1_epi32(0x03020100)), bytes);
  const __mmask8 literal = _mm256_test_epi32_mask(_mm256_set1_epi32(group[0]),
                                                  _mm256_set_epi32(1, 2, 4, 8, 16, 32, 64, 128));
  // The copy fields, as ReadCopy reads them.
  const __m256i distance = _mm256_add_epi32(
      _mm256_srli_epi32(_mm256_and_si256(token, _mm256_set1_epi32(0xFFFF)), 4), one);
  const __m256i length = _mm256_mask_mov_epi32(
      _mm256_add_epi32(_mm256_and_si256(token, _mm256_set1_epi32(0x0F)), one), literal, one);
  // Copies from at most kMaxLength back (their second byte is 0) come from
  // the history; the others read their own pixels.
  const __mmask8 near = _mm256_mask_testn_epi32_mask(static_cast<__mmask8>(~literal), token,
                                                     _mm256_set1_epi32(0xFF00));
  const auto far = static_cast<__mmask8>(~literal & ~near);
  // Where each token starts: `at` and the lengths before it.
  __m256i sum = length;
  sum = _mm256_add_epi32(sum, _mm256_alignr_epi32(sum, _mm256_setzero_si256(), 7));
  sum = _mm256_add_epi32(sum, _mm256_alignr_epi32(sum, _mm256_setzero_si256(), 6));
  sum = _mm256_add_epi32(sum, _mm256_alignr_epi32(sum, _mm256_setzero_si256(), 4));
  const __m256i to =
      _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(at)), _mm256_sub_epi32(sum, length));
  if constexpr (kChecked) {
    if (_mm256_mask_cmpgt_epu32_mask(static_cast<__mmask8>(~literal), distance, to) != 0) {
      return false;
    }
  }
  // Near copies read pixels they do not use. Once kMaxDistance pixels are
  // decoded, they read from far enough back, at an address apart from the
  // newest stores' in its low 12 bits too, that the load waits on none.
  const __m256i unused_back = _mm256_set1_epi32(kChecked ? 0 : 3584);
  const __m256i from = _mm256_sub_epi32(to, _mm256_mask_mov_epi32(unused_back, far, distance));
  const __m512i win_at =
      _mm512_set1_epi64(static_cast<long long>(reinterpret_cast<std::uintptr_t>(win)));
  const __m512i group_at =
      _mm512_set1_epi64(static_cast<long long>(reinterpret_cast<std::uintptr_t>(group)));
  GroupPlan plan;
  const __m256i store_at =
      kChecked ? to : _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(at) - 16), sum);
  _mm512_store_si512(
      plan.to, _mm512_add_epi64(win_at, _mm512_slli_epi64(_mm512_cvtepu32_epi64(store_at), 2)));
  _mm512_store_si512(
      plan.own, _mm512_mask_add_epi64(
                    _mm512_add_epi64(win_at, _mm512_slli_epi64(_mm512_cvtepu32_epi64(from), 2)),
                    literal, group_at, _mm512_cvtepu8_epi64(offsets)));
  const __m256i r = _mm256_maskz_mov_epi32(near, distance);
  const __m256i next_row = _mm256_add_epi32(_mm256_add_epi32(_mm256_slli_epi32(r, 4), r), length);
  _mm256_store_si256(reinterpret_cast<__m256i*>(plan.rows),
                     _mm256_or_si256(_mm256_slli_epi32(r, 6 + 16), _mm256_slli_epi32(next_row, 6)));
  // The compiler picks how each field comes back, from memory or taken out
  // of its vector: forcing loads (a volatile plan) measured 15-20% slower,
  // since it keeps them in order.
  const GroupPlan& p = plan;
  const auto* fills = reinterpret_cast<const std::uint8_t*>(kWide.fill);
  const auto* nexts = reinterpret_cast<const std::uint8_t*>(kWide.next);
  // Every decoded pixel is opaque, so setting the top byte turns a literal's
  // three bytes into its pixel and leaves copied pixels as they are.
  const __m512i opaque = _mm512_set1_epi32(static_cast<int>(0xFF000000u));
#pragma GCC unroll 8
  for (unsigned t = 0; t < 8; ++t) {
    const __m512i own = _mm512_or_si512(_mm512_loadu_si512(p.own[t]), opaque);
    const std::uint32_t rows = p.rows[t];
    if constexpr (kChecked) {
      _mm512_storeu_si512(
          p.to[t], _mm512_permutex2var_epi32(hist, _mm512_load_si512(fills + (rows >> 16)), own));
    }
    hist = _mm512_permutex2var_epi32(hist, _mm512_load_si512(nexts + (rows & 0xFFFFu)), own);
    if constexpr (!kChecked) {
      // The newest 16 pixels, this token's last.
      _mm512_storeu_si512(p.to[t], hist);
    }
  }
  at += static_cast<std::uint32_t>(_mm256_extract_epi32(sum, 7));
  return true;
}

// A flag group of eight literals, as one token of eight pixels; returns the
// new `at`.
QUILLON_PDT_TARGET inline std::size_t EightLiteralsWide(const std::uint8_t* group,
                                                        std::uint32_t* win, std::size_t at,
                                                        __m512i& hist) {
  const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(group + 1));
  const __m512i own = _mm512_zextsi256_si512(
      _mm256_or_si256(_mm256_permutexvar_epi8(
                          _mm256_set_epi8(0, 23, 22, 21, 0, 20, 19, 18, 0, 17, 16, 15, 0, 14, 13,
                                          12, 0, 11, 10, 9, 0, 8, 7, 6, 0, 5, 4, 3, 0, 2, 1, 0),
                          bytes),
                      _mm256_set1_epi32(static_cast<int>(0xFF000000u))));
  hist = _mm512_permutex2var_epi32(hist, _mm512_load_si512(kWide.next[0][8]), own);
  if (at >= kMaxLength) {
    _mm512_storeu_si512(win + at + 8 - 16, hist);
  } else {
    _mm512_storeu_si512(win + at, own);
  }
  return at + 8;
}

struct Avx512Kernel {
  static constexpr std::size_t kReadBytes = kWideReadBytes;
  using History = __m512i;
  QUILLON_PDT_TARGET static History LoadHistory(const std::uint32_t* win, std::size_t at) {
    return LoadWideHistory(win, at);
  }
  template <bool kNearStart>
  QUILLON_PDT_TARGET QUILLON_PDT_INLINE static std::size_t Group(const std::uint8_t* group,
                                                                 std::uint32_t* win,
                                                                 std::size_t& at, __m512i& hist) {
    if (group[0] == 0xFFu) {
      at = EightLiteralsWide(group, win, at, hist);
      return 25;
    }
    const GroupLayout& layout = kGroupLayouts[group[0]];
    if (!WideGroup<kNearStart>(group, layout, win, at, hist)) return 0;
    return layout.bytes;
  }
};

}  // namespace

bool Avx512Runnable() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
         __builtin_cpu_supports("avx512vbmi");
}

QUILLON_PDT_TARGET
Step Avx512Groups(std::span<const std::uint8_t> bytes, std::size_t& in, Output& out) {
  return RunGroups<Avx512Kernel>(bytes, in, out);
}

}  // namespace mdl_pdt::detail
#endif
