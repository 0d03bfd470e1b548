#include "audio/formant_postfilter.h"

#include <algorithm>
#include <limits>

#include "audio/decoder_state.h"

namespace {

struct Weights {
  float zero[kLpcOrder];
  float pole[kLpcOrder];
};

// Powers 1..10 of the zero and pole bandwidth factors, each rounded to single precision.
constexpr Weights MakeWeights() {
  Weights w{};
  double zero = 1.0;
  double pole = 1.0;
  for (int j = 0; j < kLpcOrder; ++j) {
    zero *= 0.65;
    pole *= 0.75;
    w.zero[j] = static_cast<float>(zero);
    w.pole[j] = static_cast<float>(pole);
  }
  return w;
}
constexpr Weights kWeights = MakeWeights();

constexpr float kTiny = std::numeric_limits<float>::min();  // smallest normal single

}  // namespace

float FormantPostfilter(float samples[kSubframeSamples], const LpcSet& lpc) {
  DecoderState& state = decoderState;

  // Single-precision coefficients, widened (exactly) for the double sums.
  double zero[kLpcOrder];
  double pole[kLpcOrder];
  for (int j = 0; j < kLpcOrder; ++j) {
    zero[j] = lpc[j] * kWeights.zero[j];
    pole[j] = lpc[j] * kWeights.pole[j];
  }

  double lag1 = 0.0;
  double lag0 = 0.0;
  for (int n = 0; n < kSubframeSamples - 1; ++n) {
    lag1 += static_cast<double>(samples[n]) * samples[n + 1];
  }
  for (int n = 0; n < kSubframeSamples; ++n) {
    lag0 += static_cast<double>(samples[n]) * samples[n];
  }
  const float r1 = static_cast<float>(lag1);
  const float r0 = static_cast<float>(lag0);

  const float k1 = r0 > kTiny ? r1 / r0 : 0.0f;
  state.tiltState = 0.75f * state.tiltState + 0.25f * k1;
  const float tilt = -0.25f * state.tiltState;

  auto& zeroMemory = state.postZeroMemory;  // past inputs, newest first
  auto& poleMemory = state.postPoleMemory;  // past pole-section outputs, newest first
  // Inputs and pole outputs run on from the memories in time order, so the sample j + 1
  // back from n is at index n + 9 - j, and nothing is shifted per sample. Both are single
  // precision values, kept widened to double (exactly) as the sums use them.
  double inputs[kLpcOrder + kSubframeSamples];
  double poles[kLpcOrder + kSubframeSamples];
  std::reverse_copy(zeroMemory.begin(), zeroMemory.end(), inputs);
  std::reverse_copy(poleMemory.begin(), poleMemory.end(), poles);
  std::copy(samples, samples + kSubframeSamples, inputs + kLpcOrder);
  for (int n = 0; n < kSubframeSamples; ++n) {
    const double* newestInput = inputs + n + kLpcOrder - 1;
    const double* newestPole = poles + n + kLpcOrder - 1;
    double zeroSum = inputs[n + kLpcOrder];
    for (int j = 0; j < kLpcOrder; ++j) zeroSum -= zero[j] * newestInput[-j];
    const float u = static_cast<float>(zeroSum);

    double poleSum = u;
    for (int j = 0; j < kLpcOrder; ++j) poleSum += pole[j] * newestPole[-j];
    const float v = static_cast<float>(poleSum);
    samples[n] = v + tilt * static_cast<float>(newestPole[0]);  // the previous v
    poles[n + kLpcOrder] = v;
  }
  std::reverse_copy(inputs + kSubframeSamples, inputs + kSubframeSamples + kLpcOrder,
                    zeroMemory.begin());
  std::reverse_copy(poles + kSubframeSamples, poles + kSubframeSamples + kLpcOrder,
                    poleMemory.begin());
  return r0;
}
