#include "audio/output_chain.h"

#include "audio/decoder_state.h"
#include "audio/formant_postfilter.h"
#include "audio/gain_scaling.h"
#include "audio/synthesis_filter.h"

namespace clipnote::speech {

namespace {

// A subframe whose gain scaling has still to run, with the gain's per-sample step.
struct PendingGain {
  float* samples = nullptr;
  float step = 0.0f;
};

// Synthesis and pole-zero filtering of one subframe in one loop, together with the tilt's
// correlations of the synthesised samples (each summed in sample order) and, if
// kScalePending, the gain scaling of `pending`. Returns the subframe's energy before the
// postfilter.
template <bool kScalePending>
float FilterSubframe(float samples[kSubframeSamples], const LpcSet& lpc, const PendingGain& pending,
                     float& gain) {
  SynthesisRun synthesis(lpc);
  PoleZeroRun postfilter(lpc);
  synthesis.Begin();
  postfilter.Begin();
  double lag1 = 0.0;
  double lag0 = 0.0;
  float previous = 0.0f;
  // Local copies stay in registers; the stores to the pending samples could, as far as the
  // compiler knows, change anything reached through a reference.
  float* const pendingSamples = pending.samples;
  const float step = pending.step;
  float runningGain = gain;
  for (int n = 0; n < kSubframeSamples; ++n) {
    const float y = synthesis.Step(n, samples[n]);
    samples[n] = y;
    postfilter.Step(n, y);
    if (n > 0) lag1 += static_cast<double>(previous) * y;
    lag0 += static_cast<double>(y) * y;
    previous = y;
    if constexpr (kScalePending) {
      pendingSamples[n] = ApplySmoothedGain(pendingSamples[n], runningGain, step);
    }
  }
  gain = runningGain;
  synthesis.End();
  float energy = 0.0f;
  const float tilt = UpdateTilt(lag1, lag0, energy);
  postfilter.End(samples, tilt);
  return energy;
}

}  // namespace

void FilterFrameOutput(float samples[kFrameSamples], const LpcSets& lpc) {
  float gain = decoderState.scaleGain;
  PendingGain pending;
  for (int s = 0; s < kSubframesPerFrame; ++s) {
    float* subframe = samples + s * kSubframeSamples;
    const float energyBefore = s == 0 ? FilterSubframe<false>(subframe, lpc[s], pending, gain)
                                      : FilterSubframe<true>(subframe, lpc[s], pending, gain);
    pending = {subframe, GainStep(energyBefore, SubframeEnergy(subframe))};
  }
  float runningGain = gain;
  for (int n = 0; n < kSubframeSamples; ++n) {
    pending.samples[n] = ApplySmoothedGain(pending.samples[n], runningGain, pending.step);
  }
  decoderState.scaleGain = runningGain;
}

}  // namespace clipnote::speech
