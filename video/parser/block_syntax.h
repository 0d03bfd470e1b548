#pragma once

// The block layer: INTRADC and the TCOEF events of one block.

#include <cstdint>

#include "video/parser/video_decoder.h"

namespace clipnote::h263 {

uint8_t ReadIntraDc();

// Quantised levels of one block in zigzag order (64 elements). `pattern` bit `bit` tells whether
// the block carries TCOEF events. Returns 0, or 1 on an invalid code or a run past the block.
int32_t DecodeIntraBlock(int8_t* block, uint8_t pattern, int32_t bit);
int32_t DecodeInterBlock(int8_t* block, uint8_t pattern, int32_t bit);

}  // namespace clipnote::h263
