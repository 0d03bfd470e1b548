#pragma once

// The macroblock and block layers written: COD, MCBPC, CBPY, DQUANT, MVD and the blocks'
// INTRADC and TCOEF events, as the parser reads them.

#include <cstdint>

#include "video/encoder/bit_writer.h"

namespace clipnote::h263 {

// One macroblock as the writer codes it. Levels are in zigzag scan order as the parser
// delivers them: an intra block's element 0 is its INTRADC (1..254, 128 written as 255),
// every other level is -127..127.
struct CodedMacroblock {
  bool notCoded = false;  // COD 1 (INTER pictures only)
  uint8_t mbType = 0;     // kMbInter .. kMbIntraQ (no INTER4V)
  uint8_t cbpy = 0;       // bit 3 first luma block .. bit 0 fourth
  uint8_t cbpc = 0;       // bit 1 Cb, bit 0 Cr
  uint8_t dquantIndex = 0;
  uint8_t mvdCodeX = 32;  // MVD table indices
  uint8_t mvdCodeY = 32;
  int8_t levels[6][64] = {};
};

// The MVD index that makes the parser rebuild `vector` from `predictor` (both -32..31).
uint8_t MvdCodeFor(int32_t vector, int32_t predictor);

// Coded-block bit of block k (0..3 luma, 4 Cb, 5 Cr).
bool BlockIsCoded(const CodedMacroblock& mb, int32_t k);

// Bit i set where levels[i] is not zero, for i from `first`: loops over a block's levels
// step from one to the next without looking at the zeros between them.
uint64_t NonzeroLevels(const int8_t levels[64], int32_t first);

// Bits of the TCOEF events of one block from scan position `first` (0, or 1 after INTRADC).
int32_t BlockEventBits(const int8_t levels[64], int32_t first);
void WriteBlockEvents(BitWriter& writer, const int8_t levels[64], int32_t first);

// The macroblock's header bits (COD to MVD), without its blocks.
int32_t MacroblockHeaderBits(const CodedMacroblock& mb, bool interPicture);
void WriteMacroblock(BitWriter& writer, const CodedMacroblock& mb, bool interPicture);

}  // namespace clipnote::h263
