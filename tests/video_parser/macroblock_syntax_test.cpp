#include "video/parser/macroblock_syntax.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>

#include "video/parser/block_syntax.h"
#include "video/parser/motion_vectors.h"
#include "video/parser/vlc_tables.h"
#include "video_parser/parser_test_support.h"

using namespace clipnote::h263;

namespace {

using parser_test::Binary;
using parser_test::Stream;

VideoDecoder& d = videoDecoder;

// TCOEF code with sign bit, and ESCAPE with its fixed-length fields.
std::string Tcoef(int last, int run, int level) {
  for (const TcoefRow& row : kTcoefRows) {
    if (row.level != 0 && row.last == last && row.run == run && row.level == std::abs(level)) {
      return Binary(row.code, row.codeBits) + (level < 0 ? "1" : "0");
    }
  }
  ADD_FAILURE() << "no code for " << last << " " << run << " " << level;
  return "";
}
std::string Escape(int last, int run, int level) {
  return "0000011" + Binary(last, 1) + Binary(run, 6) + Binary(static_cast<uint8_t>(level), 8);
}

class Macroblock : public ::testing::Test {
 protected:
  // A QCIF picture of `codingType`, at macroblock `mbIndex`, mvPredictionMode `mode`.
  void Setup(int codingType, int mbIndex = 0, int mode = 1) {
    d.pictureCodingType = static_cast<uint8_t>(codingType);
    d.mbsPerGob = 11;
    d.mbIndex = static_cast<uint16_t>(mbIndex);
    d.mvPredictionMode = mode;
    ClearMvStore();
    ResetMacroblockState();
    luma_.fill(111);
    chroma_.fill(111);
  }
  int32_t DecodeMb() { return DecodeMacroblockSyntax(luma_.data(), &chroma_[0], &chroma_[64]); }
  int8_t* Stored(int column, int row) { return d.mvStore[column * kMaxMbRows + row]; }
  void Store(int column, int row, int x, int y) {
    Stored(column, row)[0] = static_cast<int8_t>(x);
    Stored(column, row)[1] = static_cast<int8_t>(y);
  }

