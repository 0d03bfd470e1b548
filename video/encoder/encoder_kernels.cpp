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

int32_t BlockResidualPlain(int16_t values[64], const uint8_t* source, int32_t sourceStride,
                           const uint8_t* prediction, int32_t predictionStride, int32_t* sad) {
  int32_t squares = 0;
  int32_t magnitudes = 0;
  for (int32_t y = 0; y < 8; ++y, source += sourceStride, prediction += predictionStride) {
    for (int32_t x = 0; x < 8; ++x) {
      const int32_t d = int32_t{source[x]} - int32_t{prediction[x]};
      values[8 * y + x] = static_cast<int16_t>(d);
      squares += d * d;
      magnitudes += std::abs(d);
    }
  }
  *sad = magnitudes;
  return squares;
}

#if defined(__SSE2__)
int32_t BlockResidualSse2(int16_t values[64], const uint8_t* source, int32_t sourceStride,
                          const uint8_t* prediction, int32_t predictionStride, int32_t* sad) {
  const __m128i zero = _mm_setzero_si128();
  __m128i squares = _mm_setzero_si128();
  __m128i magnitudes = _mm_setzero_si128();
  for (int32_t y = 0; y < 8; y += 2) {
    // Two rows of eight at once: their SAD directly on the bytes, their differences widened.
    const __m128i s = _mm_unpacklo_epi64(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + y * sourceStride)),
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + (y + 1) * sourceStride)));
    const __m128i p = _mm_unpacklo_epi64(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(prediction + y * predictionStride)),
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(prediction + (y + 1) * predictionStride)));
    magnitudes = _mm_add_epi64(magnitudes, _mm_sad_epu8(s, p));
    const __m128i low = _mm_sub_epi16(_mm_unpacklo_epi8(s, zero), _mm_unpacklo_epi8(p, zero));
    const __m128i high = _mm_sub_epi16(_mm_unpackhi_epi8(s, zero), _mm_unpackhi_epi8(p, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(values + 8 * y), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(values + 8 * y + 8), high);
    squares = _mm_add_epi32(squares, _mm_madd_epi16(low, low));
    squares = _mm_add_epi32(squares, _mm_madd_epi16(high, high));
  }
  squares = _mm_add_epi32(squares, _mm_srli_si128(squares, 8));
  squares = _mm_add_epi32(squares, _mm_srli_si128(squares, 4));
  *sad = _mm_cvtsi128_si32(magnitudes) + _mm_cvtsi128_si32(_mm_srli_si128(magnitudes, 8));
  return _mm_cvtsi128_si32(squares);
}
#endif

const EncoderKernels kPlainEncoderKernels = {Sad16x16Plain, ForwardTransformPlain,
                                             QuantiseLevelsPlain, BlockResidualPlain};
#if defined(__SSE2__)
const EncoderKernels kSse2EncoderKernels = {Sad16x16Sse2, ForwardTransformSse2,
                                            QuantiseLevelsSse2, BlockResidualSse2};
#endif

// Filled before any code runs (constant initialisation), so an encoder built during another
// file's start-up already finds it.
constinit EncoderKernels encoderKernels = {
#if defined(__SSE2__)
    Sad16x16Sse2, ForwardTransformSse2, QuantiseLevelsSse2, BlockResidualSse2,
#else
    Sad16x16Plain, ForwardTransformPlain, QuantiseLevelsPlain, BlockResidualPlain,
#endif
};

}  // namespace clipnote::h263
