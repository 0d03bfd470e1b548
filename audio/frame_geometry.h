#pragma once

#include <array>

namespace clipnote::speech {

// Sizes shared by every stage of the speech decoder. One frame is 30 ms at 8000 Hz.
inline constexpr int kFrameSamples = 240;
inline constexpr int kSubframeSamples = 60;
inline constexpr int kSubframesPerFrame = 4;
// Excitation kept from earlier frames: enough for the longest pitch lag plus filter taps.
inline constexpr int kHistorySamples = 145;
// The working excitation buffer of a frame: history followed by the current frame.
inline constexpr int kExcitationSamples = kHistorySamples + kFrameSamples;
inline constexpr int kLpcOrder = 10;

// Line spectral pairs in units of pi/256 radian, increasing.
using LspVector = std::array<float, kLpcOrder>;
// Filter coefficients a[0..9]: the synthesis filter computes y(n) = x(n) + sum a[j] y(n-1-j).
using LpcSet = std::array<float, kLpcOrder>;
// One coefficient set per subframe.
using LpcSets = std::array<LpcSet, kSubframesPerFrame>;

}  // namespace clipnote::speech