  std::array<int8_t, 256> luma_;
  std::array<int8_t, 128> chroma_;
};

struct HeaderCase {
  int codingType;
  const char* bits;
  int32_t result;
  int mbType, cbpc, cbpy, dquant, mvdX, mvdY;
  int64_t consumed;
};

// Intra and inter headers, stuffing in both picture types, and every header failure.
TEST_F(Macroblock, Headers) {
  const HeaderCase cases[] = {
      {0, "011 0101", kParseOk, 3, 3, 10, -1, -1, -1, 7},
      {0, "000000001 000000001 000010 0011 11", kParseOk, 4, 2, 0, 3, -1, -1, 30},  // 2 stuffings
      {0, "000000000", kBadMcbpc, -1, -1, -1, -1, -1, -1, 9},
      {0, "1 000000", kBadCbpy, -1, -1, -1, -1, -1, -1, 7},
      // INTER+Q, CBPC 01, CBPY 3 -> 15 - 3, DQUANT 1, MVD +0.5 and -0.5.
      {1, "0 0000111 1001 01 010 011", kParseOk, 1, 1, 12, 1, 33, 31, 20},
      {1, "0 1 11 1 1", kParseOk, 0, 0, 0, -1, 32, 32, 6},  // CBPY index 15: no luma coded
      {1, "0 000100 1001 10", kParseOk, 4, 0, 3, 2, 32, 32, 13},  // intra: CBPY as read
      {1, "0 010 11 0010 0011", kParseOk, 2, 0, 0, -1, 34, 30, 14},  // INTER4V: one MVD pair
      {1, "1", kParseOk, 0, -1, -1, -1, 32, 32, 1},                 // not coded
      {1, "0 000000001 1", kParseOk, 0, -1, -1, -1, 32, 32, 11},    // stuffing, then COD 1
      {1, "0 000000001 0 000000001 0 1 11 1 1", kParseOk, 0, 0, 0, -1, 32, 32, 26},
      {1, "0 000000000", kBadMcbpc, -1, -1, -1, -1, -1, -1, 10},
      {1, "0 1 000001", kBadCbpy, -1, -1, -1, -1, -1, -1, 8},
      {1, "0 1 11 00000000000 1", kBadMcbpc, -1, -1, -1, -1, -1, -1, 15},  // invalid MVD x
      {1, "0 1 11 1 00000000000", kBadMcbpc, -1, -1, -1, -1, -1, -1, 16},  // invalid MVD y
  };
  for (const HeaderCase& c : cases) {
    Stream s(c.bits);
    Setup(c.codingType);
    d.dquantIndex = 9;
    ASSERT_EQ(ParseMacroblockHeader(), c.result) << c.bits;
    EXPECT_EQ(BitsConsumed(), c.consumed) << c.bits;
    EXPECT_LE(d.mbType, kMbIntraQ) << c.bits;
    if (c.result != kParseOk) continue;
    EXPECT_EQ(d.cod, c.consumed == 1 || c.consumed == 11 ? 1 : 0) << c.bits;
    EXPECT_EQ(d.mbType, c.mbType) << c.bits;
    if (c.cbpc >= 0) {
      EXPECT_EQ(d.cbpc, c.cbpc) << c.bits;
    }
    if (c.cbpy >= 0) {
      EXPECT_EQ(d.cbpy, c.cbpy) << c.bits;
    }
    EXPECT_EQ(d.dquantIndex, c.dquant < 0 ? 9 : c.dquant) << c.bits;
    if (c.mvdX >= 0) {
      EXPECT_EQ(d.mvdCodeX, c.mvdX) << c.bits;
    }
    if (c.mvdY >= 0) {
      EXPECT_EQ(d.mvdCodeY, c.mvdY) << c.bits;
    }
  }
}

TEST_F(Macroblock, NotCodedTouchesNeitherStoreNorBlocks) {
  Stream s("1");
  Setup(1, 5);
  Store(5, 0, 7, -3);
  d.mvX = 9;
  ASSERT_EQ(DecodeMb(), 0);
  EXPECT_EQ(d.mvX, 0);
  EXPECT_EQ(d.mvY, 0);
  EXPECT_EQ(Stored(5, 0)[0], 7);
  for (int8_t v : luma_) ASSERT_EQ(v, 111);
  for (int8_t v : chroma_) ASSERT_EQ(v, 111);
}

TEST_F(Macroblock, IntraInInterPictureStoresZeroAndReadsSixDcs) {
  // COD 0, MCBPC 12 (INTRA, CBPC 00), CBPY 0: INTRADC only; the third DC is 255 (= 128).
  Stream s("0 00011 0011 " + Binary(10, 8) + Binary(11, 8) + "1111 1111" + Binary(13, 8) +
           Binary(14, 8) + Binary(15, 8));
  Setup(1, 13, 3);
  Store(2, 1, 5, 5);
  ASSERT_EQ(DecodeMb(), 0);
  EXPECT_EQ(Stored(2, 1)[0], 0);
  EXPECT_EQ(Stored(2, 1)[1], 0);
  const int dcs[6] = {10, 11, 128, 13, 14, 15};
  for (int k = 0; k < 6; ++k) {
    const int8_t* block = k < 4 ? &luma_[64 * k] : &chroma_[64 * (k - 4)];
    EXPECT_EQ(static_cast<uint8_t>(block[0]), dcs[k]);
    for (int i = 1; i < 64; ++i) ASSERT_EQ(block[i], 0) << k;
  }
  EXPECT_EQ(BitsConsumed(), 10 + 48);
}

TEST_F(Macroblock, CodedInterBlocksInZigzagOrder) {
  // INTER, CBPC 10 (Cb), CBPY 5 -> 10 (blocks 0 and 2), zero MVD.
  Stream s("0 0010 0111 1 1 " + Tcoef(0, 0, 3) + Tcoef(0, 2, -1) + Tcoef(1, 0, 1) +
           Escape(1, 63, -100) + Tcoef(1, 5, -1));
  Setup(1);
  ASSERT_EQ(DecodeMb(), 0);
  int8_t expected[6][64] = {};
  expected[0][0] = 3;
  expected[0][3] = -1;
  expected[0][4] = 1;
  expected[2][63] = -100;  // a run landing on the last position
  expected[4][5] = -1;
  for (int k = 0; k < 6; ++k) {
    const int8_t* block = k < 4 ? &luma_[64 * k] : &chroma_[64 * (k - 4)];
    for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], expected[k][i]) << k << " " << i;
  }
}

