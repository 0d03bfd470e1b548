#pragma once

#include "audio/frame_geometry.h"

namespace clipnote::speech {

// The output filters of one frame, in place: for each subframe in turn the synthesis filter,
// the formant postfilter and gain scaling, with exactly the results of Synthesize,
// FormantPostfilter and ScaleGain applied subframe by subframe. The recursive filter sums of a
// subframe leave the processor idle between their steps, so the gain scaling of the previous
// subframe runs in the same loop.
void FilterFrameOutput(float samples[kFrameSamples], const LpcSets& lpc);

}  // namespace clipnote::speech
