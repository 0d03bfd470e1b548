#include "audio/encoder/comfort_noise_level.h"

#include <cmath>

namespace clipnote::speech {

namespace {

constexpr int kMaxSteps = 24;
constexpr int kLastGainIndex = 63;

}  // namespace

double LevelDifference(double power, double targetPower) {
  return 10.0 * std::log10((power + 1.0) / (targetPower + 1.0));
}

int ChooseSidGain(int estimate, double targetPower, ComfortNoiseTrial& trial) {
  int best = estimate;
  double bestError = LevelDifference(trial.DecodedPower(estimate), targetPower);
  if (!std::isfinite(bestError)) return estimate;
  const int step = bestError > 0 ? -1 : 1;
  for (int i = 1, index = estimate + step; i <= kMaxSteps && index >= 0 && index <= kLastGainIndex;
       ++i, index += step) {
    const double error = LevelDifference(trial.DecodedPower(index), targetPower);
    if (!(std::fabs(error) < std::fabs(bestError))) break;
    best = index;
    bestError = error;
  }
  return best;
}

}  // namespace clipnote::speech
