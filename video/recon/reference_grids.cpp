#include "video/recon/reference_grids.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "video/parser/video_decoder.h"
#include "video/recon/recon_kernels.h"

namespace clipnote::h263 {

namespace {

// The rounded means of H.263's bilinear half-sample interpolation.
inline uint8_t Mean2(int a, int b) { return static_cast<uint8_t>((a + b + 1) >> 1); }
inline uint8_t Mean4(int a, int b, int c, int d) {
  return static_cast<uint8_t>((a + b + c + d + 2) >> 2);
}

#if defined(__SSE2__)
// Sixteen source samples at a time: the sample, its horizontal, vertical and centre means.
// The two-sample means are the SSE2 rounding average, (a + b + 1) >> 1; the four-sample
// mean is taken in 16-bit lanes. Both equal Mean2 and Mean4 exactly.
struct Means16 {
  __m128i sample, horizontal, vertical, centre;
};

Means16 MeansOf16(const uint8_t* row, const uint8_t* below) {
  const auto load = [](const uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  };
  const __m128i p = load(row), r = load(row + 1), d = load(below), e = load(below + 1);
  const __m128i zero = _mm_setzero_si128();
  const __m128i two = _mm_set1_epi16(2);
  const auto centreHalf = [&](auto unpack) {
    const __m128i sum = _mm_add_epi16(_mm_add_epi16(unpack(p, zero), unpack(r, zero)),
                                      _mm_add_epi16(unpack(d, zero), unpack(e, zero)));
    return _mm_srli_epi16(_mm_add_epi16(sum, two), 2);
  };
  const __m128i low = centreHalf([](__m128i a, __m128i b) { return _mm_unpacklo_epi8(a, b); });
  const __m128i high = centreHalf([](__m128i a, __m128i b) { return _mm_unpackhi_epi8(a, b); });
  return {p, _mm_avg_epu8(p, r), _mm_avg_epu8(p, d), _mm_packus_epi16(low, high)};
}

void Store16(uint8_t* at, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(at), v); }
#endif

// Columns [x, to) of a luma grid row, one sample at a time.
inline void LumaGridColumns(const uint8_t* row, const uint8_t* below, int width, int x, int to,
                            uint8_t* top, uint8_t* half) {
  const int inner = std::min(to, width - 1);
  for (; x < inner; ++x) {
    const int p = row[x], r = row[x + 1], d = below[x], e = below[x + 1];
    top[2 * x] = static_cast<uint8_t>(p);
    top[2 * x + 1] = Mean2(p, r);
    half[2 * x] = Mean2(p, d);
    half[2 * x + 1] = Mean4(p, r, d, e);
  }
  if (to == width) {
    x = width - 1;
    const int p = row[x], d = below[x];
    top[2 * x] = top[2 * x + 1] = static_cast<uint8_t>(p);
    half[2 * x] = half[2 * x + 1] = Mean2(p, d);
  }
}

// A chroma cell's quarter row: the sample (or vertical mean) at offset 0, the
// horizontal (or centre) mean at offsets 1 to 3.
inline void PutCellRow(uint8_t* cell, uint8_t first, uint8_t rest) {
  cell[0] = first;
  cell[1] = rest;
  cell[2] = rest;
  cell[3] = rest;
}

#if defined(__SSE2__)
// Sixteen 4-byte cells: first[i], then rest[i] three times, as four vectors of four cells.
void StoreCells16(uint8_t* at, __m128i first, __m128i rest) {
  const __m128i pairsLow = _mm_unpacklo_epi8(first, rest), pairsHigh = _mm_unpackhi_epi8(first, rest);
  const __m128i restLow = _mm_unpacklo_epi8(rest, rest), restHigh = _mm_unpackhi_epi8(rest, rest);
  Store16(at, _mm_unpacklo_epi16(pairsLow, restLow));
  Store16(at + 16, _mm_unpackhi_epi16(pairsLow, restLow));
  Store16(at + 32, _mm_unpacklo_epi16(pairsHigh, restHigh));
  Store16(at + 48, _mm_unpackhi_epi16(pairsHigh, restHigh));
}
#endif

// Columns [x, to) of a chroma grid row, one sample at a time.
inline void ChromaGridColumns(const uint8_t* row, const uint8_t* below, int width, int x, int to,
                              uint8_t* q0, uint8_t* q1, int stride) {
  for (; x < to; ++x) {
    const int xr = x + 1 < width ? x + 1 : x;
    const int s = row[x], r = row[xr], d = below[x], e = below[xr];
    PutCellRow(q0 + 4 * x, static_cast<uint8_t>(s), Mean2(s, r));
    for (int q = 0; q < 3; ++q) PutCellRow(q1 + q * stride + 4 * x, Mean2(s, d), Mean4(s, r, d, e));
  }
}

}  // namespace

