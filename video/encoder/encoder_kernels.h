#pragma once

// The encoder's per-sample kernels. Each has a plain version, always compiled, and an SSE2
// version wherever the compiler targets SSE2; both give the same bits. EncoderKernelTable()
// is filled once, on first use, with the SSE2 versions where they exist (unless the build asks
// for the plain ones, CLIPNOTE_PLAIN_KERNELS), and the encoder calls through it; the plain
// table is always there for the tests.

#include <cstdint>

namespace clipnote::h263 {

struct EncoderKernels {
  // Sum of absolute differences of two 16 x 16 blocks, rows `strideA` and `strideB` apart.
  int32_t (*sad16x16)(const uint8_t* a, int32_t strideA, const uint8_t* b, int32_t strideB);
  // Forward 8 x 8 transform of raster-order values (-32768..32767) into raster-order
  // coefficients with the gain the decoder's inverse expects (a flat block of value s gives
  // a DC of 8 s): a separable integer transform, each pass rounded and kept in 16 bits.
  void (*forwardTransform)(int16_t coefficients[64], const int16_t values[64]);
};

const EncoderKernels& EncoderKernelTable();
extern const EncoderKernels kPlainEncoderKernels;
#if defined(__SSE2__)
extern const EncoderKernels kSse2EncoderKernels;
#endif

int32_t Sad16x16Plain(const uint8_t* a, int32_t strideA, const uint8_t* b, int32_t strideB);
void ForwardTransformPlain(int16_t coefficients[64], const int16_t values[64]);
#if defined(__SSE2__)
int32_t Sad16x16Sse2(const uint8_t* a, int32_t strideA, const uint8_t* b, int32_t strideB);
void ForwardTransformSse2(int16_t coefficients[64], const int16_t values[64]);
#endif

}  // namespace clipnote::h263
