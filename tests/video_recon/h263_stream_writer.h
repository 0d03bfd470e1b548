#pragma once

// Builds small H.263 baseline streams bit by bit for decoder tests: picture and
// GOB headers and the few macroblock kinds the tests need.

#include <cstdint>
#include <vector>

#include "video/parser/vlc_tables.h"

class H263StreamWriter {
 public:
  void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) PutBit((value >> i) & 1);
  }
  void PutBit(uint32_t bit) {
    if (bitCount_ % 8 == 0) bytes_.push_back(0);
    if (bit) bytes_.back() |= static_cast<uint8_t>(0x80 >> (bitCount_ % 8));
    ++bitCount_;
  }
  void Align() {
    while (bitCount_ % 8 != 0) PutBit(0);
  }

  // Format 2 = QCIF, 3 = CIF. Byte-aligned, as every picture starts.
  void PictureHeader(int temporalReference, int format, bool inter, int pquant,
                     bool notH263 = false) {
    Align();
    Put(0, 16);
    Put(0b100000, 6);
    Put(static_cast<uint32_t>(temporalReference), 8);
    PutBit(1);
    PutBit(notH263 ? 1 : 0);
    Put(0, 3);  // split screen, document camera, freeze release
    Put(static_cast<uint32_t>(format), 3);
    PutBit(inter ? 1 : 0);
    Put(0, 4);  // no optional modes
    Put(static_cast<uint32_t>(pquant), 5);
    PutBit(0);  // CPM
    PutBit(0);  // PEI
  }
  void EndOfSequence() {
    Align();
    Put(0, 16);
    Put(0b111111, 6);
  }
  // Intra macroblock without AC coefficients: six INTRADC values (1..254).
  // In an INTRA picture (MCBPC 0) or an INTER picture (COD 0, MCBPC 12).
  void IntraMacroblock(const int dc[6], bool inInterPicture) {
    if (inInterPicture) {
      PutBit(0);
      Put(0b00011, 5);
    } else {
      PutBit(1);
    }
    Put(0b0011, 4);  // CBPY 0
    for (int k = 0; k < 6; ++k) Put(static_cast<uint32_t>(dc[k]), 8);
  }
  void NotCoded() { PutBit(1); }
  // INTER macroblock, vector difference of (0 or +-1 half sample) per
  // component, and optionally one DC-only level in luma block 0.
  void InterMacroblock(int mvdX, int mvdY, int block0Level = 0) {
    PutBit(0);    // COD
    PutBit(1);    // MCBPC 0: INTER, no chroma coded
    Put(block0Level != 0 ? 0b1011 : 0b11, block0Level != 0 ? 4 : 2);  // CBPY 7 or 15
    PutMvd(mvdX);
    PutMvd(mvdY);
    if (block0Level != 0) TcoefEvent(1, 0, block0Level);
  }
  // One TCOEF event (last, run, signed level) from the code table.
  void TcoefEvent(int last, int run, int level) {
    const clipnote::h263::TcoefRow& row = FindTcoef(last, run, level < 0 ? -level : level);
    Put(row.code, row.codeBits);
    PutBit(level < 0 ? 1 : 0);
  }
  // An INTER macroblock, zero vector difference, whose luma block 0 holds 65
  // events: the last one runs past the end of the block, a syntax error
  // found right after its code.
  void OverrunningInterMacroblock() {
    PutBit(0);      // COD
    PutBit(1);      // MCBPC 0
    Put(0b1011, 4);  // CBPY: luma block 0 coded
    PutMvd(0);
    PutMvd(0);
    for (int i = 0; i < 65; ++i) TcoefEvent(0, 0, 1);
  }

  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  void PutMvd(int halfSamples) {
    if (halfSamples == 0) PutBit(1);
    else Put(halfSamples > 0 ? 0b010 : 0b011, 3);
  }
  static const clipnote::h263::TcoefRow& FindTcoef(int last, int run, int level) {
    for (const clipnote::h263::TcoefRow& row : clipnote::h263::kTcoefRows) {
      if (row.last == last && row.run == run && row.level == level) return row;
    }
    return clipnote::h263::kTcoefRows[0];
  }

  std::vector<uint8_t> bytes_;
  int bitCount_ = 0;
};