void BuildLumaGridRowPlain(const uint8_t* row, const uint8_t* below, int width, int from, int to,
                           uint8_t* top, uint8_t* half) {
  LumaGridColumns(row, below, width, from, to, top, half);
}

void BuildChromaGridRowPlain(const uint8_t* row, const uint8_t* below, int width, int from,
                             int to, uint8_t* q0, uint8_t* q1, int stride) {
  ChromaGridColumns(row, below, width, from, to, q0, q1, stride);
}

#if defined(__SSE2__)
namespace {

// The SSE2 rows, inline here so that the grid parts below run them without a call per row.
// Steps of 16 source samples; a step that would read past the row is moved back to end at
// width - 2 (it recomputes a few columns, to the same values).
inline void LumaGridRowWide(const uint8_t* row, const uint8_t* below, int width, int from, int to,
                            uint8_t* top, uint8_t* half) {
  int x = from;
  const int inner = std::min(to, width - 1);  // columns that have a right neighbour
  if (width > 16) {
    for (; x < inner; x += 16) {
      const int at = std::min(x, width - 17);
      const Means16 m = MeansOf16(row + at, below + at);
      Store16(top + 2 * at, _mm_unpacklo_epi8(m.sample, m.horizontal));
      Store16(top + 2 * at + 16, _mm_unpackhi_epi8(m.sample, m.horizontal));
      Store16(half + 2 * at, _mm_unpacklo_epi8(m.vertical, m.centre));
      Store16(half + 2 * at + 16, _mm_unpackhi_epi8(m.vertical, m.centre));
    }
    x = std::max(from, inner);
  }
  LumaGridColumns(row, below, width, x, to, top, half);
}

// As for the luma rows: steps of 16, moved back to end at width - 2 where they must.
inline void ChromaGridRowWide(const uint8_t* row, const uint8_t* below, int width, int from,
                              int to, uint8_t* q0, uint8_t* q1, int stride) {
  int x = from;
  const int inner = std::min(to, width - 1);
  if (width > 16) {
    for (; x < inner; x += 16) {
      const int at = std::min(x, width - 17);
      const Means16 m = MeansOf16(row + at, below + at);
      StoreCells16(q0 + 4 * at, m.sample, m.horizontal);
      for (int q = 0; q < 3; ++q) StoreCells16(q1 + q * stride + 4 * at, m.vertical, m.centre);
    }
    x = std::max(from, inner);
  }
  ChromaGridColumns(row, below, width, x, to, q0, q1, stride);
}

}  // namespace

void BuildLumaGridRowSse2(const uint8_t* row, const uint8_t* below, int width, int from, int to,
                          uint8_t* top, uint8_t* half) {
  LumaGridRowWide(row, below, width, from, to, top, half);
}

void BuildChromaGridRowSse2(const uint8_t* row, const uint8_t* below, int width, int from, int to,
                            uint8_t* q0, uint8_t* q1, int stride) {
  ChromaGridRowWide(row, below, width, from, to, q0, q1, stride);
}
#endif

