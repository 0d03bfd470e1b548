#pragma once

#include "audio/frame_geometry.h"

namespace clipnote::speech {

// Harmonic noise shaping P(z) = 1 - gain z^-lag, after the formant weighting: the coding error
// is measured through it as well, so that in voiced speech the noise gathers under the
// harmonics, where the speech masks it, instead of filling the valleys between them.
struct HarmonicShaping {
  int lag = 0;       // 0: no shaping
  float gain = 0.0f;
};

// The shaping of one subframe of weighted speech: the lag within 3 of the half frame's
// open-loop lag that correlates best, its gain a fixed share of the best prediction gain
// when the prediction removes enough of the subframe's energy, none otherwise. weighted points
// at the subframe; the kMaxShapingLag samples before it must be readable.
HarmonicShaping FindHarmonicShaping(const float* weighted, int openLoopLag);

inline constexpr int kMaxShapingLag = 142;

// h = h - gain h[n - lag] in place: the impulse response of the weighted synthesis followed
// by the shaping.
void ShapeImpulseResponse(const HarmonicShaping& shaping, float h[kSubframeSamples]);

// target[n] -= gain x error[n - lag], where error is the weighted error: for n - lag < 0 the
// past subframes' (pastError points at the subframe, its kMaxShapingLag samples before it
// readable), and from the subframe itself, where no excitation has been chosen yet, what is
// already in target (the weighted speech less the zero-input response). Runs backwards, so
// target[n - lag] is still unshaped when it is read.
void ShapeTarget(const HarmonicShaping& shaping, const float* pastError, float target[kSubframeSamples]);

}  // namespace clipnote::speech
