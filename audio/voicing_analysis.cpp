#include "audio/voicing_analysis.h"

#include <algorithm>

#include "audio/correlation.h"

namespace clipnote::speech {

namespace {

// The last 120 samples of the frame inside E.
constexpr int kAnalysisStart = kHistorySamples + kFrameSamples / 2;
constexpr int kAnalysisLength = kFrameSamples / 2;
constexpr int kMaxLag = 142;
constexpr int kSearchSpan = 3;

}  // namespace

Voicing AnalyseVoicing(const float excitation[kExcitationSamples], int openLoopLag) {
  // Held to 18..142 so that every lagged sample lies inside E, whatever the caller passes.
  const int centre = std::clamp(openLoopLag, 18, kMaxLag);
  const float* current = excitation + kAnalysisStart;
  double sums[2 * kSearchSpan + 1];  // [k]: lag centre + 3 - k
  CorrelateShifts(current, current - (centre + kSearchSpan), kAnalysisLength,
                  2 * kSearchSpan + 1, sums);
  float bestCorrelation = 0;
  int lag = centre;
  for (int i = centre - kSearchSpan; i <= centre + kSearchSpan; ++i) {
    const float r = static_cast<float>(sums[centre + kSearchSpan - i]);
    if (r > bestCorrelation) {
      bestCorrelation = r;
      lag = i;
    }
  }
  Voicing voicing;
  const float* const stretches[2] = {current, current - lag};
  double energies[2];
  DotsSideBySide(stretches, stretches, 2, kAnalysisLength, energies);
  voicing.energy = static_cast<float>(energies[0]);
  const float lagEnergy = static_cast<float>(energies[1]);
  const double criterion = 0.125 * static_cast<double>(lagEnergy) * voicing.energy -
                           static_cast<double>(bestCorrelation) * bestCorrelation;
  voicing.concealLag = bestCorrelation > 0 && criterion < 0 ? lag : 0;
  return voicing;
}

}  // namespace clipnote::speech
