#include "video/encoder/mode_decision.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "video/encoder/encoder_kernels.h"
#include "video/encoder/macroblock_syntax.h"
#include "video/encoder/quantise.h"
#include "video/parser/video_decoder.h"
#include "video/recon/dequantise.h"
#include "video/recon/inverse_transform.h"

namespace clipnote::h263 {

namespace {

// With estimated errors (the fast setting), blocks of more levels than this are not trimmed:
// their runs are short and their levels cheap, so trimming saves little for what it costs.
constexpr int32_t kEstimateTrimmedLevels = 32;

// Block k of a macroblock: its first sample and row stride.
const uint8_t* BlockAt(const MacroblockPlanes& p, int32_t row, int32_t column, int32_t k,
                       int32_t* stride) {
  if (k < 4) {
    *stride = p.width;
    return p.y + (16 * row + 8 * (k >> 1)) * p.width + 16 * column + 8 * (k & 1);
  }
  *stride = p.width / 2;
  return (k == 4 ? p.u : p.v) + 8 * row * (p.width / 2) + 8 * column;
}

int64_t BlockSquaredError(const uint8_t* a, int32_t strideA, const uint8_t* b, int32_t strideB) {
  // The residual kernel's sum of squares; its values and SAD are not needed here.
  int16_t values[64];
  int32_t sad = 0;
  return EncoderKernelTable().blockResidual(values, a, strideA, b, strideB, &sad);
}

// What the levels from scan position `first` change of their coefficients' squared error,
// as the decoder dequantises them (the transform keeps energy, so this is the change of the
// block's squared error but for rounding and clipping).
int64_t LevelErrorChange(const int16_t coefficients[64], const int8_t levels[64], int32_t quant,
                         int32_t first) {
  const int32_t even = (quant & 1) == 0 ? 1 : 0;
  int64_t change = 0;
  for (uint64_t mask = NonzeroLevels(levels, first); mask != 0; mask &= mask - 1) {
    const int32_t i = std::countr_zero(mask);
    const int32_t level = levels[i];
    const int32_t f = coefficients[zigzagToRaster[i]];
    const int32_t magnitude = quant * (2 * (level < 0 ? -level : level) + 1) - even;
    const int32_t rebuilt = level < 0 ? -magnitude : magnitude;
    change += int64_t{f - rebuilt} * (f - rebuilt) - int64_t{f} * f;
  }
  return change;
}

void SetCoded(CodedMacroblock& mb, int32_t k, bool coded) {
  if (k < 4) {
    const uint8_t bit = static_cast<uint8_t>(1u << (3 - k));
    mb.cbpy = static_cast<uint8_t>(coded ? (mb.cbpy | bit) : (mb.cbpy & ~bit));
  } else {
    const uint8_t bit = static_cast<uint8_t>(1u << (5 - k));
    mb.cbpc = static_cast<uint8_t>(coded ? (mb.cbpc | bit) : (mb.cbpc & ~bit));
  }
}

}  // namespace

int32_t InterBlockZeroSad(int32_t quant) {
  // A level is not zero from |F| >= 2 quant + quant / 4; the transform rounds each of its
  // two passes, so keep a margin of a few units of the coefficient.
  return 4 * (2 * quant + quant / 4 - 2);
}

int64_t Lambda16(int32_t quant) { return (int64_t{136} * quant * quant) / 10; }

ModeCost CodeIntraMacroblock(const MacroblockPlanes& source, int32_t row, int32_t column,
                             int32_t quant, const int32_t idctWeights[6], bool interPicture,
                             CodedMacroblock& mb, bool estimate) {
  const EncoderKernels& kernels = EncoderKernelTable();
  const int64_t lambda = Lambda16(quant);
  mb = CodedMacroblock{};
  mb.mbType = kMbIntra;
  ModeCost total;
  for (int32_t k = 0; k < 6; ++k) {
    int32_t stride = 0;
    const uint8_t* samples = BlockAt(source, row, column, k, &stride);
    // The samples as values: their residual from a black prediction (stride 0: one row).
    static constexpr uint8_t kBlack[8] = {};
    int16_t values[64];
    int32_t unusedSad = 0;
    kernels.blockResidual(values, samples, stride, kBlack, 0, &unusedSad);
    int16_t coefficients[64];
    kernels.forwardTransform(coefficients, values);
    const int32_t count = QuantiseIntra(mb.levels[k], coefficients, quant);
    const int32_t codedBits = count > 0 ? BlockEventBits(mb.levels[k], 1) : 0;
    int64_t codedError = 0;
    int64_t dcError = 0;
    if (estimate) {
      // The errors on the coefficients: the DC's, every AC coefficient's energy, less what
      // the AC levels take back.
      const int32_t dc = coefficients[0] - (8 * static_cast<uint8_t>(mb.levels[k][0]) + 8);
      dcError = int64_t{dc} * dc;
      for (int32_t i = 1; i < 64; ++i) dcError += int64_t{coefficients[i]} * coefficients[i];
      codedError = std::max<int64_t>(dcError + LevelErrorChange(coefficients, mb.levels[k], quant, 1), 0);
    } else {
      // The block as the decoder rebuilds it, with its AC levels and with the DC alone.
      int16_t rebuilt[64];
      uint8_t out[64];
      DequantiseLevels(rebuilt, mb.levels[k], quant, true);
      IdctToPixelsWith(idctWeights, out, rebuilt);
      codedError = BlockSquaredError(out, 8, samples, stride);
      int8_t dcOnly[64] = {};
      dcOnly[0] = mb.levels[k][0];
      DequantiseLevels(rebuilt, dcOnly, quant, true);
      IdctToPixelsWith(idctWeights, out, rebuilt);
      dcError = BlockSquaredError(out, 8, samples, stride);
    }
    const bool coded = count > 0 && 16 * codedError + lambda * codedBits < 16 * dcError;
    if (!coded) std::memset(mb.levels[k] + 1, 0, 63);
    SetCoded(mb, k, coded);
    total.distortion += coded ? codedError : dcError;
    total.bits += 8 + (coded ? codedBits : 0);
  }
  total.bits += MacroblockHeaderBits(mb, interPicture);
  total.cost = 16 * total.distortion + lambda * total.bits;
  return total;
}

ModeCost CodeInterMacroblock(const MacroblockPlanes& source, const MacroblockPlanes& prediction,
                             int32_t row, int32_t column, int32_t quant,
                             const int32_t idctWeights[6], CodedMacroblock& mb,
                             int32_t skipSad, bool estimate) {
  const EncoderKernels& kernels = EncoderKernelTable();
  const int64_t lambda = Lambda16(quant);
  mb.notCoded = false;
  mb.mbType = kMbInter;
  mb.cbpy = 0;
  mb.cbpc = 0;
  ModeCost total;
  for (int32_t k = 0; k < 6; ++k) {
    int32_t stride = 0;
    int32_t predictionStride = 0;
    const uint8_t* samples = BlockAt(source, row, column, k, &stride);
    const uint8_t* predicted = BlockAt(prediction, row, column, k, &predictionStride);
    int16_t values[64];
    int32_t residualSad = 0;
    const int64_t predictionError =
        kernels.blockResidual(values, samples, stride, predicted, predictionStride, &residualSad);
    TrimmedLevels trimmed;
    int16_t coefficients[64];
    if (residualSad >= skipSad) {
      kernels.forwardTransform(coefficients, values);
      const int32_t count = QuantiseInter(mb.levels[k], coefficients, quant);
      if (estimate && count > kEstimateTrimmedLevels) {
        trimmed = {count, BlockEventBits(mb.levels[k], 0),
                   LevelErrorChange(coefficients, mb.levels[k], quant, 0)};
      } else if (count > 0) {
        trimmed = TrimLevels(mb.levels[k], coefficients, quant, 0, lambda);
      }
    }
    int64_t codedError = predictionError;
    if (trimmed.count > 0 && estimate) {
      codedError = std::max<int64_t>(predictionError + trimmed.errorChange, 0);
    } else if (trimmed.count > 0) {
      int16_t residual[64];
      DequantiseLevels(residual, mb.levels[k], quant, false);
      IdctToResidualWith(idctWeights, residual);
      codedError = 0;
      for (int32_t i = 0; i < 64; ++i) {
        const int32_t at = (i >> 3) * predictionStride + (i & 7);
        int32_t rebuilt = predicted[at] + residual[i];
        rebuilt = rebuilt < 0 ? 0 : (rebuilt > 255 ? 255 : rebuilt);
        const int32_t d = rebuilt - samples[(i >> 3) * stride + (i & 7)];
        codedError += d * d;
      }
    }
    const int32_t codedBits = trimmed.bits;
    const bool coded =
        trimmed.count > 0 && 16 * codedError + lambda * codedBits < 16 * predictionError;
    if (!coded) std::memset(mb.levels[k], 0, 64);
    SetCoded(mb, k, coded);
    total.distortion += coded ? codedError : predictionError;
    total.bits += coded ? codedBits : 0;
  }
  total.bits += MacroblockHeaderBits(mb, true);
  total.cost = 16 * total.distortion + lambda * total.bits;
  return total;
}

int64_t MacroblockSquaredError(const MacroblockPlanes& a, const MacroblockPlanes& b, int32_t row,
                               int32_t column) {
  int64_t sum = 0;
  for (int32_t k = 0; k < 6; ++k) {
    int32_t strideA = 0;
    int32_t strideB = 0;
    const uint8_t* pa = BlockAt(a, row, column, k, &strideA);
    const uint8_t* pb = BlockAt(b, row, column, k, &strideB);
    sum += BlockSquaredError(pa, strideA, pb, strideB);
  }
  return sum;
}

}  // namespace clipnote::h263
