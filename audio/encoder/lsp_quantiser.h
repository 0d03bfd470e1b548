#pragma once

#include <cstdint>

#include "audio/frame_geometry.h"

namespace clipnote::speech {

// Chooses the 24-bit LSP index word for a vector: the residual after the decoder's
// prediction from its previous vector is matched against the three split codebooks, each
// band on its own, with weights that favour closely spaced pairs (formant peaks). The
// decoded vector is DecodeLsp(previous, index, false).
uint32_t QuantiseLsp(const LspVector& lsp, const LspVector& previous);

}  // namespace clipnote::speech
