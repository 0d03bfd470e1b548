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

  float zero[kLpcOrder];
  float pole[kLpcOrder];
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
  for (int n = 0; n < kSubframeSamples; ++n) {
    const float x = samples[n];
    double zeroSum = x;
    for (int j = 0; j < kLpcOrder; ++j) zeroSum -= static_cast<double>(zero[j]) * zeroMemory[j];
    const float u = static_cast<float>(zeroSum);
    std::copy_backward(zeroMemory.begin(), zeroMemory.end() - 1, zeroMemory.end());
    zeroMemory[0] = x;

    double poleSum = u;
    for (int j = 0; j < kLpcOrder; ++j) poleSum += static_cast<double>(pole[j]) * poleMemory[j];
    const float v = static_cast<float>(poleSum);
    std::copy_backward(poleMemory.begin(), poleMemory.end() - 1, poleMemory.end());
    samples[n] = v + tilt * poleMemory[1];  // poleMemory[1] is the previous v
    poleMemory[0] = v;
  }
  return r0;
}
