#include "audio/encoder/open_loop_pitch.h"

#include "audio/correlation.h"
#include "audio/encoder/encoder_kernels.h"

namespace clipnote::speech {

int OpenLoopPitch(const float* weighted) {
  constexpr int kLags = kMaximumPitchLag - kMinimumPitchLag + 1;
  double score[kLags];
  // correlations[k]: the half frame against itself kMaximumPitchLag - k samples back.
  double correlations[kLags];
  speechEncoderKernels.correlateLags(weighted, weighted - kMaximumPitchLag, kHalfFrameSamples, kLags,
                                     correlations);
  // Energy of the lagged segment, slid by one sample per lag.
  double energy = Dot(weighted - kMinimumPitchLag, weighted - kMinimumPitchLag, kHalfFrameSamples);
  int best = -1;
  for (int i = 0; i < kLags; ++i) {
    const int lag = kMinimumPitchLag + i;
    const float* lagged = weighted - lag;
    if (i > 0) {
      const double added = lagged[0];
      const double dropped = lagged[kHalfFrameSamples];
      energy += added * added - dropped * dropped;
    }
    const double c = correlations[kLags - 1 - i];
    score[i] = (c > 0 && energy > 1.0) ? c * c / energy : 0.0;
    if (score[i] > 0 && (best < 0 || score[i] > score[best])) best = i;
  }
  if (best < 0) return 60;
  // A multiple of the true period correlates as well as the period itself; prefer the
  // shortest lag whose neighbourhood scores nearly as well as the best.
  const int bestLag = kMinimumPitchLag + best;
  for (int divisor = 4; divisor >= 2; --divisor) {
    const int centre = (bestLag + divisor / 2) / divisor;
    int pick = -1;
    for (int lag = centre - 1; lag <= centre + 1; ++lag) {
      if (lag < kMinimumPitchLag || lag > kMaximumPitchLag) continue;
      const int k = lag - kMinimumPitchLag;
      if (pick < 0 || score[k] > score[pick]) pick = k;
    }
    if (pick >= 0 && score[pick] >= 0.85 * score[best]) return kMinimumPitchLag + pick;
  }
  return bestLag;
}

}  // namespace clipnote::speech
