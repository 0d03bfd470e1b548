#pragma once

#include "audio/frame_geometry.h"

// Formant postfilter of one synthesised subframe, in place: a pole-zero filter from the
// subframe's LPC set with bandwidth-expanded zeros (0.65^k) and poles (0.75^k), followed by a
// first-order tilt compensation driven by the smoothed first autocorrelation coefficient.
// Uses decoderState.postZeroMemory, postPoleMemory and tiltState. Returns the subframe's
// energy before filtering, which gain scaling restores.
float FormantPostfilter(float samples[kSubframeSamples], const LpcSet& lpc);

// Synthesize followed by FormantPostfilter, with the same results, in one loop: the two
// recursive filters' sums, each waiting on its own previous output, overlap.
float SynthesizeAndPostfilter(float samples[kSubframeSamples], const LpcSet& lpc);
