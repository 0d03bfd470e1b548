#pragma once

// The variable-length codes of the macroblock and block layers: MCBPC (I and P pictures),
// CBPY, MVD and TCOEF. Each decoder reads one code through the bit reader.

#include <cstdint>

#include "video/parser/video_decoder.h"

namespace clipnote::h263 {

// Fills videoDecoder.vlc.
void BuildVlcTables();
// Fills the MCBPC, CBPY and MVD lookups of `tables` from its code tables (part of
// BuildVlcTables).
void BuildVlcLookups(VlcTables& tables);

int32_t DecodeMcbpcIntra();  // 0..8 (8 = stuffing) or -1
int32_t DecodeMcbpcInter();  // 0..20 (20 = stuffing) or -1
int32_t DecodeCbpy();        // 0..15 (intra CBPY value) or -1
int32_t DecodeMvd();         // 0..63 as in the MVD table (32 = zero), 64 for +32, or -1

// One TCOEF event (ESCAPE included). Returns 0 and writes the outputs, or 1 for an invalid code
// (outputs untouched).
int32_t DecodeTcoef(int8_t* level, uint8_t* run, int32_t* last);

// One row of the TCOEF table as shipped in tcoef_table.cpp (generated from h263-tcoef.txt).
struct TcoefRow {
  uint8_t last;
  uint8_t run;
  uint8_t level;     // magnitude; 0 for ESCAPE
  uint16_t code;     // the code bits before the sign bit, as a binary number
  uint8_t codeBits;  // number of those bits
};
extern const TcoefRow kTcoefRows[kTcoefSymbols];

}  // namespace clipnote::h263
