#pragma once

// Quantisation of transform coefficients into the levels the parser delivers (zigzag scan
// order), for the decoder's dequantisation: a level L reconstructs as quant x (2|L| + 1)
// (minus 1 for an even quant), an intra DC code c as 8 c + 8.

#include <cstdint>

namespace clipnote::h263 {

// The INTRADC code (1..254) whose reconstruction 8 c + 8 is nearest the DC coefficient.
uint8_t IntraDcCode(int32_t dcCoefficient);

// Levels in scan order from raster-order coefficients; returns how many are not zero (the DC
// code of an intra block not counted). Intra blocks: element 0 is the INTRADC code, the AC
// levels |F| / 2q; inter blocks: (|F| - q / 4) / 2q, a slightly wider dead zone. Levels stay in
// -127..127.
int32_t QuantiseIntra(int8_t levels[64], const int16_t coefficients[64], int32_t quant);
int32_t QuantiseInter(int8_t levels[64], const int16_t coefficients[64], int32_t quant);

// What TrimLevels leaves: the levels not zero, the bits of their TCOEF events, and what they
// change of their coefficients' squared error as the decoder dequantises them (the transform
// keeps energy, so this is the change of the block's squared error but for rounding and
// clipping).
struct TrimmedLevels {
  int32_t count = 0;
  int32_t bits = 0;
  int64_t errorChange = 0;
};

// Rate and distortion on the levels from scan position `first`: each level, in scan order,
// is lowered by one (to zero from +-1) where the bits that saves, counted with the events
// before and after it, are worth more than the squared error it adds on its coefficient,
// at cost 16 x squared error + lambda16 x bits.
TrimmedLevels TrimLevels(int8_t levels[64], const int16_t coefficients[64], int32_t quant,
                         int32_t first, int64_t lambda16);

}  // namespace clipnote::h263
