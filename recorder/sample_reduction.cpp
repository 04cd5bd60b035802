#include "recorder/sample_reduction.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define HALVORN_X86 1
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

#if HALVORN_X86
// Four pairs, 24 bytes read as two overlapping 16-byte loads at 0 and 8, to
// eight 16-bit components: the upper two bytes of each component gathered by
// one byte shuffle per load, the rounding byte's top bit by another, and the
// signed saturating add gives the 32767 of the largest components.
__attribute__((target("ssse3"))) int ReduceFourPairsAtATime(const std::uint8_t* __restrict pairs, int pair_count,
                                                           std::uint8_t* __restrict out) {
  const __m128i upper_from_low = _mm_setr_epi8(1, 2, 4, 5, 7, 8, 10, 11, 13, 14, -1, -1, -1, -1, -1, -1);
  const __m128i upper_from_high = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 8, 9, 11, 12, 14, 15);
  const __m128i rounding_from_low = _mm_setr_epi8(-1, 0, -1, 3, -1, 6, -1, 9, -1, 12, -1, -1, -1, -1, -1, -1);
  const __m128i rounding_from_high = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 7, -1, 10, -1, 13);
  int done = 0;
  for (; done + 4 <= pair_count; done += 4) {
    const std::uint8_t* in = pairs + 6 * done;
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8));
    const __m128i upper = _mm_or_si128(_mm_shuffle_epi8(low, upper_from_low), _mm_shuffle_epi8(high, upper_from_high));
    const __m128i rounding = _mm_srli_epi16(
        _mm_or_si128(_mm_shuffle_epi8(low, rounding_from_low), _mm_shuffle_epi8(high, rounding_from_high)), 15);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * done), _mm_adds_epi16(upper, rounding));
  }
  return done;
}

// Every x86 processor of the last twenty years has the byte shuffle; one
// without it takes the plain way.
bool HasByteShuffle() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3");
}
#endif

}  // namespace

// A stride of three bytes defeats the compiler's vectoriser with SSE2 alone,
// and SSE2's own shuffles make it several times slower than the byte
// shuffle, so the shuffle is used where the processor has it.
void ReduceBlock(const std::uint8_t* __restrict pairs, int pair_count, std::uint8_t* __restrict out) {
  int done = 0;
#if HALVORN_X86
  static const bool kByteShuffle = HasByteShuffle();
  if (kByteShuffle) done = ReduceFourPairsAtATime(pairs, pair_count, out);
#endif
  ReducePairs(pairs, done, pair_count, out);
}

}  // namespace halvorn::recorder
