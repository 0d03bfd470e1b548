#include "audio/encoder/harmonic_noise_shaping.h"

#include <algorithm>

#include "audio/correlation.h"
#include "audio/encoder/open_loop_pitch.h"

namespace clipnote::speech {

namespace {

constexpr int kLagRange = 3;
// Shaping applies when the best lag's prediction would take at least this share of the
// subframe's energy away (its normalised correlation squared), at this share of its gain.
constexpr double kMinimumPrediction = 0.375;
constexpr float kGainShare = 0.15f;  // measured better than larger shares on the benchmark clips

}  // namespace

HarmonicShaping FindHarmonicShaping(const float* weighted, int openLoopLag) {
  HarmonicShaping best;
  const double energy = Dot(weighted, weighted, kSubframeSamples);
  if (!(energy > 1.0)) return best;
  double bestScore = 0, bestCorrelation = 0, bestLagEnergy = 0;
  const int first = std::max(kMinimumPitchLag, openLoopLag - kLagRange);
  const int last = std::min(kMaxShapingLag, openLoopLag + kLagRange);
  for (int lag = first; lag <= last; ++lag) {
    const double c = Dot(weighted, weighted - lag, kSubframeSamples);
    const double e = Dot(weighted - lag, weighted - lag, kSubframeSamples);
    if (!(c > 0) || !(e > 1.0)) continue;
    const double score = c * c / e;
    if (score > bestScore) {
      bestScore = score;
      bestCorrelation = c;
      bestLagEnergy = e;
      best.lag = lag;
    }
  }
  if (best.lag == 0 || bestScore < kMinimumPrediction * energy) return HarmonicShaping{};
  best.gain = kGainShare * static_cast<float>(std::min(1.0, bestCorrelation / bestLagEnergy));
  return best;
}

void ShapeImpulseResponse(const HarmonicShaping& shaping, float h[kSubframeSamples]) {
  if (shaping.lag == 0) return;
  for (int n = kSubframeSamples - 1; n >= shaping.lag; --n) h[n] -= shaping.gain * h[n - shaping.lag];
}

void ShapeTarget(const HarmonicShaping& shaping, const float* pastError, float target[kSubframeSamples]) {
  if (shaping.lag == 0) return;
  for (int n = kSubframeSamples - 1; n >= 0; --n) {
    const int k = n - shaping.lag;
    target[n] -= shaping.gain * (k >= 0 ? target[k] : pastError[k]);
  }
}

}  // namespace clipnote::speech
