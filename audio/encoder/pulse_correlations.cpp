#include "audio/encoder/pulse_correlations.h"

namespace clipnote::speech {

void ComputePulseCorrelations(const float target[kSubframeSamples], const float h[kSubframeSamples],
                              PulseCorrelations& out) {
  constexpr int n = kSubframeSamples;
  for (int k = 0; k < n; ++k) {
    double sum = 0;
    for (int i = k; i < n; ++i) sum += static_cast<double>(target[i]) * h[i - k];
    out.d[k] = static_cast<float>(sum);
  }
  // phi[m][m + k] = sum over j = 0 .. n - 1 - (m + k) of h[j + k] h[j]: running sums from the
  // end give every m of one k in one pass.
  for (int k = 0; k < n; ++k) {
    double sum = 0;
    for (int m = n - 1 - k; m >= 0; --m) {
      const int j = n - 1 - (m + k);
      sum += static_cast<double>(h[j + k]) * h[j];
      out.phi[m][m + k] = static_cast<float>(sum);
      out.phi[m + k][m] = static_cast<float>(sum);
    }
  }
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
