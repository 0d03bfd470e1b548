#pragma once

// Macroblock and block layers: header, motion-vector prediction and reconstruction, and the
// quantised levels of the six blocks. Also the initialisation of the whole parser.

#include <cstdint>

#include "video/parser/video_decoder.h"

// Resets reader positions and header fields, records the picture stores, sets width x height
// from `sourceFormat` and builds the VLC tables. The reader's source is set by SetBitSource.
void InitBitstream(int32_t sourceFormat, uint8_t* bitBuffer, uint8_t* previousPicture,
                   uint8_t* interpolatedReference);

void ClearMvStore();
void ResetMacroblockState();

// Returns kParseOk, kBadMcbpc or kBadCbpy.
int32_t ParseMacroblockHeader();

// Column and row of macroblock `mbIndex` (GOB = macroblock row); false when they fall outside
// the vector store (no valid geometry set).
bool CurrentMbPosition(int32_t* column, int32_t* row);

// Median predictor of vector component `component` (0 = x, 1 = y) for macroblock (column, row).
int8_t PredictMvComponent(int32_t component, int32_t column, int32_t row);

// Reconstructs (mvX, mvY) of macroblock mbIndex from the MVD codes and stores it. 0 or 1.
int32_t DecodeMotionVector();

uint8_t ReadIntraDc();

// Quantised levels of one block in zigzag order (64 elements). `pattern` bit `bit` tells whether
// the block carries TCOEF events. Returns 0, or 1 on an invalid code or a run past the block.
int32_t DecodeIntraBlock(int8_t* block, uint8_t pattern, int32_t bit);
int32_t DecodeInterBlock(int8_t* block, uint8_t pattern, int32_t bit);

// One macroblock: header, vector and the six blocks (luma: 4 x 64, then Cb and Cr: 64 each).
// Returns 0 or 1.
int32_t DecodeMacroblockSyntax(int8_t* luma, int8_t* cb, int8_t* cr);
