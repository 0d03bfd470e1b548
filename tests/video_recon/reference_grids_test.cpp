#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "video/parser/video_decoder.h"
#include "video/recon/reference_grids.h"

namespace {

constexpr int kW = 176, kH = 144;

// The decoder record pointed at exact-size QCIF buffers, so that AddressSanitizer
// catches any fetch or build that strays outside them.
class ReferenceGridsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    videoDecoder.width = kW;
    videoDecoder.height = kH;
    videoDecoder.previousPicture = previous.data();
    videoDecoder.interpolatedReference = reference.data();
  }
  uint8_t& Y(int y, int x) { return previous[y * kW + x]; }
  uint8_t& Chroma(int component, int y, int x) {
    return previous[kW * kH + component * (kW / 2) * (kH / 2) + y * (kW / 2) + x];
  }
  void Build() {
    BuildLumaReference();
    BuildChromaReference(0);
    BuildChromaReference(1);
  }
  std::vector<uint8_t> previous = std::vector<uint8_t>(kW * kH * 3 / 2);
  std::vector<uint8_t> reference = std::vector<uint8_t>(12 * kW * kH);
};

TEST_F(ReferenceGridsTest, ZeroVectorReproducesThePreviousPicture) {
  for (size_t i = 0; i < previous.size(); ++i) previous[i] = static_cast<uint8_t>(i * 37 + i / 176);
  Build();
  uint8_t block[64];
  FetchLumaPrediction(block, 22 * 3 + 5, 0, 0);  // block row 3, column 5
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) ASSERT_EQ(block[8 * y + x], Y(24 + y, 40 + x));
  }
  for (int c = 0; c < 2; ++c) {
    FetchChromaPrediction(block, 11 * 2 + 4, c, 0, 0);  // macroblock row 2, column 4
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 8; ++x) ASSERT_EQ(block[8 * y + x], Chroma(c, 16 + y, 32 + x));
    }
  }
}

TEST_F(ReferenceGridsTest, LumaHalfSampleRounding) {
  Y(0, 0) = 10;
  Y(0, 1) = 13;
  Y(1, 0) = 20;
  Y(1, 1) = 24;
  Build();
  uint8_t block[64];
  FetchLumaPrediction(block, 0, 1, 0);
  EXPECT_EQ(block[0], 12);  // (10 + 13 + 1) >> 1
  FetchLumaPrediction(block, 0, 0, 1);
  EXPECT_EQ(block[0], 15);  // (10 + 20 + 1) >> 1
  FetchLumaPrediction(block, 0, 1, 1);
  EXPECT_EQ(block[0], 17);  // (10 + 13 + 20 + 24 + 2) >> 2
}

TEST_F(ReferenceGridsTest, LastRowAndColumnRepeatTheEdge) {
  Y(kH - 2, kW - 1) = 40;
  Y(kH - 1, kW - 1) = 81;
  Y(kH - 1, kW - 2) = 20;
  Build();
  const uint8_t* grid = reference.data();
  const int stride = 2 * kW;
  // Last column: the vertical half-sample is formed as anywhere else, the
  // horizontal one repeats the sample.
  EXPECT_EQ(grid[(2 * (kH - 2) + 1) * stride + 2 * (kW - 1)], (40 + 81 + 1) >> 1);
  EXPECT_EQ(grid[(2 * (kH - 2)) * stride + 2 * (kW - 1) + 1], 40);
  // Last row: the vertical half-sample equals the sample; horizontal as usual.
  EXPECT_EQ(grid[(2 * (kH - 1) + 1) * stride + 2 * (kW - 1)], 81);
  EXPECT_EQ(grid[(2 * (kH - 1)) * stride + 2 * (kW - 2) + 1], (20 + 81 + 1) >> 1);
  EXPECT_EQ(grid[(2 * (kH - 1) + 1) * stride + 2 * (kW - 2) + 1], (20 + 81 + 1) >> 1);
  // Bottom-right corner: every neighbour is the sample itself.
  EXPECT_EQ(grid[(2 * kH - 1) * stride + 2 * kW - 1], 81);
}

TEST_F(ReferenceGridsTest, ChromaOffsetsAndNegativeVector) {
  // Macroblock 1 (column 1) covers chroma columns 8..15 of row 0.
  for (int x = 0; x < kW / 2; ++x) {
    Chroma(0, 0, x) = static_cast<uint8_t>(10 * x);
    Chroma(1, 0, x) = static_cast<uint8_t>(200 - x);
  }
  Build();
  uint8_t block[64];
  for (int offset = 1; offset <= 3; ++offset) {
    FetchChromaPrediction(block, 1, 0, offset, 0);
    for (int x = 0; x < 8; ++x) {
      EXPECT_EQ(block[x], (10 * (8 + x) + 10 * (9 + x) + 1) >> 1) << offset;
    }
  }
  FetchChromaPrediction(block, 1, 1, 4, 0);  // a whole chroma sample to the right
  for (int x = 0; x < 8; ++x) EXPECT_EQ(block[x], 200 - (9 + x));
  // (-1, 0): the rounded mean of each sample and its left neighbour.
  FetchChromaPrediction(block, 1, 1, -1, 0);
  for (int x = 0; x < 8; ++x) {
    EXPECT_EQ(block[x], ((200 - (7 + x)) + (200 - (8 + x)) + 1) >> 1);
  }
  // Vertical quarter rows 1..3 hold the vertical half-sample value.
  Chroma(0, 1, 8) = 100;
  Build();
  for (int offset = 1; offset <= 3; ++offset) {
    FetchChromaPrediction(block, 1, 0, 0, offset);
    EXPECT_EQ(block[0], (80 + 100 + 1) >> 1);
  }
}

TEST_F(ReferenceGridsTest, VectorsOutsideThePictureStayInsideTheGrids) {
  for (size_t i = 0; i < previous.size(); ++i) previous[i] = static_cast<uint8_t>(i * 7);
  Build();
  const int lastBlock = (kW / 8) * (kH / 8) - 1;
  const int lastMacroblock = (kW / 16) * (kH / 16) - 1;
  uint8_t block[64];
  for (int vx : {-128, -32, -1, 0, 31, 127}) {
    for (int vy : {-128, -32, 0, 31, 127}) {
      for (int b : {0, 21, lastBlock}) FetchLumaPrediction(block, b, vx, vy);
      for (int n : {0, lastMacroblock}) {
        FetchChromaPrediction(block, n, 0, vx, vy);
        FetchChromaPrediction(block, n, 1, vx, vy);
      }
    }
  }
  // Clamping continues the edge replication: far up-left gives the corner sample.
  FetchLumaPrediction(block, 0, -100, -100);
  for (uint8_t s : block) EXPECT_EQ(s, Y(0, 0));
  FetchChromaPrediction(block, lastMacroblock, 1, 100, 100);
  for (uint8_t s : block) EXPECT_EQ(s, Chroma(1, kH / 2 - 1, kW / 2 - 1));
}

TEST(AddResidual, ClampsToSampleRange) {
  uint8_t samples[4] = {200, 255, 0, 100};
  const int16_t residual[4] = {-256, 1, -1, 55};
  AddResidual(samples, residual, 4);
  EXPECT_EQ(samples[0], 0);
  EXPECT_EQ(samples[1], 255);
  EXPECT_EQ(samples[2], 0);
  EXPECT_EQ(samples[3], 155);
}

}  // namespace
