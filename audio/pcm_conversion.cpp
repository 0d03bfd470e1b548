#include "audio/pcm_conversion.h"

#include "audio/speech_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace clipnote::speech {

int16_t ToPcmSample(float v) {
  if (v < -32767.5f) return -32768;
  if (v > 32766.5f) return 32767;
  if (v != v) return 0;
  // Round half away from zero; in double so that v + 0.5 is exact.
  const double d = v;
  return static_cast<int16_t>(d >= 0 ? static_cast<int32_t>(d + 0.5)
                                     : static_cast<int32_t>(d - 0.5));
}

namespace {

#if defined(__SSE2__)
// Four samples at once, with the same results as ToPcmSample: NaNs become 0, everything
// is first clamped to [-32768, 32767] (which rounds the same as clipping after rounding),
// then truncated toward zero and moved one step away from zero where the dropped fraction
// is at least one half. Below 2^23 the fraction v - trunc(v) is exact in single precision.
__m128i RoundFour(__m128 v) {
  v = _mm_and_ps(v, _mm_cmpord_ps(v, v));
  v = _mm_min_ps(_mm_max_ps(v, _mm_set1_ps(-32768.0f)), _mm_set1_ps(32767.0f));
  const __m128i truncated = _mm_cvttps_epi32(v);
  const __m128 fraction = _mm_sub_ps(v, _mm_cvtepi32_ps(truncated));
  const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), fraction);
  const __m128i roundAway = _mm_castps_si128(_mm_cmpge_ps(magnitude, _mm_set1_ps(0.5f)));
  // +1 for positive samples, -1 for negative ones (the sign bit spread, ORed with 1).
  const __m128i away = _mm_or_si128(_mm_srai_epi32(_mm_castps_si128(v), 31), _mm_set1_epi32(1));
  return _mm_add_epi32(truncated, _mm_and_si128(roundAway, away));
}
#endif

}  // namespace

void StorePcmSamplesPlain(const float* samples, int count, uint8_t* out) {
  for (int n = 0; n < count; ++n) {
    const uint16_t sample = static_cast<uint16_t>(ToPcmSample(samples[n]));
    out[2 * n] = static_cast<uint8_t>(sample);
    out[2 * n + 1] = static_cast<uint8_t>(sample >> 8);
  }
}

#if defined(__SSE2__)
void StorePcmSamplesSse2(const float* samples, int count, uint8_t* out) {
  int n = 0;
  // x86 is little-endian, so the packed 16-bit lanes are already in PCM byte order.
  for (; n + 8 <= count; n += 8) {
    const __m128i low = RoundFour(_mm_loadu_ps(samples + n));
    const __m128i high = RoundFour(_mm_loadu_ps(samples + n + 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * n), _mm_packs_epi32(low, high));
  }
  StorePcmSamplesPlain(samples + n, count - n, out + 2 * n);
}
#endif

void StorePcmSamples(const float* samples, int count, uint8_t* out) {
  speechKernels.storePcmSamples(samples, count, out);
}

}  // namespace clipnote::speech
