#pragma once

#include "audio/frame_geometry.h"

namespace clipnote::speech {

// Samples of one analysis window: three subframes.
inline constexpr int kLpcWindowSamples = 180;

// The two envelopes of one window. The perceptual weighting filter follows the formants
// closely, so that the coding noise is kept under them; the envelope the frame's LSP vector
// codes is smoother (a higher white-noise floor and wider bandwidths), which its
// quantisation and the decoder's synthesis reproduce better across the whole band.
struct Envelopes {
  LpcSet weighting;
  LpcSet coding;
};

// Short-term spectral envelopes of kLpcWindowSamples samples: Hamming window,
// autocorrelation with a Gaussian lag window and a white-noise floor, Levinson-Durbin, then
// bandwidth expansion. The coefficients follow the synthesis filter's convention,
// y(n) = x(n) + sum a[j] y(n - 1 - j). A silent or degenerate window gives all zeros (a flat
// envelope); the result is always a stable filter.
Envelopes AnalyseLpc(const float window[kLpcWindowSamples]);

}  // namespace clipnote::speech
