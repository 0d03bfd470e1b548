#pragma once

#include "audio/frame_geometry.h"

namespace clipnote::speech {

inline constexpr int kMinimumPitchLag = 18;
inline constexpr int kMaximumPitchLag = 141;  // the largest lag code
inline constexpr int kHalfFrameSamples = 2 * kSubframeSamples;

// Open-loop pitch lag of one half frame of weighted speech: the lag with the largest
// normalised correlation, a multiple of the period given up for the period itself when
// that correlates almost as well. weighted points at the half frame; the
// kMaximumPitchLag samples before it must be readable. Silence gives the shortest
// lag that is not used as a pulse train (60).
int OpenLoopPitch(const float* weighted);

}  // namespace clipnote::speech