namespace {

// Rows [rowFrom, rowTo) and columns [from, to) of a plane's luma grid (cells of 2 x 2) or
// chroma grid (cells of 4 x 4), one source row at a time by kRow, inline here so that a part
// costs one call, not one per row.
template <int kCell, auto kRow>
void BuildGridPart(const uint8_t* plane, int width, int height, int rowFrom, int rowTo, int from,
                   int to, uint8_t* grid) {
  const int stride = kCell * width;
  for (int y = rowFrom; y < rowTo; ++y) {
    const uint8_t* row = plane + y * width;
    const uint8_t* below = (y + 1 < height) ? row + width : row;
    uint8_t* first = grid + kCell * y * stride;
    if constexpr (kCell == 2) {
      kRow(row, below, width, from, to, first, first + stride);
    } else {
      kRow(row, below, width, from, to, first, first + stride, stride);
    }
  }
}

}  // namespace

void BuildLumaGridPartPlain(const uint8_t* plane, int width, int height, int rowFrom, int rowTo,
                            int from, int to, uint8_t* grid) {
  BuildGridPart<2, LumaGridColumns>(plane, width, height, rowFrom, rowTo, from, to, grid);
}

void BuildChromaGridPartPlain(const uint8_t* plane, int width, int height, int rowFrom, int rowTo,
                              int from, int to, uint8_t* grid) {
  BuildGridPart<4, ChromaGridColumns>(plane, width, height, rowFrom, rowTo, from, to, grid);
}

#if defined(__SSE2__)
void BuildLumaGridPartSse2(const uint8_t* plane, int width, int height, int rowFrom, int rowTo,
                           int from, int to, uint8_t* grid) {
  BuildGridPart<2, LumaGridRowWide>(plane, width, height, rowFrom, rowTo, from, to, grid);
}

void BuildChromaGridPartSse2(const uint8_t* plane, int width, int height, int rowFrom, int rowTo,
                             int from, int to, uint8_t* grid) {
  BuildGridPart<4, ChromaGridRowWide>(plane, width, height, rowFrom, rowTo, from, to, grid);
}
#endif

namespace {

void BuildLumaGridPart(const uint8_t* plane, int width, int height, int rowFrom, int rowTo,
                       int from, int to, uint8_t* grid) {
  reconKernels.buildLumaGridPart(plane, width, height, rowFrom, rowTo, from, to, grid);
}

void BuildChromaGridPart(const uint8_t* plane, int width, int height, int rowFrom, int rowTo,
                         int from, int to, uint8_t* grid) {
  reconKernels.buildChromaGridPart(plane, width, height, rowFrom, rowTo, from, to, grid);
}

uint64_t Load64(const uint8_t* at) {
  uint64_t v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

// Bytes 0, 2, 4 and 6 of v, packed into its low four bytes.
uint64_t EvenBytes(uint64_t v) {
  v &= 0x00FF00FF00FF00FFull;
  v = (v | v >> 8) & 0x0000FFFF0000FFFFull;
  return (v | v >> 16) & 0xFFFFFFFFull;
}

// Bytes 0 and 4 of v, packed into its low two bytes.
uint64_t Bytes0And4(uint64_t v) {
  v &= 0x000000FF000000FFull;
  return (v | v >> 24) & 0xFFFFull;
}

// The 8 x 8 block at every `step`-th sample of `step`-th rows, all inside the grid. The
// two steps the decoder uses pick each row's samples out of 64-bit words (bytes in memory
// order, as on the little-endian machines this is built for), never reading past the
// row's last sample.
static_assert(std::endian::native == std::endian::little);

template <int step>
void FetchInside(uint8_t* destination, int stride, const uint8_t* source, int gridWidth) {
  for (int y = 0; y < 8; ++y, source += step * gridWidth, destination += stride) {
    uint64_t row;
    if constexpr (step == 2) {
      // Samples at 0, 2, .., 14: the even bytes of [0, 8) and the odd bytes of [7, 15).
      row = EvenBytes(Load64(source)) | EvenBytes(Load64(source + 7) >> 8) << 32;
    } else {
      // Samples at 0, 4, .., 28, the last two from the word [21, 29).
      row = Bytes0And4(Load64(source)) | Bytes0And4(Load64(source + 8)) << 16 |
            Bytes0And4(Load64(source + 16)) << 32 | Bytes0And4(Load64(source + 21) >> 24) << 48;
    }
    std::memcpy(destination, &row, sizeof row);
  }
}

#if defined(__SSE2__)
// FetchInside with 16-byte loads, two rows at a time; every load stays inside its grid
// row (the caller checks that col + 16 x step / 2 fits). Step 2 keeps the even bytes of
// 16, step 4 every fourth byte of 32.
template <int step>
void FetchInsideWide(uint8_t* destination, int stride, const uint8_t* source, int gridWidth) {
  const auto load = [](const uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  };
  const auto picked = [&](const uint8_t* at) {
    if constexpr (step == 2) {
      return _mm_and_si128(load(at), _mm_set1_epi16(0x00FF));  // eight 16-bit samples
    } else {
      const __m128i mask = _mm_set1_epi32(0x000000FF);
      return _mm_packs_epi32(_mm_and_si128(load(at), mask), _mm_and_si128(load(at + 16), mask));
    }
  };
  for (int y = 0; y < 8; y += 2) {
    const __m128i rows = _mm_packus_epi16(picked(source), picked(source + step * gridWidth));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(destination), rows);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(destination + stride), _mm_srli_si128(rows, 8));
    source += 2 * step * gridWidth;
    destination += 2 * stride;
  }
}
#endif

}  // namespace

