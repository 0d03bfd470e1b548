#pragma once

#include <cstdint>

#include "audio/frame_geometry.h"

namespace clipnote::speech {

// Inverse quantisation of a frame's LSP vector: the three codebook residuals (index word bits
// 16-23, 8-15, 0-7) plus a first-order prediction from the previous vector, then up to ten
// passes of stability repair. An erased frame predicts from the previous vector alone with a
// stronger factor and a wider minimum spacing. A vector that cannot be made stable yields
// the previous vector.
LspVector DecodeLsp(const LspVector& previous, uint32_t indexWord, bool erased);

// Interpolates between the previous and the current LSP vector (weights 1/4, 1/2, 3/4, 1 for
// the current one) and converts each subframe's vector to filter coefficients.
void InterpolateLsp(LpcSets& lpc, const LspVector& current, const LspVector& previous);

// Converts an LSP vector to the ten coefficients of the synthesis filter, in place.
void LspToLpc(std::array<float, kLpcOrder>& values);

// Minus the cosine of an LSP value (pi/256 radian units), by linear interpolation in
// CosineTable. Values outside 0..256 (and NaN) are held to the nearer end, 0 or 256, so the
// result always lies in -1..1.
float NegativeCosineOfLsp(float lsp);

}  // namespace clipnote::speech
