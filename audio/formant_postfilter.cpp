#include "audio/formant_postfilter.h"

#include <limits>

#include "audio/decoder_state.h"

namespace clipnote::speech {

namespace {

constexpr float kTiny = std::numeric_limits<float>::min();  // smallest normal single

// The subframe's autocorrelation at lags 1 and 0, each summed in sample order.
void TiltCorrelations(const float samples[kSubframeSamples], double& lag1, double& lag0) {
  lag1 = 0.0;
  lag0 = 0.0;
  for (int n = 0; n < kSubframeSamples - 1; ++n) {
    lag1 += static_cast<double>(samples[n]) * samples[n + 1];
  }
  for (int n = 0; n < kSubframeSamples; ++n) {
    lag0 += static_cast<double>(samples[n]) * samples[n];
  }
}

}  // namespace

float UpdateTilt(double lag1, double lag0, float& energy) {
  const float r1 = static_cast<float>(lag1);
  const float r0 = static_cast<float>(lag0);

  const float k1 = r0 > kTiny ? r1 / r0 : 0.0f;
  DecoderState& state = decoderState;
  state.tiltState = static_cast<float>(0.75 * state.tiltState + 0.25 * k1);
  energy = r0;
  return -0.25f * state.tiltState;
}

float FormantPostfilter(float samples[kSubframeSamples], const LpcSet& lpc) {
  double lag1 = 0.0;
  double lag0 = 0.0;
  TiltCorrelations(samples, lag1, lag0);
  float energy = 0.0f;
  const float tilt = UpdateTilt(lag1, lag0, energy);
  PoleZeroRun run(lpc);
  run.Begin();
  for (int n = 0; n < kSubframeSamples; ++n) run.Step(n, samples[n]);
  run.End(samples, tilt);
  return energy;
}

}  // namespace clipnote::speech
