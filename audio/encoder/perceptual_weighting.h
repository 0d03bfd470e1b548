#pragma once

#include <array>

#include "audio/frame_geometry.h"
#include "audio/frame_params.h"

namespace clipnote::speech {

// The formant perceptual weighting W(z) = A(z/0.95) / A(z/g), g 0.48 at 6.3 kbit/s and 0.46
// at 5.3, from a subframe's unquantised envelope: the coding error is measured through it, so
// that the noise follows the formants where speech masks it.
struct Weighting {
  LpcSet zero{};  // a[j] x 0.95^(j+1)
  LpcSet pole{};  // a[j] x g^(j+1)
};

Weighting MakeWeighting(const LpcSet& lpc, Rate rate);

// Past inputs and outputs of a pole-zero section, newest first.
struct FilterMemory {
  std::array<float, kLpcOrder> input{};
  std::array<float, kLpcOrder> output{};
};

// Runs W(z) over count samples (in and out may be the same), carrying the memory.
void ApplyWeighting(const float* in, float* out, int count, const Weighting& w,
                    FilterMemory& memory);

// The weighted synthesis filter W(z) / Aq(z) that the searches see: the quantised envelope's
// synthesis (memory.input holds its past outputs) followed by the weighting (memory.output
// holds the weighted outputs). Runs count samples of excitation (nullptr: zeros) into out.
void ApplyWeightedSynthesis(const float* excitation, float* out, int count, const LpcSet& quantised,
                            const Weighting& w, FilterMemory& memory);

// Response of W(z) / Aq(z) from rest to a unit impulse, one subframe long.
void ImpulseResponse(const LpcSet& quantised, const Weighting& w, float h[kSubframeSamples]);

// out = the zero-state convolution of x with h over one subframe.
void ConvolveSubframe(const float x[kSubframeSamples], const float h[kSubframeSamples],
                      float out[kSubframeSamples]);

}  // namespace clipnote::speech
