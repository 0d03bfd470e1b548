#include "audio/pitch_postfilter.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "audio/correlation.h"

namespace clipnote::speech {

namespace {

constexpr float kTiny = std::numeric_limits<float>::min();  // smallest normal single
constexpr int kMaxLag = 142;
constexpr int kSearchRadius = 3;

// Best lag of a search: the first of the strictly largest positive correlations, 0 if none.
struct LagSearch {
  int lag = 0;
  float best = 0.0f;
};

}  // namespace

PitchPostfilterSet PitchPostfilterParams(const float excitation[kExcitationSamples],
                                         int openLoopLag, int subframe, Rate rate) {
  const int s = std::clamp(subframe, 0, kSubframesPerFrame - 1);
  // Lags from valid frames are 18..141; the lower bound only keeps a damaged lag's search
  // from looking at the subframe itself or past the frame.
  const int centre = std::clamp(openLoopLag, kSearchRadius + 1, kMaxLag);
  const int start = kHistorySamples + kSubframeSamples * s;
  const float* current = excitation + start;

  // Correlations with every candidate lag: backward ones at current - i, forward ones at
  // current + i, both for i from centre - 3 up; a forward lag must end within the frame.
  constexpr int kCandidates = 2 * kSearchRadius + 1;
  const int lowest = centre - kSearchRadius;
  double backwardSums[kCandidates];  // [k]: lag centre + 3 - k
  CorrelateShifts(current, current - (centre + kSearchRadius), kSubframeSamples, kCandidates,
                  backwardSums);
  const int forwardCount =
      std::clamp(kFrameSamples - kSubframeSamples * (s + 1) - lowest + 1, 0, kCandidates);
  double forwardSums[kCandidates];  // [k]: lag centre - 3 + k
  CorrelateShifts(current, current + lowest, kSubframeSamples, forwardCount, forwardSums);

  LagSearch backward;
  LagSearch forward;
  double backwardSum = 0.0;
  double forwardSum = 0.0;
  for (int i = lowest; i <= centre + kSearchRadius; ++i) {
    const double sum = backwardSums[centre + kSearchRadius - i];
    const float r = static_cast<float>(sum);
    if (r > backward.best) {
      backward.best = r;
      backward.lag = i;
      backwardSum = sum;
    }
  }
  for (int i = lowest; i < lowest + forwardCount; ++i) {
    const double sum = forwardSums[i - lowest];
    const float r = static_cast<float>(sum);
    if (r > forward.best) {
      forward.best = r;
      forward.lag = i;
      forwardSum = sum;
    }
  }
  if (backward.lag == 0 && forward.lag == 0) return {};

  // Energies of the subframe and of the chosen lagged stretches.
  const float* const backwardLagged = current - backward.lag;
  const float* const forwardLagged = current + forward.lag;
  const float* const stretches[3] = {current, backward.lag != 0 ? backwardLagged : forwardLagged,
                                     forwardLagged};
  const int stretchCount = 1 + (backward.lag != 0) + (forward.lag != 0);
  double energies[3] = {};
  DotsSideBySide(stretches, stretches, stretchCount, kSubframeSamples, energies);
  const float e0 = static_cast<float>(energies[0]);
  float cb = 0.0f, eb = 0.0f, cf = 0.0f, ef = 0.0f;
  if (backward.lag != 0) {
    cb = static_cast<float>(backwardSum);
    eb = static_cast<float>(energies[1]);
  }
  if (forward.lag != 0) {
    cf = static_cast<float>(forwardSum);
    ef = static_cast<float>(energies[stretchCount - 1]);
  }

  bool useForward = forward.lag != 0;
  if (forward.lag != 0 && backward.lag != 0) {
    useForward = static_cast<double>(cf) * cf * eb >= static_cast<double>(cb) * cb * ef;
  }
  const int lag = useForward ? forward.lag : -backward.lag;
  const float cx = useForward ? cf : cb;
  const float ex = useForward ? ef : eb;

  PitchPostfilterSet set;
  set.lag = lag;
  // A normalised correlation of at most one half is too weak to be worth filtering.
  if (0.25 * ex * e0 >= static_cast<double>(cx) * cx) return set;

  // Every parameter is formed in double and rounded once, as it is stored.
  const double k = rate == Rate::Rate63 ? 0.1875 : 0.25;
  const float g = static_cast<float>(cx >= ex ? k : cx / static_cast<double>(ex) * k);
  const double d = e0 + g * (static_cast<double>(g) * ex + 2.0 * cx);
  const float scale = std::fabs(d) < kTiny ? 0.0f : static_cast<float>(std::sqrt(e0 / d));
  set.gain = g * scale;
  set.scale = scale;
  return set;
}

void ApplyPitchPostfilter(float samples[kFrameSamples],
                          const float excitation[kExcitationSamples],
                          const PitchPostfilterSet& set, int subframe) {
  const int s = std::clamp(subframe, 0, kSubframesPerFrame - 1);
  const int start = kHistorySamples + kSubframeSamples * s;
  const int lagged = start + set.lag;
  const bool lagInside = lagged >= 0 && lagged + kSubframeSamples <= kExcitationSamples;
  float* out = samples + kSubframeSamples * s;
  // The mix is summed in double and rounded once.
  const double gain = set.gain;
  const double scale = set.scale;
  for (int n = 0; n < kSubframeSamples; ++n) {
    const double own = scale * excitation[start + n];
    out[n] = static_cast<float>(lagInside ? gain * excitation[lagged + n] + own : own);
  }
}

}  // namespace clipnote::speech
