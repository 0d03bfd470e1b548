#include "audio/encoder/pulse_correlations.h"

#include "audio/encoder/encoder_kernels.h"

namespace clipnote::speech {

void ComputePulseCorrelations(const float target[kSubframeSamples], const float h[kSubframeSamples],
                              PulseCorrelations& out) {
  speechEncoderKernels.pulseCorrelations(target, h, out);
}

double PulseError(const PulseCorrelations& c, double targetEnergy, const int positions[],
                  const float signs[], int count, double g) {
  double cross = 0, energy = 0;
  for (int i = 0; i < count; ++i) {
    cross += signs[i] * c.d[positions[i]];
    for (int j = 0; j < count; ++j) {
      energy += signs[i] * signs[j] * c.phi[positions[i]][positions[j]];
    }
  }
  return targetEnergy - 2 * g * cross + g * g * energy;
}

}  // namespace clipnote::speech
