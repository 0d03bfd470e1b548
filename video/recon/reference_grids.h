#pragma once

#include <cstdint>

namespace clipnote::h263 {

// The previous picture upsampled once per picture, so that every motion-
// compensated prediction becomes a plain strided copy:
//  - the luma grid (2W x 2H) holds each sample, its horizontal and vertical
//    half-sample means and the centre mean (H.263 bilinear rounding);
//  - each chroma grid (4 x plane width by 4 x plane height, i.e. 2W x 2H) gives
//    every chroma sample a 4 x 4 cell: offset 0 is the sample, offsets 1..3 the
//    half-sample mean, so the luma vector read in quarter chroma samples lands
//    where H.263's halved chroma vector would.
// Past the last column and row the neighbours are the edge samples themselves.

// Fills a (2 x width) x (2 x height) luma grid from a width x height plane.
void BuildLumaGrid(const uint8_t* plane, int width, int height, uint8_t* grid);
// Fills a (4 x width) x (4 x height) chroma grid from a width x height plane.
void BuildChromaGrid(const uint8_t* plane, int width, int height, uint8_t* grid);

// Copies the 8 x 8 block G[row + step*y][col + step*x] out of a gridWidth x
// gridHeight grid. Coordinates outside the grid are clamped to its edge, so any
// vector, however invalid, reads inside the grid and continues the edge
// replication.
void FetchFromGrid(uint8_t destination[64], const uint8_t* grid, int gridWidth, int gridHeight,
                   int row, int col, int step);

// FetchFromGrid into 8 rows `stride` bytes apart (FetchFromGrid's rows are 8 apart).
void FetchFromGridInto(uint8_t* destination, int stride, const uint8_t* grid, int gridWidth,
                       int gridHeight, int row, int col, int step);

// samples[i] = clamp(samples[i] + residual[i], 0, 255) for i < count.
void AddResidual(uint8_t* samples, const int16_t* residual, int count);
// AddResidual over an 8 x 8 block whose rows lie `stride` bytes apart.
void AddResidualInto(uint8_t* samples, int stride, const int16_t residual[64]);

// The two versions of each kernel above, with the same results (the entry points call the
// one in reconKernels, recon_kernels.h). For AddResidualInto the results are the same while every sample plus
// its residual fits in 16 bits (residuals from -32768 to 32512): the SSE2 version adds in 16
// bits and wraps outside that (sample 200 plus 32700 gives it 0, the plain version 255). The
// decoder's residuals come clamped to -256..255 by IdctToResidual, well inside it.
// Columns [from, to) of one source row of the luma grid: `top` gets each sample and its
// horizontal mean, `half` the vertical and centre means. `below` is the next row (the row
// itself on the last row); the last column is its own right neighbour.
void BuildLumaGridRowPlain(const uint8_t* row, const uint8_t* below, int width, int from, int to,
                           uint8_t* top, uint8_t* half);
// Columns [from, to) of one source row of a chroma grid: quarter row q0, and quarter rows 1 to
// 3 (all alike) starting at q1, `stride` bytes apart.
void BuildChromaGridRowPlain(const uint8_t* row, const uint8_t* below, int width, int from,
                             int to, uint8_t* q0, uint8_t* q1, int stride);
// Rows [rowFrom, rowTo) and columns [from, to) of a width x height plane's luma or chroma
// grid, row by row as the row kernels build them (a version may write, outside the columns,
// only what the whole rows hold there).
void BuildLumaGridPartPlain(const uint8_t* plane, int width, int height, int rowFrom, int rowTo,
                            int from, int to, uint8_t* grid);
void BuildChromaGridPartPlain(const uint8_t* plane, int width, int height, int rowFrom, int rowTo,
                              int from, int to, uint8_t* grid);
void FetchFromGridIntoPlain(uint8_t* destination, int stride, const uint8_t* grid, int gridWidth,
                            int gridHeight, int row, int col, int step);
void AddResidualIntoPlain(uint8_t* samples, int stride, const int16_t residual[64]);
#if defined(__SSE2__)
void BuildLumaGridRowSse2(const uint8_t* row, const uint8_t* below, int width, int from, int to,
                          uint8_t* top, uint8_t* half);
void BuildChromaGridRowSse2(const uint8_t* row, const uint8_t* below, int width, int from, int to,
                            uint8_t* q0, uint8_t* q1, int stride);
void BuildLumaGridPartSse2(const uint8_t* plane, int width, int height, int rowFrom, int rowTo,
                           int from, int to, uint8_t* grid);
void BuildChromaGridPartSse2(const uint8_t* plane, int width, int height, int rowFrom, int rowTo,
                             int from, int to, uint8_t* grid);
void FetchFromGridIntoSse2(uint8_t* destination, int stride, const uint8_t* grid, int gridWidth,
                           int gridHeight, int row, int col, int step);
void AddResidualIntoSse2(uint8_t* samples, int stride, const int16_t residual[64]);
#endif

// Operations on the decoder's own previous picture and interpolated reference.
void BuildLumaReference();
void BuildChromaReference(int component);  // 0 = U, 1 = V
// Brings all three grids up to date with previousPicture where it may differ from the
// picture they were built from: around each macroblock (raster order, W/16 per row) whose
// changedMbs entry is not 0. Cells of other macroblocks are already what a whole build
// would write.
void UpdateReferenceAround(const uint8_t* changedMbs);
// Luma block number b (raster order over 8 x 8 blocks), vector in half samples.
void FetchLumaPrediction(uint8_t destination[64], int block, int vectorX, int vectorY);
// Chroma block of macroblock n, with the luma vector unchanged.
void FetchChromaPrediction(uint8_t destination[64], int macroblock, int component, int vectorX,
                           int vectorY);
// The six prediction blocks of the macroblock in row mbRow, column mbCol, written straight
// into the picture: blocks[0..3] the luma blocks (rows width apart), blocks[4] and [5] the
// U and V blocks (rows width / 2 apart).
void PredictMacroblock(uint8_t* const blocks[6], int mbRow, int mbCol, int vectorX, int vectorY);
// Macroblock (mbRow, mbCol) of a whole picture (Y, U, V planes at the decoder's size)
// into the blocks, laid out as for PredictMacroblock; blocks 1 to 3 are not used.
void CopyMacroblock(uint8_t* const blocks[6], const uint8_t* picture, int mbRow, int mbCol);
// PredictMacroblock with a zero vector, taken from previousPicture itself: the same
// samples while the grids are in step with it.
void CopyPreviousMacroblock(uint8_t* const blocks[6], int mbRow, int mbCol);

}  // namespace clipnote::h263
