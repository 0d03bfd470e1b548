#pragma once

// The coding of one macroblock chosen by rate and distortion: each block's levels, and which
// blocks are worth their bits, with distortion measured on what the decoder's own kernels
// reconstruct (dequantisation and inverse transform) and rate counted by the writer's codes.
// Costs are 16 x squared error + lambda16 x bits, lambda16 = 16 x 0.85 x quant^2.

#include <cstdint>

#include "video/encoder/macroblock_syntax.h"

namespace clipnote::h263 {

struct MacroblockPlanes {
  const uint8_t* y;
  const uint8_t* u;
  const uint8_t* v;
  int32_t width;  // of the luma plane; chroma rows are width / 2 apart
};

struct ModeCost {
  int64_t distortion = 0;  // squared error over the six blocks
  int32_t bits = 0;        // the whole macroblock, header included
  int64_t cost = 0;
};

int64_t Lambda16(int32_t quant);

// Intra coding of macroblock (row, column) of `source` into mb (type INTRA). With
// `estimate`, errors are reckoned on the coefficients (the transform keeps energy) instead
// of being rebuilt through the decoder's kernels.
ModeCost CodeIntraMacroblock(const MacroblockPlanes& source, int32_t row, int32_t column,
                             int32_t quant, const int32_t idctWeights[6], bool interPicture,
                             CodedMacroblock& mb, bool estimate = false);

// The residual sum of absolute differences below which no coefficient of an inter block can
// leave the dead zone at `quant`: every coefficient is at most a quarter of that sum (the
// transform is orthonormal), plus the transform's rounding.
int32_t InterBlockZeroSad(int32_t quant);

// Inter coding against `prediction` (a picture laid out as `source`) into mb (type INTER,
// MVD codes already set by the caller). Blocks whose residual SAD is below `skipSad` are left
// uncoded without being transformed (InterBlockZeroSad(quant) changes nothing; more trades
// quality for speed). The levels are trimmed by rate and distortion (TrimLevels); with
// `estimate` (as for CodeIntraMacroblock) only blocks of at most 32 levels are.
ModeCost CodeInterMacroblock(const MacroblockPlanes& source, const MacroblockPlanes& prediction,
                             int32_t row, int32_t column, int32_t quant,
                             const int32_t idctWeights[6], CodedMacroblock& mb,
                             int32_t skipSad = 0, bool estimate = false);

// Squared error of macroblock (row, column) between two pictures laid out alike.
int64_t MacroblockSquaredError(const MacroblockPlanes& a, const MacroblockPlanes& b, int32_t row,
                               int32_t column);

}  // namespace clipnote::h263
