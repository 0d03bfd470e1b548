#pragma once

#include "audio/frame_geometry.h"

namespace clipnote::speech {

// Gain scaling of one postfiltered subframe, in place: restores the energy it had before the
// formant postfilter (energyBefore, as FormantPostfilter returned it) through a per-sample
// smoothed gain, decoderState.scaleGain, that carries over between subframes and frames.
void ScaleGain(float samples[kSubframeSamples], float energyBefore);

// The pieces of ScaleGain, for callers that run them inside other loops: the subframe's
// energy, and from both energies the step the smoothed gain takes per sample.
float SubframeEnergy(const float samples[kSubframeSamples]);
float GainStep(float energyBefore, float energyAfter);

// One sample of the smoothed gain: advances gain by step and returns the scaled sample.
// Both are formed in double and rounded once.
inline float ApplySmoothedGain(float sample, float& gain, float step) {
  gain = static_cast<float>(0.9375 * gain + step);
  return static_cast<float>(static_cast<double>(sample) * gain * 1.0625);
}

}  // namespace clipnote::speech
