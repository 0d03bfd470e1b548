#pragma once

#include <cstdint>

namespace clipnote::h263 {

// Converts a planar 4:2:0 picture (columns x rows luma samples, then the U and V
// planes of (columns/2) x (rows/2)) into a 24-bit image: bytes blue, green,
// red; rows stored bottom-up; stride 3 x columns. Uses the colour tables, which
// BuildColourTables must have filled. rows and columns must be even and
// positive; other sizes leave the destination untouched.
void ConvertToBgr24(const uint8_t* source, uint8_t* destination, int rows, int columns);

// Doubles a 24-bit image (columns x rows pixels, stride 3 x columns) to
// 2 x columns by 2 x rows (stride 6 x columns). New samples are the truncated
// means of their neighbours in the same channel; past the last column and the
// last stored row the edge values repeat. Note the argument order: columns
// before rows. Non-positive sizes leave the destination untouched.
void DoubleBgr24(const uint8_t* source, uint8_t* destination, int columns, int rows);

}  // namespace clipnote::h263
