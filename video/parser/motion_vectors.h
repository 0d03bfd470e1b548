#pragma once

// Motion vectors of the macroblock layer: the store of the picture's vectors, the median
// prediction and the reconstruction from the MVD codes.

#include <cstdint>

#include "video/parser/video_decoder.h"

namespace clipnote::h263 {

void ClearMvStore();

// Column and row of macroblock `mbIndex` (GOB = macroblock row); false when they fall outside
// the vector store (no valid geometry set).
bool CurrentMbPosition(int32_t* column, int32_t* row);

// Median predictor of vector component `component` (0 = x, 1 = y) for macroblock (column, row).
int8_t PredictMvComponent(int32_t component, int32_t column, int32_t row);

// Reconstructs (mvX, mvY) of macroblock mbIndex from the MVD codes and stores it. 0 or 1.
int32_t DecodeMotionVector();

}  // namespace clipnote::h263
