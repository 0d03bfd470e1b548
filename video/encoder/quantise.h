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
// levels |F| / 2q; inter blocks: (|F| - q / 2) / 2q, a wider dead zone. Levels stay in
// -127..127.
int32_t QuantiseIntra(int8_t levels[64], const int16_t coefficients[64], int32_t quant);
int32_t QuantiseInter(int8_t levels[64], const int16_t coefficients[64], int32_t quant);

}  // namespace clipnote::h263
