#include "audio/encoder/encoder_kernels.h"

#include "audio/correlation.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace clipnote::speech {

namespace {
constexpr int kN = kSubframeSamples;
}  // namespace

void ConvolveSubframePlain(const float x[kSubframeSamples], const float h[kSubframeSamples],
                           float out[kSubframeSamples]) {
  for (int n = 0; n < kN; ++n) {
    double sum = 0;
    for (int i = 0; i <= n; ++i) sum += static_cast<double>(x[i]) * h[n - i];
    out[n] = static_cast<float>(sum);
  }
}

void TapCorrelationsPlain(const float target[kSubframeSamples],
                          const float filtered[kAdaptiveTaps][kSubframeSamples],
                          float c[kTapCorrelations]) {
  int at = 0;
  for (int k = 0; k < kAdaptiveTaps; ++k) c[at++] = static_cast<float>(Dot(target, filtered[k], kN));
  for (int k = 0; k < kAdaptiveTaps; ++k) {
    for (int l = k; l < kAdaptiveTaps; ++l) {
      c[at++] = static_cast<float>(Dot(filtered[k], filtered[l], kN));
    }
  }
}

void ScoreGainsPlain(const float (*terms)[kTapCorrelations], int entries,
                     const float c[kTapCorrelations], double gains[]) {
  for (int e = 0; e < entries; ++e) {
    double gain = 0;
    for (int i = 0; i < kTapCorrelations; ++i) gain += static_cast<double>(terms[e][i]) * c[i];
    gains[e] = gain;
  }
}

#if defined(__SSE2__)
void ConvolveSubframeSse2(const float x[kSubframeSamples], const float h[kSubframeSamples],
                          float out[kSubframeSamples]) {
  // Outputs n + 1 and n share a register (lanes 0 and 1), h read backwards from a widened,
  // reversed copy: back[j] = h[kN - 1 - j], so back + kN - 2 - n + i holds h[n + 1 - i] and
  // h[n - i]. Two such pairs run side by side; the terms the higher outputs add past the
  // shared ones follow, still in order of i.
  double back[kN];
  for (int j = 0; j < kN; ++j) back[j] = h[kN - 1 - j];
  const auto pairTerm = [&](int n, int i) {
    return _mm_mul_pd(_mm_set1_pd(x[i]), _mm_loadu_pd(back + kN - 2 - n + i));
  };
  for (int n = 0; n < kN; n += 4) {
    __m128d low = _mm_setzero_pd(), high = _mm_setzero_pd();  // outputs (n+1, n), (n+3, n+2)
    for (int i = 0; i <= n; ++i) {
      low = _mm_add_pd(low, pairTerm(n, i));
      high = _mm_add_pd(high, pairTerm(n + 2, i));
    }
    high = _mm_add_pd(high, pairTerm(n + 2, n + 1));
    high = _mm_add_pd(high, pairTerm(n + 2, n + 2));
    double lanes[4];
    _mm_storeu_pd(lanes, low);
    _mm_storeu_pd(lanes + 2, high);
    const double h0 = h[0];
    out[n] = static_cast<float>(lanes[1]);
    out[n + 1] = static_cast<float>(lanes[0] + static_cast<double>(x[n + 1]) * h0);
    out[n + 2] = static_cast<float>(lanes[3]);
    out[n + 3] = static_cast<float>(lanes[2] + static_cast<double>(x[n + 3]) * h0);
  }
}
static_assert(kN % 4 == 0);

