#include "video/recon/macroblock_reconstruction.h"

#include <cstring>

#include "video/parser/macroblock_syntax.h"
#include "video/parser/video_decoder.h"
#include "video/recon/dequantise.h"
#include "video/recon/inverse_transform.h"
#include "video/recon/reference_grids.h"
#include "video/recon/store_block.h"

namespace clipnote::h263 {

namespace {

constexpr int kBlocks = 6;  // four luma, then U, then V
constexpr int kU = 4;
constexpr int kV = 5;

bool IsIntraType(uint8_t mbType) { return mbType == kMbIntra || mbType == kMbIntraQ; }

// Coded-block bit of block k: cbpy bit 3 - k for luma, cbpc bit 1 for U, bit 0 for V.
bool BlockCoded(int k) {
  if (k < 4) return ((videoDecoder.cbpy >> (3 - k)) & 1) != 0;
  return ((videoDecoder.cbpc >> (kV - k)) & 1) != 0;
}

// Number (raster order over 8 x 8 blocks) of luma block k of macroblock n.
int LumaBlockNumber(int n, int k) {
  const int mbsPerRow = videoDecoder.width / 16;
  const int blocksPerRow = videoDecoder.width / 8;
  const int b0 = 2 * (n / mbsPerRow) * blocksPerRow + 2 * (n % mbsPerRow);
  return b0 + (k & 1) + (k >> 1) * blocksPerRow;
}

// Records that macroblock n of the picture may differ from the previous picture.
void MarkChanged(int n) {
  const int count = (videoDecoder.width / 16) * (videoDecoder.height / 16);
  if (n >= 0 && n < count) videoDecoder.changedMbs[n] = 1;
}

void StoreMacroblock(uint8_t* y, uint8_t* u, uint8_t* v, int n, uint8_t samples[kBlocks][64]) {
  MarkChanged(n);
  const int w = videoDecoder.width, h = videoDecoder.height;
  for (int k = 0; k < 4; ++k) StoreBlock(y, samples[k], w, h, 8, 8, LumaBlockNumber(n, k));
  StoreBlock(u, samples[kU], w / 2, h / 2, 8, 8, n);
  StoreBlock(v, samples[kV], w / 2, h / 2, 8, 8, n);
}

}  // namespace

uint8_t ApplyDquant(uint8_t quant, uint8_t dquantIndex) {
  static constexpr int kDelta[4] = {-1, -2, 1, 2};
  int q = quant + kDelta[dquantIndex & 3];
  if (q < 1) q = 1;
  if (q > 31) q = 31;
  return static_cast<uint8_t>(q);
}

void DecodeMacroblock(uint8_t* y, uint8_t* u, uint8_t* v, int32_t macroblock) {
  if (videoDecoder.pictureCodingType == 0) {
    ReconstructIntraMacroblock(y, u, v, macroblock);
  } else {
    ReconstructInterMacroblock(y, u, v, macroblock);
  }
}

void ReconstructIntraMacroblock(uint8_t* y, uint8_t* u, uint8_t* v, int32_t macroblock) {
  VideoDecoder& d = videoDecoder;
  int8_t levels[kBlocks][64];
  d.mbError = DecodeMacroblockSyntax(levels[0], levels[kU], levels[kV]);
  if (d.mbError != 0) return;
  if (d.mbType == kMbIntraQ) d.quant = ApplyDquant(d.quant, d.dquantIndex);

  int16_t coefficients[kBlocks][64];
  uint8_t samples[kBlocks][64];
  for (int k = 0; k < kBlocks; ++k) Dequantise(coefficients[k], levels[k]);
  for (int k = 0; k < kBlocks; ++k) IdctToPixels(samples[k], coefficients[k]);
  StoreMacroblock(y, u, v, macroblock, samples);
}

void ReconstructInterMacroblock(uint8_t* y, uint8_t* u, uint8_t* v, int32_t macroblock) {
  VideoDecoder& d = videoDecoder;
  int8_t levels[kBlocks][64];
  d.mbError = DecodeMacroblockSyntax(levels[0], levels[kU], levels[kV]);
  if (d.mbError != 0) return;

  int16_t coefficients[kBlocks][64];
  const bool coded = d.cod == 0;
  if (coded) {
    if (d.mbType == kMbInterQ || d.mbType == kMbIntraQ) {
      d.quant = ApplyDquant(d.quant, d.dquantIndex);
    }
    if (IsIntraType(d.mbType)) {
      // An intra macroblock in an INTER picture: no prediction at all.
      uint8_t samples[kBlocks][64];
      for (int k = 0; k < kBlocks; ++k) {
        Dequantise(coefficients[k], levels[k]);
        IdctToPixels(samples[k], coefficients[k]);
      }
      StoreMacroblock(y, u, v, macroblock, samples);
      return;
    }
  }
  // A macroblock number past the planes (a stream that changed format) stores nothing.
  const int mbsPerRow = d.width / 16;
  if (macroblock < 0 || macroblock >= mbsPerRow * (d.height / 16)) return;
  const int row = macroblock / mbsPerRow;
  const int column = macroblock % mbsPerRow;
  const int w = d.width;
  uint8_t* luma = y + 16 * row * w + 16 * column;
  uint8_t* const blocks[kBlocks] = {luma,
                                    luma + 8,
                                    luma + 8 * w,
                                    luma + 8 * w + 8,
                                    u + 8 * row * (w / 2) + 8 * column,
                                    v + 8 * row * (w / 2) + 8 * column};
  // A macroblock without coefficients and with a zero vector repeats the previous picture.
  if (coded || d.mvX != 0 || d.mvY != 0) MarkChanged(macroblock);
  // The prediction goes straight into the picture; coded blocks add their residual there.
  // With a zero vector and the grids in step with the previous picture, the prediction
  // is the previous picture's macroblock itself, copied row by row.
  if (d.mvX == 0 && d.mvY == 0 && d.referenceInSync != 0) {
    CopyPreviousMacroblock(blocks, row, column);
  } else {
    PredictMacroblock(blocks, row, column, d.mvX, d.mvY);
  }
  if (!coded) return;
  for (int k = 0; k < kBlocks; ++k) {
    if (!BlockCoded(k)) continue;  // no coefficients: a zero residual, never transformed
    Dequantise(coefficients[k], levels[k]);
    IdctToResidual(coefficients[k]);
    AddResidualInto(blocks[k], k < 4 ? w : w / 2, coefficients[k]);
  }
}

}  // namespace clipnote::h263
