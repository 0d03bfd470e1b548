#include "video/recon/reference_grids.h"

#include <algorithm>

#include "video/parser/video_decoder.h"

void BuildLumaGrid(const uint8_t* plane, int width, int height, uint8_t* grid) {
  const int stride = 2 * width;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = plane + y * width;
    const uint8_t* below = (y + 1 < height) ? row + width : row;
    uint8_t* top = grid + 2 * y * stride;
    uint8_t* half = top + stride;
    for (int x = 0; x < width; ++x) {
      const int xr = (x + 1 < width) ? x + 1 : x;
      const int p = row[x], r = row[xr], d = below[x], e = below[xr];
      top[2 * x] = static_cast<uint8_t>(p);
      top[2 * x + 1] = static_cast<uint8_t>((p + r + 1) >> 1);
      half[2 * x] = static_cast<uint8_t>((p + d + 1) >> 1);
      half[2 * x + 1] = static_cast<uint8_t>((p + r + d + e + 2) >> 2);
    }
  }
}

void BuildChromaGrid(const uint8_t* plane, int width, int height, uint8_t* grid) {
  const int stride = 4 * width;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = plane + y * width;
    const uint8_t* below = (y + 1 < height) ? row + width : row;
    uint8_t* q0 = grid + 4 * y * stride;
    uint8_t* q1 = q0 + stride;
    for (int x = 0; x < width; ++x) {
      const int xr = (x + 1 < width) ? x + 1 : x;
      const int s = row[x], r = row[xr], d = below[x], e = below[xr];
      const uint8_t horizontal = static_cast<uint8_t>((s + r + 1) >> 1);
      const uint8_t vertical = static_cast<uint8_t>((s + d + 1) >> 1);
      const uint8_t centre = static_cast<uint8_t>((s + r + d + e + 2) >> 2);
      uint8_t* c0 = q0 + 4 * x;
      uint8_t* c1 = q1 + 4 * x;
      c0[0] = static_cast<uint8_t>(s);
      c0[1] = c0[2] = c0[3] = horizontal;
      c1[0] = vertical;
      c1[1] = c1[2] = c1[3] = centre;
    }
    // Quarter rows 2 and 3 of every cell repeat quarter row 1.
    std::copy(q1, q1 + stride, q1 + stride);
    std::copy(q1, q1 + stride, q1 + 2 * stride);
  }
}

void FetchFromGrid(uint8_t destination[64], const uint8_t* grid, int gridWidth, int gridHeight,
                   int row, int col, int step) {
  const int span = 7 * step;
  if (row >= 0 && col >= 0 && row + span < gridHeight && col + span < gridWidth) {
    const uint8_t* source = grid + row * gridWidth + col;
    for (int y = 0; y < 8; ++y, source += step * gridWidth) {
      for (int x = 0; x < 8; ++x) destination[8 * y + x] = source[step * x];
    }
    return;
  }
  // A vector reaching outside the picture: clamp each coordinate to the grid.
  for (int y = 0; y < 8; ++y) {
    const int gy = std::clamp(row + step * y, 0, gridHeight - 1);
    for (int x = 0; x < 8; ++x) {
      const int gx = std::clamp(col + step * x, 0, gridWidth - 1);
      destination[8 * y + x] = grid[gy * gridWidth + gx];
    }
  }
}

void AddResidual(uint8_t* samples, const int16_t* residual, int count) {
  for (int i = 0; i < count; ++i) {
    const int sum = samples[i] + residual[i];
    samples[i] = static_cast<uint8_t>(sum < 0 ? 0 : (sum > 255 ? 255 : sum));
  }
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
