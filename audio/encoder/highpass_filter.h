#pragma once

#include <cstdint>

#include "audio/frame_geometry.h"

namespace clipnote::speech {

// Removes DC and the lowest rumble from the input before analysis: a first-order high-pass
// y(n) = x(n) - x(n-1) + (127/128) y(n-1), corner near 10 Hz.
struct HighPassFilter {
  float previousInput = 0;
  float previousOutput = 0;

  void Run(const int16_t in[kFrameSamples], float out[kFrameSamples]);
};

}  // namespace clipnote::speech
