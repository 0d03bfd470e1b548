#pragma once

// The variable-length codes of the macroblock and block layers, for writing: every table is the
// parser's own lookup read backwards (for each outcome, the shortest lookahead that gives it),
// so the writer and the reader cannot disagree on a code.

#include <cstdint>

#include "video/encoder/bit_writer.h"

namespace clipnote::h263 {

struct VlcCode {
  uint16_t bits;   // the code as a binary number of `length` bits
  uint8_t length;  // 0: no such code
};

// The largest |LEVEL| the TCOEF table codes for any RUN (ESCAPE covers the rest).
inline constexpr int32_t kTcoefTableMaxLevel = 12;
// An ESCAPE event: its 7-bit code, LAST, 6-bit RUN and 8-bit LEVEL.
inline constexpr int32_t kTcoefEscapeBits = 22;

struct VlcCodes {
  VlcCode mcbpcIntra[9];
  VlcCode mcbpcInter[21];
  VlcCode cbpy[16];
  VlcCode mvd[65];  // MVD table index, 32 = no difference
  VlcCode tcoefEscape;
  // [LAST][RUN][|LEVEL|]: the code before its sign bit (length 0 where ESCAPE is needed).
  VlcCode tcoef[2][64][kTcoefTableMaxLevel + 1];
  // [LAST][RUN][|LEVEL|]: the bits of the whole event, sign bit or ESCAPE included.
  uint8_t tcoefBits[2][64][128];
};

// The codes, made from the parser's tables on first use.
const VlcCodes& EncoderCodes();

void WriteCode(BitWriter& writer, const VlcCode& code);
// One TCOEF event, from the table with its sign bit or as ESCAPE; level is -127..127, not 0.
void WriteTcoef(BitWriter& writer, int32_t last, int32_t run, int32_t level);
// Bits WriteTcoef writes for the event.
int32_t TcoefBits(int32_t last, int32_t run, int32_t level);
// The same with the codes at hand, for loops over many events.
inline int32_t TcoefBitsWith(const VlcCodes& c, int32_t last, int32_t run, int32_t level) {
  const int32_t magnitude = level < 0 ? -level : level;
  if (magnitude < 128 && run >= 0 && run < 64) return c.tcoefBits[last != 0][run][magnitude];
  return kTcoefEscapeBits;
}

inline void WriteTcoefWith(BitWriter& writer, const VlcCodes& c, int32_t last, int32_t run, int32_t level) {
  const int32_t magnitude = level < 0 ? -level : level;
  if (magnitude <= kTcoefTableMaxLevel && run >= 0 && run < 64) {
    const VlcCode& code = c.tcoef[last != 0][run][magnitude];
    if (code.length != 0) {
      writer.Put(static_cast<uint32_t>(code.bits) << 1 | (level < 0 ? 1u : 0u), code.length + 1);
      return;
    }
  }
  writer.Put(c.tcoefEscape.bits, c.tcoefEscape.length);
  writer.Put(last != 0, 1);
  writer.Put(static_cast<uint32_t>(run) & 63, 6);
  writer.Put(static_cast<uint32_t>(level) & 255, 8);
}

}  // namespace clipnote::h263