// A run past the end of a block, or an invalid code, fails the block; nothing is written
// outside its 64 elements.
TEST_F(Macroblock, RunPastTheBlockFails) {
  std::string sixtyFive;
  for (int i = 0; i < 64; ++i) sixtyFive += Tcoef(0, 0, 1);
  const std::string inter[] = {sixtyFive + Tcoef(1, 0, 1), "0000 0000 0000 0"};
  const std::string intra[] = {Escape(0, 40, 1) + Escape(1, 30, 7), Escape(0, 62, 1) + Tcoef(1, 0, 1),
                               Escape(1, 63, 5)};
  std::array<int8_t, 80> guarded;
  for (int kind = 0; kind < 2; ++kind) {
    for (const std::string& events : kind == 0 ? std::vector(std::begin(inter), std::end(inter))
                                               : std::vector(std::begin(intra), std::end(intra))) {
      Stream s(kind == 0 ? events : "0001 0100" + events);
      guarded.fill(77);
      EXPECT_EQ(kind == 0 ? DecodeInterBlock(&guarded[8], 1, 0) : DecodeIntraBlock(&guarded[8], 1, 0),
                1);
      for (int i = 0; i < 8; ++i) ASSERT_EQ(guarded[i] + guarded[72 + i], 2 * 77);
    }
  }
}

// Blocks read with a window far larger than a block and with windows so small
// that every block crosses several: the same coefficients, the same result and
// the same bits consumed, for valid blocks, escapes, runs past the end and
// invalid codes.
TEST_F(Macroblock, BlocksReadAlikeWhateverTheWindow) {
  std::mt19937 rng(23);
  auto value = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int trial = 0; trial < 400; ++trial) {
    std::string bits;
    const int blocks = value(1, 6);
    for (int b = 0; b < blocks; ++b) {
      const int events = value(1, trial % 7 == 0 ? 70 : 12);
      for (int e = 0; e < events; ++e) {
        const int last = e + 1 == events;
        const TcoefRow& row = kTcoefRows[value(0, kTcoefSymbols - 1)];
        if (row.level == 0 || value(0, 9) == 0) {
          bits += Escape(last, value(0, 63), value(-128, 127));
        } else if (row.last == last) {
          bits += Binary(row.code, row.codeBits) + (value(0, 1) ? "1" : "0");
        } else {
          bits += Tcoef(last, 0, 1);
        }
        if (value(0, 499) == 0) bits += "0000 0000 0000 0";  // an invalid code
      }
    }
    for (int i = value(0, 40); i > 0; --i) bits += value(0, 1) ? '1' : '0';

    std::vector<std::array<int8_t, 64>> wide(blocks), narrow(blocks);
    std::vector<int32_t> wideResults, narrowResults;
    std::vector<int64_t> wideBits, narrowBits;
    for (int32_t windowSize : {8192, 16}) {
      Stream s(bits, windowSize);
      auto& out = windowSize == 16 ? narrow : wide;
      auto& results = windowSize == 16 ? narrowResults : wideResults;
      auto& consumed = windowSize == 16 ? narrowBits : wideBits;
      for (int b = 0; b < blocks; ++b) {
        results.push_back(DecodeInterBlock(out[b].data(), 1, 0));
        consumed.push_back(BitsConsumed());
        if (results.back() != 0) break;
      }
    }
    ASSERT_EQ(wideResults, narrowResults) << trial;
    ASSERT_EQ(wideBits, narrowBits) << trial;
    for (size_t b = 0; b < wideResults.size(); ++b) ASSERT_EQ(wide[b], narrow[b]) << trial;
  }
}

