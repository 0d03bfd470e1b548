#pragma once

#include <array>

#include "audio/frame_geometry.h"

namespace clipnote::speech {

// Long-term mean LSP vector around which the inter-frame prediction works (pi/256 radian).
extern const LspVector LspMeanTable;

// Split codebooks of the LSP residual (generated from the G.723.1 table file): band 0 gives
// LSPs 0-2, band 1 LSPs 3-5, band 2 LSPs 6-9. Entry 0 of each is all zeros.
extern const float LspBand0[256][3];
extern const float LspBand1[256][3];
extern const float LspBand2[256][4];

// cos(2 pi k / 512) rounded to a multiple of 2^-15, for k = 0..511.
inline constexpr int kCosineTableSize = 512;
extern const std::array<float, kCosineTableSize> CosineTable;

}  // namespace clipnote::speech
