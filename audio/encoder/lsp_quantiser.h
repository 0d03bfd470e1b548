#pragma once

#include <cstdint>

#include "audio/frame_geometry.h"

namespace clipnote::speech {

// Chooses the 24-bit LSP index word for a vector: the residual after the decoder's
// prediction from its previous vector is matched against the three split codebooks, each
// band on its own, with weights that favour closely spaced pairs (formant peaks). The
// decoded vector is DecodeLsp(previous, index, false).
uint32_t QuantiseLsp(const LspVector& lsp, const LspVector& previous);

// The vector to quantise for a frame whose subframes' own envelopes are sub[0..2] (where
// known[s]) and last: the decoder gives subframe s the mix of the previous vector and the
// coded one in the proportions 1/4, 1/2, 3/4 and 1, so the vector whose mixes come nearest
// all four (least squares per coefficient) codes the frame better than the last subframe's
// alone. The last subframe counts three times: it is decoded as it is coded, and the next
// frame's first subframes are mixed from it.
LspVector InterpolationTarget(const LspVector sub[3], const bool known[3], const LspVector& last,
                              const LspVector& previous);

}  // namespace clipnote::speech
