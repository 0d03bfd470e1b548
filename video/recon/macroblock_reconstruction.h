#pragma once

// Reconstruction of one macroblock of the picture being decoded, on the Y, U and V planes of
// currentPicture.

#include <cstdint>

namespace clipnote::h263 {

void DecodeMacroblock(uint8_t* y, uint8_t* u, uint8_t* v, int32_t macroblock);
void ReconstructIntraMacroblock(uint8_t* y, uint8_t* u, uint8_t* v, int32_t macroblock);
void ReconstructInterMacroblock(uint8_t* y, uint8_t* u, uint8_t* v, int32_t macroblock);

// quant moved by the DQUANT code (0: -1, 1: -2, 2: +1, 3: +2), kept in 1..31.
uint8_t ApplyDquant(uint8_t quant, uint8_t dquantIndex);

}  // namespace clipnote::h263
