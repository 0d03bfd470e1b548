#pragma once

#include "audio/frame_geometry.h"
#include "audio/frame_params.h"

namespace clipnote::speech {

// Fixed-codebook vector of one subframe, at the frame's rate: six or five signed pulses on
// one grid (6.3 kbit/s, optionally repeated every pitch period) or four algebraic pulses
// followed by pitch sharpening (5.3 kbit/s). openLoopLag is the lag of the subframe's half
// frame, subframe is 0..3. Codes outside their range give a zero vector or are ignored; the
// output is always 60 samples and nothing else is touched.
void DecodeFixedVector(float out[kSubframeSamples], const SubframeParams& sub, int openLoopLag,
                       int subframe, Rate rate);

// Adaptive-codebook (pitch) vector of one subframe: a five-tap filtering of the past
// excitation around the lag openLoopLag + lagDelta - 1. history holds the 145 samples that
// precede the subframe, oldest first; indexOffset is 0, or 60 for the second subframe of a
// comfort-noise pair, which reads as if one subframe had been appended to history. Lags and
// gain indices from damaged frames never read outside history: a lag is held within what
// history can supply and an unknown gain index gives a zero vector.
void DecodeAdaptiveVector(float out[kSubframeSamples], const float history[kHistorySamples],
                          int indexOffset, int openLoopLag, int lagDelta, int gainIndex,
                          Rate rate);

// The two versions of the adaptive vector's five-tap filter, with the same results: out[i] is
// lagged[i] x taps[0] + ... + lagged[i + 4] x taps[4], added in that order in double and
// rounded once (lagged holds 64 samples, taps 5).
void FilterAdaptiveTapsPlain(const double lagged[kSubframeSamples + 4], const float taps[],
                             float out[kSubframeSamples]);
#if defined(__SSE2__)
void FilterAdaptiveTapsSse2(const double lagged[kSubframeSamples + 4], const float taps[],
                            float out[kSubframeSamples]);
#endif

}  // namespace clipnote::speech
