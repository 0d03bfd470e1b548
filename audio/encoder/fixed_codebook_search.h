#pragma once

#include "audio/frame_geometry.h"
#include "audio/frame_params.h"

namespace clipnote::speech {

// Fixed-codebook searches against the target left after the adaptive contribution. Both
// fill the fixed-codebook fields of sub (amplitudeIndex, grid, positions, signs and, at
// 6.3 kbit/s, pulseTrain) with codes the decoder's DecodeFixedVector turns into the chosen
// vector; the adaptive fields must already be set. They return the weighted error left.

// 6.3 kbit/s multipulse: six or five pulses of one amplitude on the even or the odd grid,
// placed one after another where they reduce the error most, for a few amplitudes around
// the estimate; with a lag below 60 also as a pulse train repeated every lag samples.
double SearchMultipulse(const float target[kSubframeSamples], const float h[kSubframeSamples],
                        int subframe, int openLoopLag, SubframeParams& sub);

// 5.3 kbit/s algebraic: four pulses on interleaved tracks of eight positions, searched
// exhaustively on both grids with the signs of the backward-filtered target, through the
// pitch sharpening the decoder applies for the subframe's gain index.
double SearchAlgebraic(const float target[kSubframeSamples], const float h[kSubframeSamples],
                       int openLoopLag, SubframeParams& sub);

// The amplitude index whose level is nearest to amplitude on a logarithmic scale.
int NearestAmplitudeIndex(double amplitude);

}  // namespace clipnote::speech