void TapCorrelationsSse2(const float target[kSubframeSamples],
                         const float filtered[kAdaptiveTaps][kSubframeSamples],
                         float c[kTapCorrelations]) {
  // Per sample the six widened values (target, filtered 0 to 4, then a zero); each of the
  // 20 sums is a broadcast value times a lane of a neighbouring pair, twelve pairs in all.
  // Pair p sums row[p] x (v[from[p]], v[from[p] + 1]); lanes a padding zero feeds are dropped.
  constexpr int kPairs = 12;
  constexpr int kRow[kPairs] = {0, 0, 0, 1, 1, 1, 2, 2, 3, 3, 4, 5};
  constexpr int kFrom[kPairs] = {1, 3, 5, 1, 3, 5, 2, 4, 3, 5, 4, 5};
  alignas(16) double v[kN][8];
  for (int n = 0; n < kN; ++n) {
    v[n][0] = target[n];
    for (int k = 0; k < kAdaptiveTaps; ++k) v[n][1 + k] = filtered[k][n];
    v[n][6] = v[n][7] = 0.0;
  }
  __m128d acc[kPairs];
  for (int p = 0; p < kPairs; ++p) acc[p] = _mm_setzero_pd();
  for (int n = 0; n < kN; ++n) {
    for (int p = 0; p < kPairs; ++p) {
      acc[p] = _mm_add_pd(acc[p], _mm_mul_pd(_mm_set1_pd(v[n][kRow[p]]), _mm_loadu_pd(&v[n][kFrom[p]])));
    }
  }
  double sums[2 * kPairs];
  for (int p = 0; p < kPairs; ++p) _mm_storeu_pd(sums + 2 * p, acc[p]);
  // Where each correlation's sum landed: target x filtered k, then filtered k x filtered l.
  constexpr int kLane[kTapCorrelations] = {0,  1,  2,  3,  4,                 // target row
                                           6,  7,  8,  9,  10,                // filtered 0
                                           12, 13, 14, 15,                    // filtered 1
                                           16, 17, 18,                        // filtered 2
                                           20, 21,                            // filtered 3
                                           22};                               // filtered 4
  for (int i = 0; i < kTapCorrelations; ++i) c[i] = static_cast<float>(sums[kLane[i]]);
}

void ScoreGainsSse2(const float (*terms)[kTapCorrelations], int entries,
                    const float c[kTapCorrelations], double gains[]) {
  // Entries e and e + 1 in the two lanes, their terms interleaved four at a time.
  static_assert(kTapCorrelations % 4 == 0);
  __m128d wideC[kTapCorrelations];
  for (int i = 0; i < kTapCorrelations; ++i) wideC[i] = _mm_set1_pd(c[i]);
  int e = 0;
  for (; e + 2 <= entries; e += 2) {
    __m128d sum = _mm_setzero_pd();
    for (int i = 0; i < kTapCorrelations; i += 4) {
      const __m128 a = _mm_loadu_ps(terms[e] + i), b = _mm_loadu_ps(terms[e + 1] + i);
      const __m128 low = _mm_unpacklo_ps(a, b), high = _mm_unpackhi_ps(a, b);
      sum = _mm_add_pd(sum, _mm_mul_pd(_mm_cvtps_pd(low), wideC[i]));
      sum = _mm_add_pd(sum, _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(low, low)), wideC[i + 1]));
      sum = _mm_add_pd(sum, _mm_mul_pd(_mm_cvtps_pd(high), wideC[i + 2]));
      sum = _mm_add_pd(sum, _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(high, high)), wideC[i + 3]));
    }
    _mm_storeu_pd(gains + e, sum);
  }
  if (e < entries) ScoreGainsPlain(terms + e, entries - e, c, gains + e);
}
#endif

const SpeechEncoderKernels kPlainSpeechEncoderKernels = {ConvolveSubframePlain,
                                                         TapCorrelationsPlain, ScoreGainsPlain};
#if defined(__SSE2__)
const SpeechEncoderKernels kSse2SpeechEncoderKernels = {ConvolveSubframeSse2,
                                                        TapCorrelationsSse2, ScoreGainsSse2};
#endif

// Filled before any code runs (constant initialisation), so an encoder built during another
// file's start-up already finds it.
constinit SpeechEncoderKernels speechEncoderKernels = {
#if defined(__SSE2__)
    ConvolveSubframeSse2, TapCorrelationsSse2, ScoreGainsSse2,
#else
    ConvolveSubframePlain, TapCorrelationsPlain, ScoreGainsPlain,
#endif
};

}  // namespace clipnote::speech