void BuildLumaGrid(const uint8_t* plane, int width, int height, uint8_t* grid) {
  if (width <= 0) return;
  BuildLumaGridPart(plane, width, height, 0, height, 0, width, grid);
}

void BuildChromaGrid(const uint8_t* plane, int width, int height, uint8_t* grid) {
  if (width <= 0) return;
  BuildChromaGridPart(plane, width, height, 0, height, 0, width, grid);
}

void FetchFromGrid(uint8_t destination[64], const uint8_t* grid, int gridWidth, int gridHeight,
                   int row, int col, int step) {
  FetchFromGridInto(destination, 8, grid, gridWidth, gridHeight, row, col, step);
}

namespace {

// A fetch with the position inside the grid, by one of the decoder's two steps (FetchInside)
// or any other.
bool FetchWithin(uint8_t* destination, int stride, const uint8_t* grid, int gridWidth,
                 int gridHeight, int row, int col, int step) {
  const int span = 7 * step;
  if (!(row >= 0 && col >= 0 && row + span < gridHeight && col + span < gridWidth)) return false;
  const uint8_t* source = grid + row * gridWidth + col;
  // The decoder's two steps get their own unrolled copies.
  if (step == 2) {
    FetchInside<2>(destination, stride, source, gridWidth);
  } else if (step == 4) {
    FetchInside<4>(destination, stride, source, gridWidth);
  } else {
    for (int y = 0; y < 8; ++y, source += step * gridWidth) {
      for (int x = 0; x < 8; ++x) destination[stride * y + x] = source[step * x];
    }
  }
  return true;
}

// A vector reaching outside the picture: each coordinate clamped to the grid.
void FetchClamped(uint8_t* destination, int stride, const uint8_t* grid, int gridWidth,
                  int gridHeight, int row, int col, int step) {
  for (int y = 0; y < 8; ++y) {
    const int gy = std::clamp(row + step * y, 0, gridHeight - 1);
    for (int x = 0; x < 8; ++x) {
      const int gx = std::clamp(col + step * x, 0, gridWidth - 1);
      destination[stride * y + x] = grid[gy * gridWidth + gx];
    }
  }
}

}  // namespace

