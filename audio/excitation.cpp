#include "audio/excitation.h"

#include <algorithm>
#include <cstdint>

#include "audio/excitation_tables.h"
#include "audio/speech_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace clipnote::speech {

namespace {

constexpr int kSlots = 30;           // pulse slots per grid in a subframe
constexpr int kAlgebraicSpan = 64;   // 5.3 kbit/s pulses address 0..63; 60..63 are dropped
constexpr int kPulseTrainLagLimit = 60;
constexpr int kSharpeningLagLimit = 58;
constexpr int kSmallGainTableLagLimit = 58;

float PulseAmplitude(int amplitudeIndex) {
  if (amplitudeIndex < 0 || amplitudeIndex >= kFixedGainCount) return 0.0f;
  return FixedGainTable[amplitudeIndex];
}

void DecodeMultipulse(float out[kSubframeSamples], const SubframeParams& sub, int lag,
                      int subframe) {
  const int32_t maxPosition = MaxPositionTable[subframe];
  if (sub.positions < 0 || sub.positions >= maxPosition) return;  // invalid code: zero vector

  const float amplitude = PulseAmplitude(sub.amplitudeIndex);
  const int grid = sub.grid & 1;
  int pulsesLeft = PulseCountTable[subframe];
  int row = kBinomialRows - pulsesLeft;
  int32_t code = sub.positions;
  for (int slot = 0; slot < kSlots && row < kBinomialRows; ++slot) {
    const int32_t weight = BinomialTable.value[row][slot];
    if (code >= weight) {
      code -= weight;
      continue;
    }
    --pulsesLeft;
    const bool negative = (static_cast<uint32_t>(sub.signs) >> pulsesLeft) & 1u;
    out[grid + 2 * slot] = negative ? -amplitude : amplitude;
    ++row;
  }

  // Voiced subframes with a short lag: the pulses repeat every lag samples, each
  // repetition taken from the pulses alone.
  if (sub.pulseTrain == 1 && lag > 0 && lag < kPulseTrainLagLimit) {
    float pulses[kSubframeSamples];
    std::copy(out, out + kSubframeSamples, pulses);
    for (int shift = lag; shift < kSubframeSamples; shift += lag) {
      for (int j = shift; j < kSubframeSamples; ++j) out[j] += pulses[j - shift];
    }
  }
}

void DecodeAlgebraic(float out[kSubframeSamples], const SubframeParams& sub, int lag) {
  float work[kAlgebraicSpan] = {};
  const float amplitude = PulseAmplitude(sub.amplitudeIndex);
  const uint32_t positions = static_cast<uint32_t>(sub.positions);
  const uint32_t signs = static_cast<uint32_t>(sub.signs);
  const int grid = sub.grid & 1;
  for (int k = 0; k < 4; ++k) {
    const int position = 8 * static_cast<int>((positions >> (3 * k)) & 7u) + 2 * k + grid;
    work[position] = ((signs >> k) & 1u) ? amplitude : -amplitude;
  }
  std::copy(work, work + kSubframeSamples, out);

  // Pitch sharpening, in place so that a sharpened sample feeds the later ones.
  if (sub.gainIndex < 0 || sub.gainIndex >= 170) return;
  const int period = lag + sub.lagDelta - 1 + SharpeningLagTable[sub.gainIndex];
  const float gain = SharpeningGainTable[sub.gainIndex];
  if (period <= 0 || period >= kSharpeningLagLimit) return;
  for (int j = period; j < kSubframeSamples; ++j) {
    out[j] = static_cast<float>(out[j] + static_cast<double>(gain) * out[j - period]);
  }
}

}  // namespace

void DecodeFixedVector(float out[kSubframeSamples], const SubframeParams& sub, int openLoopLag,
                       int subframe, Rate rate) {
  std::fill(out, out + kSubframeSamples, 0.0f);
  if (rate == Rate::Rate63) {
    DecodeMultipulse(out, sub, openLoopLag, subframe & 3);
  } else {
    DecodeAlgebraic(out, sub, openLoopLag);
  }
}

void DecodeAdaptiveVector(float out[kSubframeSamples], const float history[kHistorySamples],
                          int indexOffset, int openLoopLag, int lagDelta, int gainIndex,
                          Rate rate) {
  const bool smallTable = rate == Rate::Rate63 && openLoopLag < kSmallGainTableLagLimit;
  const int entries = smallTable ? 85 : 170;
  if (gainIndex < 0 || gainIndex >= entries) {
    std::fill(out, out + kSubframeSamples, 0.0f);
    return;
  }
  const float* taps = smallTable ? AdaptiveGainTable85[gainIndex] : AdaptiveGainTable170[gainIndex];

  // Every lag a valid frame produces reads within history. Damaged parameters are held to
  // the lags this offset can serve: any lag with offset 0 up to 143; with an offset, only
  // lags of at least 62 (no periodic repetition) that still end within history.
  const int offset = std::clamp(indexOffset, 0, kHistorySamples - 64);
  const int minLag = offset == 0 ? 1 : offset + 62;
  const int maxLag = offset + 143;
  const int lag = std::clamp(openLoopLag + lagDelta - 1, minLag, maxLag);

  // The lagged past, each sample widened (exactly) once, not once per product.
  double wideLagged[kSubframeSamples + 4];
  wideLagged[0] = history[offset + 143 - lag];
  wideLagged[1] = history[offset + 144 - lag];
  // The last lag samples of history, repeated as often as the subframe needs them.
  const float* const period = history + offset + 145 - lag;
  for (int i = 0; i < kSubframeSamples + 2; i += lag) {
    std::copy(period, period + std::min(lag, kSubframeSamples + 2 - i), wideLagged + 2 + i);
  }
  speechKernels.filterAdaptiveTaps(wideLagged, taps, out);
}

void FilterAdaptiveTapsPlain(const double lagged[kSubframeSamples + 4], const float taps[],
                             float out[kSubframeSamples]) {
  double wideTaps[kAdaptiveTaps];
  std::copy(taps, taps + kAdaptiveTaps, wideTaps);
  for (int i = 0; i < kSubframeSamples; ++i) {
    double sum = 0.0;
    for (int k = 0; k < kAdaptiveTaps; ++k) sum += lagged[i + k] * wideTaps[k];
    out[i] = static_cast<float>(sum);
  }
}

#if defined(__SSE2__)
void FilterAdaptiveTapsSse2(const double lagged[kSubframeSamples + 4], const float taps[],
                            float out[kSubframeSamples]) {
  // Two neighbouring samples at a time: packed products and additions round each lane as the
  // scalar ones do, and each sample's taps are still added in order.
  // The taps are loaded before the loop: out might, as far as the compiler knows, overlap them.
  __m128d wideTaps[kAdaptiveTaps];
  for (int k = 0; k < kAdaptiveTaps; ++k) wideTaps[k] = _mm_set1_pd(taps[k]);
  for (int i = 0; i < kSubframeSamples; i += 2) {
    __m128d sum = _mm_setzero_pd();
    for (int k = 0; k < kAdaptiveTaps; ++k) {
      sum = _mm_add_pd(sum, _mm_mul_pd(_mm_loadu_pd(lagged + i + k), wideTaps[k]));
    }
    _mm_storel_pi(reinterpret_cast<__m64*>(out + i), _mm_cvtpd_ps(sum));
  }
}
#endif

}  // namespace clipnote::speech