struct PredictionCase {
  int mode, column, row;
  int x, y;
};

// Median prediction with the GOB and border rules; neighbours as stored below.
TEST_F(Macroblock, MotionVectorPrediction) {
  Setup(1);
  Store(3, 2, 6, -6);    // left of (4, 2)
  Store(4, 1, -2, 9);    // above
  Store(5, 1, 30, 1);    // above right
  Store(0, 1, -20, -20);  // above (0, 2)
  Store(1, 1, -10, 31);   // above right of (0, 2)
  Store(9, 3, 8, 8);      // left of (10, 3)
  Store(10, 2, 12, -4);   // above (10, 3); nothing right of it
  Store(11, 2, 99, 99);   // past the last QCIF column: not a candidate of (10, 3)
  Store(6, 0, -7, 3);     // left of (7, 0)
  const PredictionCase cases[] = {
      {1, 4, 2, 6, -6},    // GOB with a header: left alone
      {1, 0, 2, 0, 0},     // ... 0 in column 0
      {3, 4, 2, 6, 1},     // no header: median
      {3, 0, 2, -10, 0},   // column 0: left is 0
      {3, 10, 3, 8, 0},    // last column: above right is 0
      {3, 7, 0, -7, 3},    // top row: left alone
  };
  for (const PredictionCase& c : cases) {
    d.mvPredictionMode = c.mode;
    EXPECT_EQ(PredictMvComponent(0, c.column, c.row), c.x) << c.column << "," << c.row;
    EXPECT_EQ(PredictMvComponent(1, c.column, c.row), c.y) << c.column << "," << c.row;
  }
}

struct VectorCase {
  int predictor, code, vector;
};

// Of the two differences a code stands for, the one giving a vector in -32..31 is taken; -32
// (exactly -16 samples) is a legal result.
TEST_F(Macroblock, MotionVectorReconstruction) {
  const VectorCase cases[] = {
      {31, 30, 29}, {4, 33, 5}, {31, 33, -32}, {0, 64, -32}, {-30, 0, 2}, {20, 63, -13}, {-32, 32, -32},
  };
  for (const VectorCase& c : cases) {
    Setup(1, 1);
    Store(0, 0, c.predictor, -c.predictor - 1);
    d.mvdCodeX = static_cast<uint8_t>(c.code);
    d.mvdCodeY = 32;
    ASSERT_EQ(DecodeMotionVector(), 0) << c.predictor << " " << c.code;
    EXPECT_EQ(d.mvX, c.vector);
    EXPECT_EQ(d.mvY, -c.predictor - 1);
    EXPECT_EQ(Stored(1, 0)[0], c.vector);
  }
  for (int p = -32; p <= 31; ++p) {  // every predictor and code of a valid stream fits
    for (int m = 0; m <= 64; ++m) {
      Setup(1, 1);
      Store(0, 0, p, p);
      d.mvdCodeX = d.mvdCodeY = static_cast<uint8_t>(m);
      ASSERT_EQ(DecodeMotionVector(), 0) << p << " " << m;
      ASSERT_EQ((d.mvX - (p + m - 32)) % 64, 0);
    }
  }
  Setup(1, 1);
  Store(0, 0, 100, 0);  // a predictor no valid stream gives
  EXPECT_EQ(DecodeMotionVector(), 1);
}

}  // namespace
