#include "audio/encoder/encoder_kernels.h"

#include <limits>

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

void CorrelateLagsPlain(const float* x, const float* y, int length, int count, double sums[]) {
  for (int k = 0; k < count; ++k) sums[k] = Dot(x, y + k, length);
}

void PulseCorrelationsPlain(const float target[kSubframeSamples], const float h[kSubframeSamples],
                            PulseCorrelations& out) {
  for (int k = 0; k < kN; ++k) {
    double sum = 0;
    for (int i = k; i < kN; ++i) sum += static_cast<double>(target[i]) * h[i - k];
    out.d[k] = static_cast<float>(sum);
  }
  // phi[m][m + k] = sum over j = 0 .. n - 1 - (m + k) of h[j + k] h[j]: running sums from the
  // end give every m of one k in one pass.
  for (int k = 0; k < kN; ++k) {
    double sum = 0;
    for (int m = kN - 1 - k; m >= 0; --m) {
      const int j = kN - 1 - (m + k);
      sum += static_cast<double>(h[j + k]) * h[j];
      out.phi[m][m + k] = static_cast<float>(sum);
      out.phi[m + k][m] = static_cast<float>(sum);
    }
  }
}

void ScoreLastPulsePlain(double c, double e, const double gain[kTrackPositions],
                         const double self[kTrackPositions], const double a[kTrackPositions],
                         const double b[kTrackPositions], const double cross[kTrackPositions],
                         double scores[kTrackPositions]) {
  for (int q = 0; q < kTrackPositions; ++q) {
    const double c3 = c + gain[q];
    const double e3 = e + self[q] + 2 * (a[q] + b[q] + cross[q]);
    scores[q] = e3 > 0 ? c3 * c3 / e3 : -std::numeric_limits<double>::infinity();
  }
}

#if defined(__SSE2__)
namespace {

// Outputs n to n + 2 kPairs - 1 of ConvolveSubframeSse2: outputs m + 1 and m share a register
// (lanes 0 and 1), h read backwards from a widened, reversed copy: back[j] = h[kN - 1 - j],
// so back + kN - 2 - m + i holds h[m + 1 - i] and h[m - i]. The pairs run side by side over
// the terms they share; each then adds its own further terms, still in order of i, and the
// upper lane its last one alone.
template <int kPairs>
void ConvolveOutputs(const float* x, const double* back, int n, float* out) {
  const auto term = [&](int m, int i) {
    return _mm_mul_pd(_mm_set1_pd(x[i]), _mm_loadu_pd(back + kN - 2 - m + i));
  };
  __m128d acc[kPairs];
  for (int p = 0; p < kPairs; ++p) acc[p] = _mm_setzero_pd();
  for (int i = 0; i <= n; ++i) {
    for (int p = 0; p < kPairs; ++p) acc[p] = _mm_add_pd(acc[p], term(n + 2 * p, i));
  }
  for (int p = 1; p < kPairs; ++p) {
    for (int i = n + 1; i <= n + 2 * p; ++i) acc[p] = _mm_add_pd(acc[p], term(n + 2 * p, i));
  }
  const double h0 = back[kN - 1];
  for (int p = 0; p < kPairs; ++p) {
    double lanes[2];
    _mm_storeu_pd(lanes, acc[p]);
    const int m = n + 2 * p;
    out[m] = static_cast<float>(lanes[1]);
    out[m + 1] = static_cast<float>(lanes[0] + static_cast<double>(x[m + 1]) * h0);
  }
}

}  // namespace

void ConvolveSubframeSse2(const float x[kSubframeSamples], const float h[kSubframeSamples],
                          float out[kSubframeSamples]) {
  double back[kN];
  for (int j = 0; j < kN; ++j) back[j] = h[kN - 1 - j];
  int n = 0;
  for (; n + 8 <= kN; n += 8) ConvolveOutputs<4>(x, back, n, out);
  for (; n < kN; n += 2) ConvolveOutputs<1>(x, back, n, out);
}
static_assert(kN % 2 == 0);

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

void CorrelateLagsSse2(const float* x, const float* y, int length, int count, double sums[]) {
  // Lags k and k + 1 share a register, eight lags side by side; y is widened (exactly) once.
  constexpr int kMaxSpan = 512;
  if (length <= 0 || length + count - 1 > kMaxSpan) return CorrelateLagsPlain(x, y, length, count, sums);
  double wide[kMaxSpan];
  for (int n = 0; n < length + count - 1; ++n) wide[n] = y[n];
  const auto term = [&](int n, int k) {
    return _mm_mul_pd(_mm_set1_pd(x[n]), _mm_loadu_pd(wide + n + k));
  };
  int k = 0;
  for (; k + 8 <= count; k += 8) {
    __m128d a = _mm_setzero_pd(), b = a, c = a, d = a;
    for (int n = 0; n < length; ++n) {
      a = _mm_add_pd(a, term(n, k));
      b = _mm_add_pd(b, term(n, k + 2));
      c = _mm_add_pd(c, term(n, k + 4));
      d = _mm_add_pd(d, term(n, k + 6));
    }
    _mm_storeu_pd(sums + k, a);
    _mm_storeu_pd(sums + k + 2, b);
    _mm_storeu_pd(sums + k + 4, c);
    _mm_storeu_pd(sums + k + 6, d);
  }
  for (; k + 2 <= count; k += 2) {
    __m128d a = _mm_setzero_pd();
    for (int n = 0; n < length; ++n) a = _mm_add_pd(a, term(n, k));
    _mm_storeu_pd(sums + k, a);
  }
  if (k < count) sums[k] = Dot(x, y + k, length);
}

