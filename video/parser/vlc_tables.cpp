#include "video/parser/vlc_tables.h"

#include <algorithm>
#include <iterator>

namespace clipnote::h263 {

namespace {

// Codewords of the MCBPC (I and P pictures) and CBPY tables of H.263, indexed as there, each
// read as a binary number of its own length (0000 01 is 1). The stepwise searches in
// vlc_decoders.cpp know the lengths.
constexpr uint16_t kMcbpcIntraCodes[9] = {
    0b1,          // 0: INTRA, CBPC 00
    0b001,        // 1
    0b010,        // 2
    0b011,        // 3
    0b0001,       // 4: INTRA+Q, CBPC 00
    0b000001,     // 5
    0b000010,     // 6
    0b000011,     // 7
    0b000000001,  // 8: stuffing
};

constexpr uint16_t kMcbpcInterCodes[21] = {
    0b1,          // 0: INTER, CBPC 00
    0b0011,       // 1
    0b0010,       // 2
    0b000101,     // 3
    0b011,        // 4: INTER+Q
    0b0000111,    // 5
    0b0000110,    // 6
    0b000000101,  // 7
    0b010,        // 8: INTER4V
    0b0000101,    // 9
    0b0000100,    // 10
    0b00000101,   // 11
    0b00011,      // 12: INTRA
    0b00000100,   // 13
    0b00000011,   // 14
    0b0000011,    // 15
    0b000100,     // 16: INTRA+Q
    0b000000100,  // 17
    0b000000011,  // 18
    0b000000010,  // 19
    0b000000001,  // 20: stuffing
};

constexpr uint8_t kCbpyCodes[16] = {
    0b0011,    // 0
    0b00101,   // 1
    0b00100,   // 2
    0b1001,    // 3
    0b00011,   // 4
    0b0111,    // 5
    0b000010,  // 6
    0b1011,    // 7
    0b00010,   // 8
    0b000011,  // 9
    0b0101,    // 10
    0b1010,    // 11
    0b0100,    // 12
    0b1000,    // 13
    0b0110,    // 14
    0b11,      // 15
};

// The tree walk of DecodeTcoef, done ahead for every 12 bits it could meet: at depth
// d the first d bits index the tree, and a symbol of exactly d code bits ends it.
void BuildTcoefLookup(VlcTables& t) {
  for (int32_t bits = 0; bits < kTcoefTreeSize; ++bits) {
    t.tcoefLookup[bits] = -1;
    t.tcoefEvents[bits] = 0;
    for (int32_t depth = 1; depth <= 12; ++depth) {
      const int32_t index = bits & ~((1 << (12 - depth)) - 1);
      const int32_t entry = t.tcoefTree[index];
      if (entry != -1 && t.tcoefLength[entry] == depth + 1) {
        t.tcoefLookup[bits] = static_cast<int16_t>(entry | depth << 8);
        t.tcoefEvents[bits] = static_cast<uint32_t>(depth) | uint32_t{t.tcoefLast[entry]} << 4 |
                              uint32_t{entry == kTcoefEscape} << 5 |
                              uint32_t{t.tcoefRun[entry]} << 8 | uint32_t{t.tcoefLevel[entry]} << 16;
        break;
      }
    }
  }
}

void FillVlcTables(VlcTables& t) {
  std::copy(std::begin(kMcbpcIntraCodes), std::end(kMcbpcIntraCodes), t.mcbpcIntraCodes);
  std::copy(std::begin(kMcbpcInterCodes), std::end(kMcbpcInterCodes), t.mcbpcInterCodes);
  std::copy(std::begin(kCbpyCodes), std::end(kCbpyCodes), t.cbpyCodes);
  std::fill(std::begin(t.tcoefTree), std::end(t.tcoefTree), int16_t{-1});
  for (int32_t s = 0; s < kTcoefSymbols; ++s) {
    const TcoefRow& row = kTcoefRows[s];
    t.tcoefLast[s] = row.last;
    t.tcoefRun[s] = row.run;
    t.tcoefLevel[s] = row.level;
    // Code bits plus one: the sign bit for ordinary codes, and likewise for ESCAPE.
    t.tcoefLength[s] = row.codeBits + 1;
    t.tcoefTree[row.code << (12 - row.codeBits)] = static_cast<int16_t>(s);
  }
  BuildTcoefLookup(t);
  BuildVlcLookups(t);
}

}  // namespace

void BuildVlcTables() {
  // The tables never change: made once, then copied in at every start of a clip (making them
  // took a tenth of the time the player needs for a short damaged clip).
  static const VlcTables made = [] {
    VlcTables t{};
    FillVlcTables(t);
    return t;
  }();
  videoDecoder.vlc = made;
}

}  // namespace clipnote::h263
