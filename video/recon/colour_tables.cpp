#include "video/recon/colour_tables.h"

namespace clipnote::h263 {

int32_t lumaTable[256];
int32_t cbBlueTable[256];
int32_t cbGreenTable[256];
int32_t crRedTable[256];
int32_t crGreenTable[256];

namespace {

// Chroma excursion stretched from 224 to 255 steps, scaled by factor/2^shift.
// The excursion is centred before multiplying: factor * i would overflow 32
// bits for the largest factor. Division truncates toward zero, the shift
// rounds toward minus infinity.
int32_t ChromaTerm(int32_t factor, int shift, int i) {
  const int32_t stretched = factor * (i - 128) / 224;
  return stretched >> shift;
}

}  // namespace

void BuildColourTables() {
  for (int i = 0; i < 256; ++i) {
    lumaTable[i] = 255 * (i - 16) / 219;
    cbBlueTable[i] = ChromaTerm(255 * 1815, 10, i);
    cbGreenTable[i] = ChromaTerm(255 * 22554, 16, i);
    crRedTable[i] = ChromaTerm(255 * 1436, 10, i);
    crGreenTable[i] = ChromaTerm(255 * 46802, 16, i);
  }
}

}  // namespace clipnote::h263
