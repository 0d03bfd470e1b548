#include "audio/gain_scaling.h"

#include <cmath>
#include <limits>

#include "audio/decoder_state.h"

namespace clipnote::speech {

float SubframeEnergy(const float samples[kSubframeSamples]) {
  double sum = 0.0;
  for (int n = 0; n < kSubframeSamples; ++n) sum += static_cast<double>(samples[n]) * samples[n];
  return static_cast<float>(sum);
}

// One sixteenth of the target gain per sample: the smoothed gain settles on
// sqrt(before / after) with a time constant of 16 samples.
float GainStep(float energyBefore, float energyAfter) {
  if (!(energyAfter > std::numeric_limits<float>::min())) return 0.0625f;
  return static_cast<float>(std::sqrt(static_cast<double>(energyBefore) / energyAfter) * 0.0625);
}

void ScaleGain(float samples[kSubframeSamples], float energyBefore) {
  const float step = GainStep(energyBefore, SubframeEnergy(samples));
  float& gain = decoderState.scaleGain;
  for (int n = 0; n < kSubframeSamples; ++n) samples[n] = ApplySmoothedGain(samples[n], gain, step);
}

}  // namespace clipnote::speech
