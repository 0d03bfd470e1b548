#include "video/encoder/encoder_kernels.h"

#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace clipnote::h263 {

int32_t Sad16x16Plain(const uint8_t* a, int32_t strideA, const uint8_t* b, int32_t strideB) {
  int32_t sum = 0;
  for (int32_t y = 0; y < 16; ++y, a += strideA, b += strideB) {
    for (int32_t x = 0; x < 16; ++x) sum += std::abs(int32_t{a[x]} - int32_t{b[x]});
  }
  return sum;
}

#if defined(__SSE2__)
int32_t Sad16x16Sse2(const uint8_t* a, int32_t strideA, const uint8_t* b, int32_t strideB) {
  __m128i sum = _mm_setzero_si128();
  for (int32_t y = 0; y < 16; ++y, a += strideA, b += strideB) {
    const __m128i ra = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
    const __m128i rb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
    sum = _mm_add_epi64(sum, _mm_sad_epu8(ra, rb));
  }
  return _mm_cvtsi128_si32(sum) + _mm_cvtsi128_si32(_mm_srli_si128(sum, 8));
}
#endif

const EncoderKernels kPlainEncoderKernels = {Sad16x16Plain, ForwardTransformPlain,
                                             QuantiseLevelsPlain};
#if defined(__SSE2__)
const EncoderKernels kSse2EncoderKernels = {Sad16x16Sse2, ForwardTransformSse2,
                                            QuantiseLevelsSse2};
#endif

// Filled before any code runs (constant initialisation), so an encoder built during another
// file's start-up already finds it.
constinit EncoderKernels encoderKernels = {
#if defined(__SSE2__)
    Sad16x16Sse2, ForwardTransformSse2, QuantiseLevelsSse2,
#else
    Sad16x16Plain, ForwardTransformPlain, QuantiseLevelsPlain,
#endif
};

}  // namespace clipnote::h263
