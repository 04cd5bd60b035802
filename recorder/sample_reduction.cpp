#include "recorder/sample_reduction.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace halvorn::recorder {
namespace {

void ReducePairs(const std::uint8_t* __restrict pairs, int first, int end, std::uint8_t* __restrict out) {
  for (int i = 2 * first; i < 2 * end; ++i) {
    const auto value = static_cast<std::uint16_t>(ReduceComponent(pairs + 3 * i));
    out[2 * i] = static_cast<std::uint8_t>(value);
    out[2 * i + 1] = static_cast<std::uint8_t>(value >> 8);
  }
}

#if defined(__SSE2__)
// One pair in each 64-bit half: the two components' upper 16 bits moved
// together into the low 32 bits.
inline __m128i UpperWords(__m128i pairs) {
  const __m128i first = _mm_set_epi32(0, 0x0000FFFF, 0, 0x0000FFFF);
  const __m128i second = _mm_set_epi32(0, static_cast<int>(0xFFFF0000u), 0, static_cast<int>(0xFFFF0000u));
  return _mm_or_si128(_mm_and_si128(_mm_srli_epi64(pairs, 8), first), _mm_and_si128(_mm_srli_epi64(pairs, 16), second));
}

// The rounding bits, the top bits of the first and fourth bytes, as 0 or 1 in
// 16-bit lanes 0 and 1 of each half: shifting lane 0 up by 8 lines the two up.
inline __m128i RoundingBits(__m128i pairs) {
  const __m128i line_up = _mm_set_epi16(1, 1, 1, 256, 1, 1, 1, 256);
  return _mm_srli_epi16(_mm_mullo_epi16(pairs, line_up), 15);
}

// Two pairs, six bytes apart, one in each half.
inline __m128i LoadTwoPairs(const std::uint8_t* pairs) {
  return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pairs)),
                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pairs + 6)));
}

// The signed saturating add gives the 32767 of the largest components.
inline __m128i ReduceTwoPairs(__m128i pairs) { return _mm_adds_epi16(UpperWords(pairs), RoundingBits(pairs)); }
#endif

}  // namespace

// Four pairs at a time with SSE2, which the compiler cannot find by itself in
// a stride of three bytes; each step reads two bytes past its four pairs, so
// the last pairs go the plain way.
void ReduceBlock(const std::uint8_t* __restrict pairs, int pair_count, std::uint8_t* __restrict out) {
  int done = 0;
#if defined(__SSE2__)
  for (; done + 4 < pair_count; done += 4) {
    const std::uint8_t* in = pairs + 6 * done;
    const __m128i low = _mm_shuffle_epi32(ReduceTwoPairs(LoadTwoPairs(in)), _MM_SHUFFLE(3, 1, 2, 0));
    const __m128i high = _mm_shuffle_epi32(ReduceTwoPairs(LoadTwoPairs(in + 12)), _MM_SHUFFLE(3, 1, 2, 0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * done), _mm_unpacklo_epi64(low, high));
  }
#endif
  ReducePairs(pairs, done, pair_count, out);
}

}  // namespace halvorn::recorder
