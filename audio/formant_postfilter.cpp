#include "audio/formant_postfilter.h"

#include <algorithm>
#include <limits>

#include "audio/decoder_state.h"
#include "audio/synthesis_filter.h"

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

// The pole-zero section over one subframe, a sample at a time. Inputs and pole outputs run
// on from the memories in time order, so the sample j + 1 back from n is at index n + 9 - j,
// and nothing is shifted per sample. Both are single precision values, kept widened to
// double (exactly) as the sums use them.
class PoleZeroRun {
 public:
  explicit PoleZeroRun(const LpcSet& lpc) {
    // Single-precision coefficients, widened (exactly) for the double sums.
    for (int j = 0; j < kLpcOrder; ++j) {
      zero_[j] = lpc[j] * kWeights.zero[j];
      pole_[j] = lpc[j] * kWeights.pole[j];
    }
  }

  void Begin() {
    const DecoderState& state = decoderState;
    std::reverse_copy(state.postZeroMemory.begin(), state.postZeroMemory.end(), inputs_);
    std::reverse_copy(state.postPoleMemory.begin(), state.postPoleMemory.end(), poles_);
  }

  void Step(int n, float x) {
    inputs_[n + kLpcOrder] = x;
    const double* newestInput = inputs_ + n + kLpcOrder - 1;
    const double* newestPole = poles_ + n + kLpcOrder - 1;
    double zeroSum = x;
    for (int j = 0; j < kLpcOrder; ++j) zeroSum -= zero_[j] * newestInput[-j];
    const float u = static_cast<float>(zeroSum);
    double poleSum = u;
    for (int j = 0; j < kLpcOrder; ++j) poleSum += pole_[j] * newestPole[-j];
    poles_[n + kLpcOrder] = static_cast<float>(poleSum);
  }

  // Writes the tilt-compensated outputs and stores the memories back.
  void End(float samples[kSubframeSamples], float tilt) {
    for (int n = 0; n < kSubframeSamples; ++n) {
      const float v = static_cast<float>(poles_[n + kLpcOrder]);
      samples[n] = v + tilt * static_cast<float>(poles_[n + kLpcOrder - 1]);  // the previous v
    }
    DecoderState& state = decoderState;
    std::reverse_copy(inputs_ + kSubframeSamples, inputs_ + kSubframeSamples + kLpcOrder,
                      state.postZeroMemory.begin());
    std::reverse_copy(poles_ + kSubframeSamples, poles_ + kSubframeSamples + kLpcOrder,
                      state.postPoleMemory.begin());
  }

 private:
  double zero_[kLpcOrder];
  double pole_[kLpcOrder];
  double inputs_[kLpcOrder + kSubframeSamples];
  double poles_[kLpcOrder + kSubframeSamples];
};

// Updates the smoothed tilt from the subframe's first autocorrelation coefficient and
// returns the tilt factor; energy gets the subframe's energy.
float UpdateTilt(const float samples[kSubframeSamples], float& energy) {
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
  DecoderState& state = decoderState;
  state.tiltState = 0.75f * state.tiltState + 0.25f * k1;
  energy = r0;
  return -0.25f * state.tiltState;
}

}  // namespace

float FormantPostfilter(float samples[kSubframeSamples], const LpcSet& lpc) {
  float energy = 0.0f;
  const float tilt = UpdateTilt(samples, energy);
  PoleZeroRun run(lpc);
  run.Begin();
  for (int n = 0; n < kSubframeSamples; ++n) run.Step(n, samples[n]);
  run.End(samples, tilt);
  return energy;
}

float SynthesizeAndPostfilter(float samples[kSubframeSamples], const LpcSet& lpc) {
  SynthesisRun synthesis(lpc);
  PoleZeroRun postfilter(lpc);
  synthesis.Begin();
  postfilter.Begin();
  for (int n = 0; n < kSubframeSamples; ++n) {
    samples[n] = synthesis.Step(n, samples[n]);
    postfilter.Step(n, samples[n]);
  }
  synthesis.End();
  // The tilt depends on the whole synthesised subframe, and only the last step uses it.
  float energy = 0.0f;
  const float tilt = UpdateTilt(samples, energy);
  postfilter.End(samples, tilt);
  return energy;
}
