#pragma once

// The macroblock layer: header, vector and the quantised levels of the six blocks.

#include <cstdint>

#include "video/parser/video_decoder.h"

namespace clipnote::h263 {

void ResetMacroblockState();

// Returns kParseOk, kBadMcbpc or kBadCbpy.
int32_t ParseMacroblockHeader();

// One macroblock: header, vector and the six blocks (luma: 4 x 64, then Cb and Cr: 64 each).
// Returns 0 or 1.
int32_t DecodeMacroblockSyntax(int8_t* luma, int8_t* cb, int8_t* cr);

}  // namespace clipnote::h263