void PulseCorrelationsSse2(const float target[kSubframeSamples], const float h[kSubframeSamples],
                           PulseCorrelations& out) {
  double wideH[kN];
  for (int i = 0; i < kN; ++i) wideH[i] = h[i];
  // d: shifts k + 1 and k in lanes 0 and 1 (wideH + i - k - 1 holds h[i - k - 1], h[i - k]).
  // Shift k's first term, at i = k, comes alone; from i = k + 1 both add in order of i.
  for (int k = 0; k < kN; k += 2) {
    __m128d sum = _mm_add_pd(_mm_setzero_pd(),
                             _mm_set_pd(static_cast<double>(target[k]) * wideH[0], 0.0));
    for (int i = k + 1; i < kN; ++i) {
      sum = _mm_add_pd(sum, _mm_mul_pd(_mm_set1_pd(target[i]), _mm_loadu_pd(wideH + i - k - 1)));
    }
    double lanes[2];
    _mm_storeu_pd(lanes, sum);
    out.d[k + 1] = static_cast<float>(lanes[0]);
    out.d[k] = static_cast<float>(lanes[1]);
  }
  // phi: diagonals k and k + 1 in lanes 0 and 1, term j being h[j + k] h[j] and
  // h[j + k + 1] h[j]; diagonal k has one term more, at the end.
  for (int k = 0; k < kN; k += 2) {
    __m128d sum = _mm_setzero_pd();
    for (int j = 0; j <= kN - 2 - k; ++j) {
      sum = _mm_add_pd(sum, _mm_mul_pd(_mm_loadu_pd(wideH + j + k), _mm_set1_pd(wideH[j])));
      double lanes[2];
      _mm_storeu_pd(lanes, sum);
      const int m = kN - 1 - k - j;  // where diagonal k's running sum belongs
      out.phi[m][m + k] = out.phi[m + k][m] = static_cast<float>(lanes[0]);
      out.phi[m - 1][m + k] = out.phi[m + k][m - 1] = static_cast<float>(lanes[1]);
    }
    double last;
    _mm_storel_pd(&last, sum);
    last += wideH[kN - 1] * wideH[kN - 1 - k];
    out.phi[0][k] = out.phi[k][0] = static_cast<float>(last);
  }
}

void ScoreLastPulseSse2(double c, double e, const double gain[kTrackPositions],
                        const double self[kTrackPositions], const double a[kTrackPositions],
                        const double b[kTrackPositions], const double cross[kTrackPositions],
                        double scores[kTrackPositions]) {
  // Two positions a register; packed divisions round as the scalar ones do.
  const __m128d wideC = _mm_set1_pd(c), wideE = _mm_set1_pd(e), two = _mm_set1_pd(2.0);
  const __m128d none = _mm_set1_pd(-std::numeric_limits<double>::infinity());
  for (int q = 0; q < kTrackPositions; q += 2) {
    const __m128d c3 = _mm_add_pd(wideC, _mm_loadu_pd(gain + q));
    const __m128d sum = _mm_add_pd(_mm_add_pd(_mm_loadu_pd(a + q), _mm_loadu_pd(b + q)),
                                   _mm_loadu_pd(cross + q));
    const __m128d e3 = _mm_add_pd(_mm_add_pd(wideE, _mm_loadu_pd(self + q)), _mm_mul_pd(two, sum));
    const __m128d score = _mm_div_pd(_mm_mul_pd(c3, c3), e3);
    const __m128d positive = _mm_cmpgt_pd(e3, _mm_setzero_pd());
    _mm_storeu_pd(scores + q, _mm_or_pd(_mm_and_pd(positive, score), _mm_andnot_pd(positive, none)));
  }
}
static_assert(kTrackPositions % 2 == 0);
#endif

const SpeechEncoderKernels kPlainSpeechEncoderKernels = {
    ConvolveSubframePlain, TapCorrelationsPlain, ScoreGainsPlain, CorrelateLagsPlain,
    PulseCorrelationsPlain, ScoreLastPulsePlain};
#if defined(__SSE2__)
const SpeechEncoderKernels kSse2SpeechEncoderKernels = {
    ConvolveSubframeSse2, TapCorrelationsSse2, ScoreGainsSse2, CorrelateLagsSse2,
    PulseCorrelationsSse2, ScoreLastPulseSse2};
#endif

// Filled before any code runs (constant initialisation), so an encoder built during another
// file's start-up already finds it.
constinit SpeechEncoderKernels speechEncoderKernels = {
#if defined(__SSE2__)
    ConvolveSubframeSse2, TapCorrelationsSse2, ScoreGainsSse2, CorrelateLagsSse2,
    PulseCorrelationsSse2, ScoreLastPulseSse2,
#else
    ConvolveSubframePlain, TapCorrelationsPlain, ScoreGainsPlain, CorrelateLagsPlain,
    PulseCorrelationsPlain, ScoreLastPulsePlain,
#endif
};

}  // namespace clipnote::speech
