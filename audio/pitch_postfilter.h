#pragma once

#include "audio/frame_geometry.h"
#include "audio/frame_params.h"

namespace clipnote::speech {

// Pitch postfilter of one subframe: the excitation plus a scaled copy of it one pitch period
// away, backward (lag < 0) or forward within the frame (lag > 0), normalised to keep the
// subframe's energy. The neutral set (lag 0, gain 0, scale 1) leaves the excitation as it is.
struct PitchPostfilterSet {
  int lag = 0;
  float gain = 0.0f;
  float scale = 1.0f;
};

// Chooses the postfilter for subframe s (0..3) of the excitation buffer E (145 history
// samples, then the frame), searching lags around the half frame's open-loop lag.
PitchPostfilterSet PitchPostfilterParams(const float excitation[kExcitationSamples],
                                         int openLoopLag, int subframe, Rate rate);

// Writes samples[60 s .. 60 s + 60) from E with the given set. A lag that would reach
// outside E is ignored (the excitation is only scaled).
void ApplyPitchPostfilter(float samples[kFrameSamples],
                          const float excitation[kExcitationSamples],
                          const PitchPostfilterSet& set, int subframe);

}  // namespace clipnote::speech