void FetchFromGridIntoPlain(uint8_t* destination, int stride, const uint8_t* grid, int gridWidth,
                            int gridHeight, int row, int col, int step) {
  if (FetchWithin(destination, stride, grid, gridWidth, gridHeight, row, col, step)) return;
  FetchClamped(destination, stride, grid, gridWidth, gridHeight, row, col, step);
}

#if defined(__SSE2__)
void FetchFromGridIntoSse2(uint8_t* destination, int stride, const uint8_t* grid, int gridWidth,
                           int gridHeight, int row, int col, int step) {
  // 16-byte loads where every one of them stays inside its grid row.
  if (row >= 0 && col >= 0 && row + 7 * step < gridHeight) {
    const uint8_t* source = grid + row * gridWidth + col;
    if (step == 2 && col + 16 <= gridWidth) {
      return FetchInsideWide<2>(destination, stride, source, gridWidth);
    }
    if (step == 4 && col + 32 <= gridWidth) {
      return FetchInsideWide<4>(destination, stride, source, gridWidth);
    }
  }
  FetchFromGridIntoPlain(destination, stride, grid, gridWidth, gridHeight, row, col, step);
}
#endif

void FetchFromGridInto(uint8_t* destination, int stride, const uint8_t* grid, int gridWidth,
                       int gridHeight, int row, int col, int step) {
  reconKernels.fetchFromGridInto(destination, stride, grid, gridWidth, gridHeight, row, col, step);
}

void AddResidual(uint8_t* samples, const int16_t* residual, int count) {
  for (int i = 0; i < count; ++i) {
    const int sum = samples[i] + residual[i];
    samples[i] = static_cast<uint8_t>(sum < 0 ? 0 : (sum > 255 ? 255 : sum));
  }
}

void AddResidualIntoPlain(uint8_t* samples, int stride, const int16_t residual[64]) {
  for (int y = 0; y < 8; ++y) AddResidual(samples + y * stride, residual + 8 * y, 8);
}

#if defined(__SSE2__)
void AddResidualIntoSse2(uint8_t* samples, int stride, const int16_t residual[64]) {
  // Sample plus residual fits 16 bits; the unsigned saturating pack is the clamp.
  for (int y = 0; y < 8; ++y, samples += stride) {
    const __m128i row = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples));
    const __m128i wide = _mm_unpacklo_epi8(row, _mm_setzero_si128());
    const __m128i add = _mm_loadu_si128(reinterpret_cast<const __m128i*>(residual + 8 * y));
    const __m128i sum = _mm_packus_epi16(_mm_add_epi16(wide, add), _mm_setzero_si128());
    _mm_storel_epi64(reinterpret_cast<__m128i*>(samples), sum);
  }
}
#endif

void AddResidualInto(uint8_t* samples, int stride, const int16_t residual[64]) {
  reconKernels.addResidualInto(samples, stride, residual);
}

// Grid layout inside interpolatedReference: luma at 0, U at 4WH, V at 8WH, each
// 2W x 2H bytes.
void BuildLumaReference() {
  const VideoDecoder& d = videoDecoder;
  BuildLumaGrid(d.previousPicture, d.width, d.height, d.interpolatedReference);
}

void BuildChromaReference(int component) {
  const VideoDecoder& d = videoDecoder;
  const int w = d.width, h = d.height;
  const uint8_t* plane = d.previousPicture + w * h + component * (w / 2) * (h / 2);
  BuildChromaGrid(plane, w / 2, h / 2, d.interpolatedReference + (4 + 4 * component) * w * h);
}

