#pragma once

#include <cstdint>

namespace clipnote::h263 {

// Raster index (8 x row + column) of each zigzag scan position of an 8 x 8 block.
extern const uint8_t* const zigzagToRaster;

// Turns 64 quantised levels in scan order into 64 coefficients in raster order.
// Non-zero levels become quant x (2|L| + 1), minus 1 for an even quant, with the
// level's sign, clamped to -2048..2047. For an intra block, coefficient 0 is
// replaced by 8 x INTRADC + 8 (level 0 read as an unsigned byte), which puts a
// DC-only block one step above the nominal INTRADC.
void DequantiseLevels(int16_t coefficients[64], const int8_t levels[64], int quant, bool intra);

// The two versions of DequantiseLevels, with the same results (it calls the one in
// reconKernels, recon_kernels.h); they differ in how they clear the coefficients.
void DequantiseLevelsPlain(int16_t coefficients[64], const int8_t levels[64], int quant,
                           bool intra);
#if defined(__SSE2__)
void DequantiseLevelsSse2(int16_t coefficients[64], const int8_t levels[64], int quant,
                          bool intra);
#endif

// DequantiseLevels with the decoder's running quant; the block is intra when the
// current macroblock type is INTRA or INTRA+Q.
void Dequantise(int16_t coefficients[64], const int8_t levels[64]);

}  // namespace clipnote::h263
