#pragma once

#include <algorithm>

#include "audio/decoder_state.h"
#include "audio/frame_geometry.h"

namespace clipnote::speech {

// Formant postfilter of one synthesised subframe, in place: a pole-zero filter from the
// subframe's LPC set with bandwidth-expanded zeros (0.65^k) and poles (0.75^k), followed by a
// first-order tilt compensation driven by the smoothed first autocorrelation coefficient.
// Uses decoderState.postZeroMemory, postPoleMemory and tiltState. Returns the subframe's
// energy before filtering, which gain scaling restores.
float FormantPostfilter(float samples[kSubframeSamples], const LpcSet& lpc);

// The pieces of FormantPostfilter, for callers that run them inside other loops.

// Updates the smoothed tilt from the subframe's autocorrelation at lags 1 and 0 (each
// summed in double, in sample order) and returns the tilt factor; energy gets the
// subframe's energy.
float UpdateTilt(double lag1, double lag0, float& energy);

// The bandwidth-expansion weights of the zeros and poles.
struct PostfilterWeights {
  float zero[kLpcOrder];
  float pole[kLpcOrder];
};

// Powers 1..10 of the zero and pole bandwidth factors, each rounded to single precision.
inline constexpr PostfilterWeights MakePostfilterWeights() {
  PostfilterWeights w{};
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
inline constexpr PostfilterWeights kPostfilterWeights = MakePostfilterWeights();

// The pole-zero section over one subframe, a sample at a time; Begin loads the memories, End
// applies the tilt and stores them back. Inputs and pole outputs run
// on from the memories in time order, so the sample j + 1 back from n is at index n + 9 - j,
// and nothing is shifted per sample. Both are single precision values, kept widened to
// double (exactly) as the sums use them.
class PoleZeroRun {
 public:
  explicit PoleZeroRun(const LpcSet& lpc) {
    // Single-precision coefficients, widened (exactly) for the double sums.
    for (int j = 0; j < kLpcOrder; ++j) {
      zero_[j] = lpc[j] * kPostfilterWeights.zero[j];
      pole_[j] = lpc[j] * kPostfilterWeights.pole[j];
    }
  }

  void Begin() {
    const DecoderState& state = decoderState;
    std::reverse_copy(state.postZeroMemory.begin(), state.postZeroMemory.end(), inputs_);
    std::reverse_copy(state.postPoleMemory.begin(), state.postPoleMemory.end(), poles_);
    newestInput_ = inputs_[kLpcOrder - 1];
    newestPole_ = poles_[kLpcOrder - 1];
  }

  void Step(int n, float x) {
    inputs_[n + kLpcOrder] = x;
    const double* newestInput = inputs_ + n + kLpcOrder - 1;
    const double* newestPole = poles_ + n + kLpcOrder - 1;
    // Each filter sum is formed first and then combined with its input, in double.
    double zeroSum = zero_[0] * newestInput_;
    for (int j = 1; j < kLpcOrder; ++j) zeroSum += zero_[j] * newestInput[-j];
    const float u = static_cast<float>(x - zeroSum);
    double poleSum = pole_[0] * newestPole_;
    for (int j = 1; j < kLpcOrder; ++j) poleSum += pole_[j] * newestPole[-j];
    newestInput_ = x;
    newestPole_ = static_cast<float>(u + poleSum);
    poles_[n + kLpcOrder] = newestPole_;
  }

  // Writes the tilt-compensated outputs and stores the memories back.
  void End(float samples[kSubframeSamples], float tilt) {
    for (int n = 0; n < kSubframeSamples; ++n) {
      // v + t x (the previous v), rounded once.
      samples[n] = static_cast<float>(poles_[n + kLpcOrder] + tilt * poles_[n + kLpcOrder - 1]);
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
  // The newest input and pole output, kept apart so that the next step need not wait for
  // them to come back from memory.
  double newestInput_ = 0.0;
  double newestPole_ = 0.0;
};

}  // namespace clipnote::speech