void UpdateReferenceAround(const uint8_t* changedMbs) {
  const VideoDecoder& d = videoDecoder;
  const int w = d.width, h = d.height;
  const int columns = w / 16, rows = h / 16;
  if (columns <= 0 || rows <= 0) return;
  const uint8_t* u = d.previousPicture + w * h;
  const uint8_t* v = u + (w / 2) * (h / 2);
  const auto changed = [&](int row, int column) {
    return row < rows && column < columns && changedMbs[row * columns + column] != 0;
  };
  for (int row = 0; row < rows; ++row) {
    // A macroblock's cells are built from its own samples and, on its last row and
    // column, from those of the macroblocks below and to the right.
    for (int column = 0; column < columns;) {
      const auto stale = [&](int c) {
        return changed(row, c) || changed(row, c + 1) || changed(row + 1, c) ||
               changed(row + 1, c + 1);
      };
      if (!stale(column)) {
        ++column;
        continue;
      }
      int end = column + 1;
      while (end < columns && stale(end)) ++end;
      BuildLumaGridPart(d.previousPicture, w, h, 16 * row, 16 * row + 16, 16 * column, 16 * end,
                        d.interpolatedReference);
      BuildChromaGridPart(u, w / 2, h / 2, 8 * row, 8 * row + 8, 8 * column, 8 * end,
                          d.interpolatedReference + 4 * w * h);
      BuildChromaGridPart(v, w / 2, h / 2, 8 * row, 8 * row + 8, 8 * column, 8 * end,
                          d.interpolatedReference + 8 * w * h);
      column = end;
    }
  }
}

void FetchLumaPrediction(uint8_t destination[64], int block, int vectorX, int vectorY) {
  const VideoDecoder& d = videoDecoder;
  const int blocksPerRow = d.width / 8;
  FetchFromGrid(destination, d.interpolatedReference, 2 * d.width, 2 * d.height,
                16 * (block / blocksPerRow) + vectorY, 16 * (block % blocksPerRow) + vectorX, 2);
}

void FetchChromaPrediction(uint8_t destination[64], int macroblock, int component, int vectorX,
                           int vectorY) {
  const VideoDecoder& d = videoDecoder;
  const int w = d.width, h = d.height;
  const int mbsPerRow = w / 16;
  FetchFromGrid(destination, d.interpolatedReference + (4 + 4 * component) * w * h, 2 * w, 2 * h,
                32 * (macroblock / mbsPerRow) + vectorY, 32 * (macroblock % mbsPerRow) + vectorX,
                4);
}

void PredictMacroblock(uint8_t* const blocks[6], int mbRow, int mbCol, int vectorX, int vectorY) {
  const VideoDecoder& d = videoDecoder;
  const int w = d.width, h = d.height;
  // Luma block k sits at block row 2 mbRow + k / 2, block column 2 mbCol + k % 2.
  for (int k = 0; k < 4; ++k) {
    FetchFromGridInto(blocks[k], w, d.interpolatedReference, 2 * w, 2 * h,
                      16 * (2 * mbRow + (k >> 1)) + vectorY, 16 * (2 * mbCol + (k & 1)) + vectorX,
                      2);
  }
  for (int c = 0; c < 2; ++c) {
    FetchFromGridInto(blocks[4 + c], w / 2, d.interpolatedReference + (4 + 4 * c) * w * h, 2 * w,
                      2 * h, 32 * mbRow + vectorY, 32 * mbCol + vectorX, 4);
  }
}

void CopyMacroblock(uint8_t* const blocks[6], const uint8_t* picture, int mbRow, int mbCol) {
  const VideoDecoder& d = videoDecoder;
  const int w = d.width, h = d.height;
  const uint8_t* luma = picture + 16 * mbRow * w + 16 * mbCol;
  for (int y = 0; y < 16; ++y) std::memcpy(blocks[0] + y * w, luma + y * w, 16);
  for (int c = 0; c < 2; ++c) {
    const uint8_t* chroma = picture + w * h + c * (w / 2) * (h / 2) + 8 * mbRow * (w / 2) + 8 * mbCol;
    for (int y = 0; y < 8; ++y) std::memcpy(blocks[4 + c] + y * (w / 2), chroma + y * (w / 2), 8);
  }
}

void CopyPreviousMacroblock(uint8_t* const blocks[6], int mbRow, int mbCol) {
  CopyMacroblock(blocks, videoDecoder.previousPicture, mbRow, mbCol);
}

}  // namespace clipnote::h263
