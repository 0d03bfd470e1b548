#pragma once

#include <cstdint>

namespace clipnote::h263 {

// Separable integer 8 x 8 inverse DCT. The six weights are 2048 x sqrt(2) x
// cos(k pi / 16) truncated toward zero, in the order W1, W2, W3, W5, W6, W7
// (2840, 2675, 2408, 1609, 1108, 565). Arithmetic is 32-bit two's complement
// that wraps, with arithmetic shifts; row outputs keep the low 16 bits. Rows or
// columns whose AC terms are all zero take a multiplication-free short-cut.

// Index of each weight in a six-weight array.
enum IdctWeightIndex { kW1, kW2, kW3, kW5, kW6, kW7 };

// Derives the six weights into `weights`.
void ComputeIdctWeightsInto(int32_t weights[6]);

// Full 2-D transform of a raster-order block, then clamped to 0..255 bytes.
void IdctToPixelsWith(const int32_t weights[6], uint8_t samples[64], int16_t coefficients[64]);
// Full 2-D transform in place, then each value clamped to -256..255.
void IdctToResidualWith(const int32_t weights[6], int16_t coefficients[64]);

// The two versions of the two kernels above, with the same results (the entry points call the
// one in reconKernels, recon_kernels.h). The plain one takes the short-cuts; the SSE2 one transforms eight
// lanes at once. IdctToPixels* may use the coefficients as scratch space.
void IdctToPixelsPlain(const int32_t weights[6], uint8_t samples[64], int16_t coefficients[64]);
void IdctToResidualPlain(const int32_t weights[6], int16_t coefficients[64]);
#if defined(__SSE2__)
void IdctToPixelsSse2(const int32_t weights[6], uint8_t samples[64], int16_t coefficients[64]);
void IdctToResidualSse2(const int32_t weights[6], int16_t coefficients[64]);
#endif

// The same operations with the decoder's idctWeights.
void ComputeIdctWeights();
void IdctToPixels(uint8_t samples[64], int16_t coefficients[64]);
void IdctToResidual(int16_t coefficients[64]);

}  // namespace clipnote::h263
