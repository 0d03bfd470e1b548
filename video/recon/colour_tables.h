#pragma once

#include <cstdint>

namespace clipnote::h263 {

// Lookup tables for turning BT.601 studio-range samples (luma 16..235, chroma
// 128 +/- 112) into full-range contributions to red, green and blue. Indexed
// by an 8-bit sample value; filled once by BuildColourTables before any picture
// is converted and read-only afterwards.
extern int32_t lumaTable[256];     // luma stretched from 16..235 to 0..255
extern int32_t cbBlueTable[256];   // Cb contribution to blue (x 1815/1024)
extern int32_t cbGreenTable[256];  // Cb contribution subtracted from green (x 22554/65536)
extern int32_t crRedTable[256];    // Cr contribution to red (x 1436/1024)
extern int32_t crGreenTable[256];  // Cr contribution subtracted from green (x 46802/65536)

// Fills the five tables. Call once at start-up, before any other thread exists.
void BuildColourTables();

}  // namespace clipnote::h263
