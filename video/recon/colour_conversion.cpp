#include "video/recon/colour_conversion.h"

#include "video/recon/colour_tables.h"

namespace clipnote::h263 {

namespace {

inline uint8_t ClampByte(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

}  // namespace

void ConvertToBgr24(const uint8_t* source, uint8_t* destination, int rows, int columns) {
  if (rows <= 0 || columns <= 0 || rows % 2 != 0 || columns % 2 != 0) return;
  const int chromaColumns = columns / 2;
  const uint8_t* yPlane = source;
  const uint8_t* uPlane = yPlane + columns * rows;
  const uint8_t* vPlane = uPlane + chromaColumns * (rows / 2);
  const int stride = 3 * columns;
  for (int p = 0; p < rows / 2; ++p) {
    for (int q = 0; q < chromaColumns; ++q) {
      const int u = uPlane[p * chromaColumns + q];
      const int v = vPlane[p * chromaColumns + q];
      const int blueTerm = cbBlueTable[u];
      const int greenTerm = cbGreenTable[u] + crGreenTable[v];
      const int redTerm = crRedTable[v];
      for (int r = 2 * p; r < 2 * p + 2; ++r) {
        uint8_t* out = destination + (rows - 1 - r) * stride;
        for (int c = 2 * q; c < 2 * q + 2; ++c) {
          const int luma = lumaTable[yPlane[r * columns + c]];
          out[3 * c + 0] = ClampByte(luma + blueTerm);
          out[3 * c + 1] = ClampByte(luma - greenTerm);
          out[3 * c + 2] = ClampByte(luma + redTerm);
        }
      }
    }
  }
}

void DoubleBgr24(const uint8_t* source, uint8_t* destination, int columns, int rows) {
  if (columns <= 0 || rows <= 0) return;
  const int inStride = 3 * columns;
  const int outStride = 6 * columns;
  for (int i = 0; i < rows; ++i) {
    const uint8_t* row = source + i * inStride;
    const uint8_t* next = (i + 1 < rows) ? row + inStride : row;
    uint8_t* out0 = destination + 2 * i * outStride;
    uint8_t* out1 = out0 + outStride;
    for (int j = 0; j < columns; ++j) {
      const int jr = (j + 1 < columns) ? j + 1 : j;
      for (int ch = 0; ch < 3; ++ch) {
        const int s = row[3 * j + ch], r = row[3 * jr + ch];
        const int d = next[3 * j + ch], e = next[3 * jr + ch];
        out0[6 * j + ch] = static_cast<uint8_t>(s);
        out0[6 * j + 3 + ch] = static_cast<uint8_t>((s + r) >> 1);
        out1[6 * j + ch] = static_cast<uint8_t>((s + d) >> 1);
        out1[6 * j + 3 + ch] = static_cast<uint8_t>((s + r + d + e) >> 2);
      }
    }
  }
}

}  // namespace clipnote::h263
