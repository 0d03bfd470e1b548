#pragma once

// The speech decoder's speed kernels as a table of function pointers. Every kernel has a
// plain version, always compiled, and an SSE2 version wherever the compiler targets SSE2;
// both give the same bits. speechKernels, the table the decoder calls through, holds the SSE2
// versions where they exist and the plain ones elsewhere from start-up; the tests run whole
// clips with either table by swapping it in.

#include <cstdint>

#include "audio/frame_geometry.h"

namespace clipnote::speech {

struct SpeechKernels {
  // The correlation of all kMaxShifts shifts behind CorrelateShifts (correlation.h).
  void (*correlateAllShifts)(const float* x, const float* y, int length, double sums[]);
  // The adaptive vector's five-tap filter (excitation.h).
  void (*filterAdaptiveTaps)(const double lagged[kSubframeSamples + 4], const float taps[],
                             float out[kSubframeSamples]);
  // StorePcmSamples (pcm_conversion.h).
  void (*storePcmSamples)(const float* samples, int count, uint8_t* out);
};

extern const SpeechKernels kPlainSpeechKernels;
#if defined(__SSE2__)
extern const SpeechKernels kSse2SpeechKernels;
#endif

// The versions the decoder (and the encoder's copy of it) runs. Replace it only between
// frames, from the thread that decodes.
extern SpeechKernels speechKernels;

}  // namespace clipnote::speech
