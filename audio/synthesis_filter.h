#pragma once

#include "audio/frame_geometry.h"

// LPC synthesis of one subframe, in place: y(n) = x(n) + sum a[j] y(n - 1 - j). The filter's
// past outputs are decoderState.synthesisMemory and carry over between subframes and frames.
void Synthesize(float samples[kSubframeSamples], const LpcSet& lpc);
