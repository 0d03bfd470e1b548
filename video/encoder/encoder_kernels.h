#pragma once

// The encoder's per-sample kernels. Each has a plain version, always compiled, and an SSE2
// version wherever the compiler targets SSE2; both give the same bits. encoderKernels, the
// table the encoder calls through (EncoderKernelTable()), holds the SSE2 versions where they
// exist and the plain ones elsewhere from start-up; the tests run whole clips with either
// table by swapping it in.

#include <cstdint>

namespace clipnote::h263 {

struct EncoderKernels {
  // Sum of absolute differences of two 16 x 16 blocks, rows `strideA` and `strideB` apart.
  int32_t (*sad16x16)(const uint8_t* a, int32_t strideA, const uint8_t* b, int32_t strideB);
  // Forward 8 x 8 transform of raster-order values (-32768..32767) into raster-order
  // coefficients with the gain the decoder's inverse expects (a flat block of value s gives
  // a DC of 8 s): a separable integer transform, each pass rounded and kept in 16 bits.
  void (*forwardTransform)(int16_t coefficients[64], const int16_t values[64]);
  // Levels in scan order of the raster-order coefficients at quant 1..31 (quantise.h): from
  // scan position 1 for an intra block (element 0, its DC code, is left alone), with no dead
  // zone; from 0 for an inter one, with a dead zone of quant / 4. Returns how many of the
  // levels written are not zero.
  int32_t (*quantiseLevels)(int8_t levels[64], const int16_t coefficients[64], int32_t quant,
                            bool intra);
  // The 8 x 8 residual source - prediction into raster-order values; returns its sum of
  // squares (the prediction's squared error) and sets *sad to its sum of magnitudes.
  int32_t (*blockResidual)(int16_t values[64], const uint8_t* source, int32_t sourceStride,
                           const uint8_t* prediction, int32_t predictionStride, int32_t* sad);
};

extern const EncoderKernels kPlainEncoderKernels;
#if defined(__SSE2__)
extern const EncoderKernels kSse2EncoderKernels;
#endif

// The versions the encoder runs. Replace it only between pictures, from the thread that
// encodes.
extern EncoderKernels encoderKernels;
inline const EncoderKernels& EncoderKernelTable() { return encoderKernels; }

int32_t Sad16x16Plain(const uint8_t* a, int32_t strideA, const uint8_t* b, int32_t strideB);
void ForwardTransformPlain(int16_t coefficients[64], const int16_t values[64]);
int32_t QuantiseLevelsPlain(int8_t levels[64], const int16_t coefficients[64], int32_t quant,
                            bool intra);
int32_t BlockResidualPlain(int16_t values[64], const uint8_t* source, int32_t sourceStride,
                           const uint8_t* prediction, int32_t predictionStride, int32_t* sad);
#if defined(__SSE2__)
int32_t Sad16x16Sse2(const uint8_t* a, int32_t strideA, const uint8_t* b, int32_t strideB);
void ForwardTransformSse2(int16_t coefficients[64], const int16_t values[64]);
int32_t QuantiseLevelsSse2(int8_t levels[64], const int16_t coefficients[64], int32_t quant,
                           bool intra);
int32_t BlockResidualSse2(int16_t values[64], const uint8_t* source, int32_t sourceStride,
                          const uint8_t* prediction, int32_t predictionStride, int32_t* sad);
#endif

}  // namespace clipnote::h263
