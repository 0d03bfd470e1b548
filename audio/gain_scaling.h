#pragma once

#include "audio/frame_geometry.h"

// Gain scaling of one postfiltered subframe, in place: restores the energy it had before the
// formant postfilter (energyBefore, as FormantPostfilter returned it) through a per-sample
// smoothed gain, decoderState.scaleGain, that carries over between subframes and frames.
void ScaleGain(float samples[kSubframeSamples], float energyBefore);
