#pragma once

#include "audio/frame_geometry.h"

namespace clipnote::speech {

// Converts LPC coefficients (the synthesis filter's convention) to the ten line spectral
// frequencies in the decoder's unit, pi/256 radian, increasing. The roots of the sum and
// difference polynomials are located on a grid of one unit and refined by bisection.
// Returns false, leaving lsp alone, when fewer than ten alternating roots are found (an
// envelope too close to instability to code): the caller keeps its previous vector.
bool LpcToLsp(const LpcSet& lpc, LspVector& lsp);

}  // namespace clipnote::speech
