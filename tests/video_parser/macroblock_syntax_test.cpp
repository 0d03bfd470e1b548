#include "video/parser/macroblock_syntax.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "video/parser/vlc_tables.h"
#include "video_parser/parser_test_support.h"

namespace {

using parser_test::AttachClip;
using parser_test::BitString;

VideoDecoder& d = videoDecoder;

// TCOEF code (with sign) of a table event.
std::string Tcoef(int last, int run, int level) {
  for (int s = 0; s < kTcoefEscape; ++s) {
    const TcoefRow& row = kTcoefRows[s];
    if (row.last == last && row.run == run && row.level == (level < 0 ? -level : level)) {
      std::string code;
      for (int i = row.codeBits - 1; i >= 0; --i) code += ((row.code >> i) & 1) ? '1' : '0';
      return code + (level < 0 ? "1" : "0");
    }
  }
  ADD_FAILURE() << "no code for " << last << " " << run << " " << level;
  return "";
}

// ESCAPE with fixed-length LAST, RUN and LEVEL.
std::string Escape(int last, int run, int level) {
  std::string s = "0000011";
  s += last ? '1' : '0';
  for (int i = 5; i >= 0; --i) s += ((run >> i) & 1) ? '1' : '0';
  for (int i = 7; i >= 0; --i) s += ((static_cast<uint8_t>(level) >> i) & 1) ? '1' : '0';
  return s;
}

class MacroblockTest : public ::testing::Test {
 protected:
  // Reader on `bits`; a QCIF picture of the given coding type, macroblock `mbIndex`.
  void Start(const BitString& bits, int codingType, int mbIndex = 0, int predictionMode = 1) {
    clip_ = bits.Bytes();
    AttachClip(clip_, buffer_);
    d.pictureCodingType = static_cast<uint8_t>(codingType);
    d.mbsPerGob = 11;
    d.gobsPerPicture = 9;
    d.mbIndex = static_cast<uint16_t>(mbIndex);
    d.mvPredictionMode = predictionMode;
    ClearMvStore();
    ResetMacroblockState();
    luma_.fill(111);
    cb_.fill(111);
    cr_.fill(111);
  }
  int32_t DecodeMb() { return DecodeMacroblockSyntax(luma_.data(), cb_.data(), cr_.data()); }
  void SetStored(int column, int row, int x, int y) {
    d.mvStore[column * kMaxMbRows + row][0] = static_cast<int8_t>(x);
    d.mvStore[column * kMaxMbRows + row][1] = static_cast<int8_t>(y);
  }
  int StoredX(int column, int row) { return d.mvStore[column * kMaxMbRows + row][0]; }
  int StoredY(int column, int row) { return d.mvStore[column * kMaxMbRows + row][1]; }

