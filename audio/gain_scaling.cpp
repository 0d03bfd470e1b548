#include "audio/gain_scaling.h"

#include <cmath>
#include <limits>

#include "audio/decoder_state.h"

void ScaleGain(float samples[kSubframeSamples], float energyBefore) {
  double sum = 0.0;
  for (int n = 0; n < kSubframeSamples; ++n) sum += static_cast<double>(samples[n]) * samples[n];
  const float energyAfter = static_cast<float>(sum);

  // One sixteenth of the target gain per sample: the smoothed gain settles on
  // sqrt(before / after) with a time constant of 16 samples.
  const float step = energyAfter > std::numeric_limits<float>::min()
                         ? std::sqrt(energyBefore / energyAfter) * 0.0625f
                         : 0.0625f;
  float& gain = decoderState.scaleGain;
  for (int n = 0; n < kSubframeSamples; ++n) {
    gain = 0.9375f * gain + step;
    samples[n] = samples[n] * gain * 1.0625f;
  }
}
