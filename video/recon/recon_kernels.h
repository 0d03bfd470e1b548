#pragma once

// The reconstruction's speed kernels as a table of function pointers. Every kernel has a
// plain version, always compiled, and an SSE2 version wherever the compiler targets SSE2;
// both give the same bits. reconKernels, the table the decoder calls through, holds the SSE2
// versions where they exist and the plain ones elsewhere from start-up; the tests run whole
// clips with either table by swapping it in.

#include <cstdint>

namespace clipnote::h263 {

struct ReconKernels {
  // DequantiseLevels (dequantise.h).
  void (*dequantiseLevels)(int16_t coefficients[64], const int8_t levels[64], int quant,
                           bool intra);
  // IdctToPixelsWith and IdctToResidualWith (inverse_transform.h).
  void (*idctToPixels)(const int32_t weights[6], uint8_t samples[64], int16_t coefficients[64]);
  void (*idctToResidual)(const int32_t weights[6], int16_t coefficients[64]);
  // Rows and columns of the luma and chroma grids, and the block fetch and residual addition
  // of the prediction (reference_grids.h).
  void (*buildLumaGridPart)(const uint8_t* plane, int width, int height, int rowFrom, int rowTo,
                            int from, int to, uint8_t* grid);
  void (*buildChromaGridPart)(const uint8_t* plane, int width, int height, int rowFrom,
                              int rowTo, int from, int to, uint8_t* grid);
  void (*fetchFromGridInto)(uint8_t* destination, int stride, const uint8_t* grid, int gridWidth,
                            int gridHeight, int row, int col, int step);
  void (*addResidualInto)(uint8_t* samples, int stride, const int16_t residual[64]);
};

extern const ReconKernels kPlainReconKernels;
#if defined(__SSE2__)
extern const ReconKernels kSse2ReconKernels;
#endif

// The versions the decoder (and the encoder's reconstruction through it) runs. Replace it
// only between pictures, from the thread that decodes.
extern ReconKernels reconKernels;

}  // namespace clipnote::h263