  std::vector<uint8_t> clip_;
  std::vector<uint8_t> buffer_;
  std::array<int8_t, 256> luma_;
  std::array<int8_t, 64> cb_;
  std::array<int8_t, 64> cr_;
};

TEST_F(MacroblockTest, ResetStateDependsOnPictureType) {
  Start(BitString(), 0);
  EXPECT_EQ(d.mbType, kMbIntra);
  EXPECT_EQ(d.cbpc, 3);
  EXPECT_EQ(d.cbpy, 15);
  EXPECT_EQ(d.cod, 0);
  Start(BitString(), 1);
  EXPECT_EQ(d.mbType, kMbInter);
}

TEST_F(MacroblockTest, IntraPictureHeaders) {
  BitString bits;
  bits.Bits("011").Bits("0101");  // MCBPC 3: INTRA, CBPC 11; CBPY 10
  Start(bits, 0);
  ASSERT_EQ(ParseMacroblockHeader(), kParseOk);
  EXPECT_EQ(d.mbType, kMbIntra);
  EXPECT_EQ(d.cbpc, 3);
  EXPECT_EQ(d.cbpy, 10);
  EXPECT_EQ(BitsConsumed(), 7);

  BitString q;  // two stuffings, then MCBPC 6: INTRA+Q, CBPC 10; CBPY 0; DQUANT 3
  q.Bits("0000 0000 1  0000 0000 1  0000 10  0011  11");
  Start(q, 0);
  ASSERT_EQ(ParseMacroblockHeader(), kParseOk);
  EXPECT_EQ(d.mbType, kMbIntraQ);
  EXPECT_EQ(d.cbpc, 2);
  EXPECT_EQ(d.cbpy, 0);
  EXPECT_EQ(d.dquantIndex, 3);
  EXPECT_EQ(BitsConsumed(), 9 + 9 + 6 + 4 + 2);

  BitString badMcbpc;
  badMcbpc.Bits("0000 0000 0");
  Start(badMcbpc, 0);
  EXPECT_EQ(ParseMacroblockHeader(), kBadMcbpc);
  BitString badCbpy;
  badCbpy.Bits("1 0000 00");
  Start(badCbpy, 0);
  EXPECT_EQ(ParseMacroblockHeader(), kBadCbpy);
}

TEST_F(MacroblockTest, InterPictureHeaders) {
  BitString bits;  // COD 0, MCBPC 5 (INTER+Q, CBPC 01), CBPY 3 -> 12, DQUANT 1, MVD +0.5, -0.5
  bits.Bits("0 0000111 1001 01 010 011");
  Start(bits, 1);
  ASSERT_EQ(ParseMacroblockHeader(), kParseOk);
  EXPECT_EQ(d.cod, 0);
  EXPECT_EQ(d.mbType, kMbInterQ);
  EXPECT_EQ(d.cbpc, 1);
  EXPECT_EQ(d.cbpy, 12);
  EXPECT_EQ(d.dquantIndex, 1);
  EXPECT_EQ(d.mvdCodeX, 33);
  EXPECT_EQ(d.mvdCodeY, 31);

  BitString none;  // CBPY code 11 (index 15) means no luminance block in an inter macroblock
  none.Bits("0 1 11 1 1");
  Start(none, 1);
  ASSERT_EQ(ParseMacroblockHeader(), kParseOk);
  EXPECT_EQ(d.cbpy, 0);
  EXPECT_EQ(d.mvdCodeX, 32);

  BitString intra;  // COD 0, MCBPC 16 (INTRA+Q, CBPC 00), CBPY 3 kept as is, DQUANT 2
  intra.Bits("0 000100 1001 10");
  Start(intra, 1);
  ASSERT_EQ(ParseMacroblockHeader(), kParseOk);
  EXPECT_EQ(d.mbType, kMbIntraQ);
  EXPECT_EQ(d.cbpy, 3);
  EXPECT_EQ(d.dquantIndex, 2);
  EXPECT_EQ(d.mvdCodeX, 32);
  EXPECT_EQ(d.mvdCodeY, 32);
  EXPECT_EQ(BitsConsumed(), 13);

  BitString fourV;  // INTER4V reads one MVD pair like INTER
  fourV.Bits("0 010 11 0010 0011");
  Start(fourV, 1);
  ASSERT_EQ(ParseMacroblockHeader(), kParseOk);
  EXPECT_EQ(d.mbType, kMbInter4V);
  EXPECT_EQ(d.mvdCodeX, 34);
  EXPECT_EQ(d.mvdCodeY, 30);
}

TEST_F(MacroblockTest, InterHeaderFailures) {
  BitString mcbpc;
  mcbpc.Bits("0 0000 0000 0");
  Start(mcbpc, 1);
  EXPECT_EQ(ParseMacroblockHeader(), kBadMcbpc);
  BitString cbpy;
  cbpy.Bits("0 1 0000 01");
  Start(cbpy, 1);
  EXPECT_EQ(ParseMacroblockHeader(), kBadCbpy);
  // An invalid MVD code fails the header instead of reaching the vector as 255.
  BitString mvd;
  mvd.Bits("0 1 11 0000 0000 000 1");
  Start(mvd, 1);
  EXPECT_EQ(ParseMacroblockHeader(), kBadMcbpc);
  BitString mvdY;
  mvdY.Bits("0 1 11 1 0000 0000 000");
  Start(mvdY, 1);
  EXPECT_EQ(ParseMacroblockHeader(), kBadMcbpc);
}

// A stuffing in an INTER picture is COD 0 and the stuffing codeword; the macroblock layer then
// starts again with COD, and any number of stuffings may come in a row.
TEST_F(MacroblockTest, InterStuffingRestartsWithCod) {
  BitString notCoded;
  notCoded.Bits("0 0000 0000 1  1");
  Start(notCoded, 1);
  ASSERT_EQ(ParseMacroblockHeader(), kParseOk);
  EXPECT_EQ(d.cod, 1);
  EXPECT_EQ(d.mbType, kMbInter);
  EXPECT_EQ(BitsConsumed(), 11);

  BitString coded;  // two stuffings, then COD 0, MCBPC 0, CBPY 15 (-> 0), MVD 0, 0
  coded.Bits("0 0000 0000 1  0 0000 0000 1  0 1 11 1 1");
  Start(coded, 1);
  ASSERT_EQ(ParseMacroblockHeader(), kParseOk);
  EXPECT_EQ(d.cod, 0);
  EXPECT_EQ(d.mbType, kMbInter);
  EXPECT_EQ(d.cbpy, 0);
  EXPECT_EQ(BitsConsumed(), 20 + 6);
}

TEST_F(MacroblockTest, NotCodedMacroblockTouchesNothing) {
  BitString bits;
  bits.Bits("1");
  Start(bits, 1, 5);
  SetStored(5, 0, 7, -3);
  d.mvX = 9;
  d.mvY = 9;
  ASSERT_EQ(DecodeMb(), 0);
  EXPECT_EQ(BitsConsumed(), 1);
  EXPECT_EQ(d.mvX, 0);
  EXPECT_EQ(d.mvY, 0);
  EXPECT_EQ(d.mvdCodeX, 32);
  EXPECT_EQ(StoredX(5, 0), 7);  // nothing stored for it
  EXPECT_EQ(StoredY(5, 0), -3);
  for (int8_t v : luma_) ASSERT_EQ(v, 111);
  for (int8_t v : cb_) ASSERT_EQ(v, 111);
}

// An intra macroblock in an INTER picture: (0, 0) stored, INTRADC for all six blocks.
TEST_F(MacroblockTest, IntraMacroblockInInterPicture) {
  BitString bits;
  bits.Bits("0 00011 0011");  // COD 0, MCBPC 12 (INTRA, CBPC 00), CBPY 0: no block coded
  for (int k = 0; k < 6; ++k) bits.Value(k == 2 ? 255 : 10 + k, 8);
  Start(bits, 1, 13, 3);  // column 2, row 1
  SetStored(2, 1, 5, 5);
  ASSERT_EQ(DecodeMb(), 0);
  EXPECT_EQ(d.mbType, kMbIntra);
  EXPECT_EQ(StoredX(2, 1), 0);
  EXPECT_EQ(StoredY(2, 1), 0);
  EXPECT_EQ(static_cast<uint8_t>(luma_[0]), 10);
  EXPECT_EQ(static_cast<uint8_t>(luma_[64]), 11);
  EXPECT_EQ(static_cast<uint8_t>(luma_[128]), 128);  // INTRADC 255 stands for 128
  EXPECT_EQ(static_cast<uint8_t>(luma_[192]), 13);
  EXPECT_EQ(static_cast<uint8_t>(cb_[0]), 14);
  EXPECT_EQ(static_cast<uint8_t>(cr_[0]), 15);
  for (int i = 1; i < 64; ++i) {
    ASSERT_EQ(luma_[i], 0);
    ASSERT_EQ(cr_[i], 0);
  }
  EXPECT_EQ(BitsConsumed(), 1 + 5 + 4 + 48);
}

TEST_F(MacroblockTest, CodedInterMacroblockBlocks) {
  BitString bits;
  // COD 0, MCBPC 2 (INTER, CBPC 10: Cb coded), CBPY 5 -> 15 - 5 = 10 (blocks 0 and 2), MVD 0 0.
  bits.Bits("0 0010 0111 1 1");
  bits.Bits(Tcoef(0, 0, 3)).Bits(Tcoef(0, 2, -1)).Bits(Tcoef(1, 0, 1));   // block 0
  bits.Bits(Escape(1, 63, -100));                                          // block 2
  bits.Bits(Tcoef(1, 5, -1));                                              // Cb
  Start(bits, 1);
  ASSERT_EQ(DecodeMb(), 0);
  EXPECT_EQ(d.cbpy, 10);
  EXPECT_EQ(d.cbpc, 2);
  std::array<int8_t, 64> b0{};
  b0[0] = 3;
  b0[3] = -1;
  b0[4] = 1;
  for (int i = 0; i < 64; ++i) ASSERT_EQ(luma_[i], b0[i]) << i;
  for (int i = 0; i < 64; ++i) ASSERT_EQ(luma_[64 + i], 0) << i;  // block 1 not coded
  for (int i = 0; i < 63; ++i) ASSERT_EQ(luma_[128 + i], 0) << i;
  EXPECT_EQ(luma_[128 + 63], -100);  // a run landing on the last position
  for (int i = 0; i < 64; ++i) ASSERT_EQ(cb_[i], i == 5 ? -1 : 0) << i;
  for (int i = 0; i < 64; ++i) ASSERT_EQ(cr_[i], 0) << i;
}

TEST_F(MacroblockTest, IntraBlockCoefficientsFollowTheDc) {
  BitString bits;
  bits.Value(0x80, 8).Bits(Tcoef(0, 0, -4)).Bits(Escape(1, 61, 1)).Bits(Escape(1, 0, 0));
  Start(bits, 0);
  std::array<int8_t, 64> block;
  block.fill(55);
  ASSERT_EQ(DecodeIntraBlock(block.data(), 1, 0), 0);
  EXPECT_EQ(static_cast<uint8_t>(block[0]), 0x80);
  EXPECT_EQ(block[1], -4);
  for (int i = 2; i < 63; ++i) ASSERT_EQ(block[i], 0) << i;
  EXPECT_EQ(block[63], 1);
  // The pattern bit of another block does not make this one coded.
  ASSERT_EQ(DecodeIntraBlock(block.data(), 2, 0), 0);
  EXPECT_EQ(block[0], 0x07);  // the first byte of the next ESCAPE, read as a DC
  for (int i = 1; i < 64; ++i) ASSERT_EQ(block[i], 0) << i;
}

// A run past the end of the block fails it and writes nothing outside its 64 elements.
TEST_F(MacroblockTest, RunPastTheBlockFails) {
  std::array<int8_t, 64 + 16> guarded;
  int8_t* block = guarded.data() + 8;
  for (const std::string& events :
       {Escape(0, 40, 1) + Escape(1, 30, 7), Escape(0, 63, 1) + Tcoef(1, 0, 1),
        Escape(1, 63, 5)}) {
    BitString bits;
    bits.Value(20, 8).Bits(events);
    Start(bits, 0);
    guarded.fill(77);
    EXPECT_EQ(DecodeIntraBlock(block, 1, 0), 1);
    for (int i = 0; i < 8; ++i) ASSERT_EQ(guarded[i], 77);
    for (int i = 72; i < 80; ++i) ASSERT_EQ(guarded[i], 77);
  }
  BitString inter;  // 64 events of RUN 0 fit exactly; the 65th does not
  for (int i = 0; i < 64; ++i) inter.Bits(Tcoef(0, 0, 1));
  inter.Bits(Tcoef(1, 0, 1));
  Start(inter, 1);
  guarded.fill(77);
  EXPECT_EQ(DecodeInterBlock(block, 1, 0), 1);
  for (int i = 72; i < 80; ++i) ASSERT_EQ(guarded[i], 77);

  BitString invalid;
  invalid.Bits("0000 0000 0000 0");
  Start(invalid, 1);
  EXPECT_EQ(DecodeInterBlock(block, 1, 0), 1);
}

TEST_F(MacroblockTest, PredictionWithGobHeaderUsesLeftNeighbourOnly) {
  Start(BitString(), 1, 0, 1);
  SetStored(3, 2, 6, -6);
  SetStored(4, 1, 20, 20);  // above: out of reach
  SetStored(5, 1, 20, 20);
  EXPECT_EQ(PredictMvComponent(0, 4, 2), 6);
  EXPECT_EQ(PredictMvComponent(1, 4, 2), -6);
  EXPECT_EQ(PredictMvComponent(0, 0, 2), 0);  // column 0: the left candidate is 0
}

TEST_F(MacroblockTest, PredictionWithoutGobHeaderTakesTheMedian) {
  Start(BitString(), 1, 0, 3);
  SetStored(3, 2, 6, -6);   // left
  SetStored(4, 1, -2, 9);   // above
  SetStored(5, 1, 30, 1);   // above right
  EXPECT_EQ(PredictMvComponent(0, 4, 2), 6);
  EXPECT_EQ(PredictMvComponent(1, 4, 2), 1);
  // Column 0: left is 0; median of 0, above and above right.
  SetStored(0, 1, -20, -20);
  SetStored(1, 1, -10, 31);
  EXPECT_EQ(PredictMvComponent(0, 0, 2), -10);
  EXPECT_EQ(PredictMvComponent(1, 0, 2), 0);
  // Last column: above right is 0.
  SetStored(9, 3, 8, 8);
  SetStored(10, 2, 12, -4);
  SetStored(0, 2, 99, 99);  // the next row's first entry is not the above-right candidate
  EXPECT_EQ(PredictMvComponent(0, 10, 3), 8);
  EXPECT_EQ(PredictMvComponent(1, 10, 3), 0);
  // Top row: the left candidate alone, even without a GOB header.
  SetStored(6, 0, -7, 3);
  EXPECT_EQ(PredictMvComponent(0, 7, 0), -7);
  // Extremes do not overflow the median.
  SetStored(1, 5, -32, 31);
  SetStored(2, 4, -32, 31);
  SetStored(3, 4, 31, -32);
  EXPECT_EQ(PredictMvComponent(0, 2, 5), -32);
  EXPECT_EQ(PredictMvComponent(1, 2, 5), 31);
}

class MotionVectorTest : public MacroblockTest {
 protected:
  // Macroblock 1 of GOB 0, whose predictor is the vector stored for macroblock 0.
  int32_t Decode(int predictorX, int predictorY, int codeX, int codeY) {
    Start(BitString(), 1, 1, 1);
    SetStored(0, 0, predictorX, predictorY);
    d.mvdCodeX = static_cast<uint8_t>(codeX);
    d.mvdCodeY = static_cast<uint8_t>(codeY);
    return DecodeMotionVector();
  }
};

TEST_F(MotionVectorTest, DifferenceAddsToPredictorAndIsStored) {
  ASSERT_EQ(Decode(31, 4, 30, 33), 0);  // 31 - 2 = 29; 4 + 1 = 5
  EXPECT_EQ(d.mvX, 29);
  EXPECT_EQ(d.mvY, 5);
  EXPECT_EQ(StoredX(1, 0), 29);
  EXPECT_EQ(StoredY(1, 0), 5);
}

// -32 half samples (-16 samples) is a legal vector: the folded results that land on it pass.
TEST_F(MotionVectorTest, FoldingIntoRangeAcceptsMinusThirtyTwo) {
  ASSERT_EQ(Decode(31, 0, 33, 64), 0);  // 31 + 1 = 32 -> -32; 0 + 32 = 32 -> -32
  EXPECT_EQ(d.mvX, -32);
  EXPECT_EQ(d.mvY, -32);
  EXPECT_EQ(StoredX(1, 0), -32);
  ASSERT_EQ(Decode(-30, 20, 0, 63), 0);  // -30 - 32 = -62 -> 2; 20 + 31 = 51 -> -13
  EXPECT_EQ(d.mvX, 2);
  EXPECT_EQ(d.mvY, -13);
  ASSERT_EQ(Decode(-32, 31, 32, 32), 0);
  EXPECT_EQ(d.mvX, -32);
  EXPECT_EQ(d.mvY, 31);
}

// Every predictor and code of a valid stream gives a vector in -32..31.
TEST_F(MotionVectorTest, AllPredictorsAndCodesStayInRange) {
  for (int p = -32; p <= 31; ++p) {
    for (int m = 0; m <= 64; ++m) {
      ASSERT_EQ(Decode(p, p, m, m), 0) << p << " " << m;
      ASSERT_GE(d.mvX, -32);
      ASSERT_LE(d.mvX, 31);
      const int expected = p + m - 32;
      ASSERT_TRUE(d.mvX == expected || d.mvX == expected - 64 || d.mvX == expected + 64);
    }
  }
}

TEST_F(MotionVectorTest, OutOfRangeInputsFail) {
  EXPECT_EQ(Decode(100, 0, 32, 32), 1);  // a corrupt predictor cannot produce a legal vector
  Start(BitString(), 1, 1, 1);
  d.mbsPerGob = 0;  // no geometry: nothing is stored
  EXPECT_EQ(DecodeMotionVector(), 1);
}

}  // namespace
