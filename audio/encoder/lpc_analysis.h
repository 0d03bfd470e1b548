#pragma once

#include "audio/frame_geometry.h"

namespace clipnote::speech {

// Samples of one analysis window: three subframes.
inline constexpr int kLpcWindowSamples = 180;

// Short-term spectral envelope of kLpcWindowSamples samples: Hamming window,
// autocorrelation with a Gaussian lag window and a white-noise floor, Levinson-Durbin, then
// bandwidth expansion. The coefficients follow the synthesis filter's convention,
// y(n) = x(n) + sum a[j] y(n - 1 - j). A silent or degenerate window gives all zeros (a flat
// envelope); the result is always a stable filter.
LpcSet AnalyseLpc(const float window[kLpcWindowSamples]);

}  // namespace clipnote::speech
