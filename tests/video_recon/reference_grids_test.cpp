#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "video/parser/video_decoder.h"
#include "video/recon/reference_grids.h"

using namespace clipnote::h263;

namespace {

constexpr int kW = 176, kH = 144;

// The decoder record on exact-size QCIF buffers, so AddressSanitizer reports
// any build or fetch that strays outside them.
class ReferenceGridsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    videoDecoder.width = kW;
    videoDecoder.height = kH;
    videoDecoder.previousPicture = previous.data();
    videoDecoder.interpolatedReference = reference.data();
  }
  uint8_t& Y(int y, int x) { return previous[y * kW + x]; }
  uint8_t& C(int component, int y, int x) {
    return previous[kW * kH + component * (kW / 2) * (kH / 2) + y * (kW / 2) + x];
  }
  uint8_t Luma(int block, int vx, int vy, int index = 0) {
    BuildLumaReference();
    uint8_t b[64];
    FetchLumaPrediction(b, block, vx, vy);
    return b[index];
  }
  uint8_t Chroma(int component, int macroblock, int vx, int vy, int index = 0) {
    BuildChromaReference(component);
    uint8_t b[64];
    FetchChromaPrediction(b, macroblock, component, vx, vy);
    return b[index];
  }
  std::vector<uint8_t> previous = std::vector<uint8_t>(kW * kH * 3 / 2);
  std::vector<uint8_t> reference = std::vector<uint8_t>(12 * kW * kH);
};

TEST_F(ReferenceGridsTest, ZeroVectorCopiesThePreviousPicture) {
  for (size_t i = 0; i < previous.size(); ++i) previous[i] = static_cast<uint8_t>(i * 37 + i / 176);
  for (int i = 0; i < 64; ++i) {
    ASSERT_EQ(Luma(22 * 3 + 5, 0, 0, i), Y(24 + i / 8, 40 + i % 8));  // block row 3, column 5
    ASSERT_EQ(Chroma(1, 11 * 2 + 4, 0, 0, i), C(1, 16 + i / 8, 32 + i % 8));
  }
}

TEST_F(ReferenceGridsTest, HalfSampleRoundingAndEdgeRules) {
  Y(0, 0) = 10, Y(0, 1) = 13, Y(1, 0) = 20, Y(1, 1) = 24;
  EXPECT_EQ(Luma(0, 1, 0), 12);  // (10 + 13 + 1) >> 1
  EXPECT_EQ(Luma(0, 0, 1), 15);
  EXPECT_EQ(Luma(0, 1, 1), 17);  // (10 + 13 + 20 + 24 + 2) >> 2
  // Last column: vertical half-samples as anywhere, horizontal ones repeat.
  Y(kH - 2, kW - 1) = 40, Y(kH - 1, kW - 1) = 81, Y(kH - 1, kW - 2) = 20;
  const int lastBlock = 22 * 18 - 1;
  EXPECT_EQ(Luma(lastBlock, 0, 1, 6 * 8 + 7), (40 + 81 + 1) >> 1);
  EXPECT_EQ(Luma(lastBlock, 1, 0, 6 * 8 + 7), 40);
  // Last row: the vertical half-sample is the sample; the corner repeats.
  EXPECT_EQ(Luma(lastBlock, 0, 1, 63), 81);
  EXPECT_EQ(Luma(lastBlock, 1, 1, 62), (20 + 81 + 1) >> 1);
  EXPECT_EQ(Luma(lastBlock, 1, 1, 63), 81);
}

TEST_F(ReferenceGridsTest, ChromaQuarterOffsetsAndNegativeVector) {
  for (int x = 0; x < kW / 2; ++x) C(0, 0, x) = static_cast<uint8_t>(10 * x);
  C(0, 1, 8) = 100;
  for (int offset = 1; offset <= 3; ++offset) {
    // Macroblock 1 starts at chroma column 8: offsets 1..3 all give the half sample.
    EXPECT_EQ(Chroma(0, 1, offset, 0, 2), (100 + 110 + 1) >> 1) << offset;
    EXPECT_EQ(Chroma(0, 1, 0, offset), (80 + 100 + 1) >> 1) << offset;
  }
  EXPECT_EQ(Chroma(0, 1, 4, 0), 90);                   // one whole chroma sample
  EXPECT_EQ(Chroma(0, 1, -1, 0, 3), (100 + 110 + 1) >> 1);  // mean with the left neighbour
}

TEST_F(ReferenceGridsTest, VectorsOutsideThePictureStayInsideTheGrids) {
  for (size_t i = 0; i < previous.size(); ++i) previous[i] = static_cast<uint8_t>(i * 7);
  for (int v : {-128, -32, 31, 127}) {
    for (int b : {0, 21, 22 * 18 - 1}) Luma(b, v, -v);
    for (int n : {0, 98}) Chroma(0, n, v, v), Chroma(1, n, -v, v);
  }
  // Clamping continues the edge replication.
  EXPECT_EQ(Luma(0, -100, -100, 63), Y(0, 0));
  EXPECT_EQ(Chroma(1, 98, 100, 100, 0), C(1, kH / 2 - 1, kW / 2 - 1));
}

// Random planes of several widths (the builders may work on many samples at a
// time, with a last step that overlaps the one before) against the cell rules
// written out sample by sample. Extremes are frequent, to catch sums that
// overflow a byte.
TEST(ReferenceGridBuilders, FollowTheCellRulesOnRandomPlanes) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> sample(-200, 455);
  for (int width : {1, 2, 15, 16, 17, 18, 33, 88, 176, 352}) {
    const int height = 5;
    std::vector<uint8_t> plane(static_cast<size_t>(width * height));
    for (uint8_t& s : plane) s = static_cast<uint8_t>(std::clamp(sample(rng), 0, 255));
    std::vector<uint8_t> luma(4 * plane.size()), chroma(16 * plane.size());
    BuildLumaGrid(plane.data(), width, height, luma.data());
    BuildChromaGrid(plane.data(), width, height, chroma.data());
    // Past the last row and column the neighbours are the edge samples.
    auto at = [&](int y, int x) {
      return static_cast<int>(plane[std::min(y, height - 1) * width + std::min(x, width - 1)]);
    };
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const int p = at(y, x), r = at(y, x + 1), d = at(y + 1, x), e = at(y + 1, x + 1);
        const int cell[2][2] = {{p, (p + r + 1) >> 1},
                                {(p + d + 1) >> 1, (p + r + d + e + 2) >> 2}};
        for (int i = 0; i < 4; ++i) {
          for (int j = 0; j < 4; ++j) {
            if (i < 2 && j < 2) {
              ASSERT_EQ(luma[(2 * y + i) * 2 * width + 2 * x + j], cell[i][j])
                  << "luma, width " << width << " at " << y << "," << x;
            }
            ASSERT_EQ(chroma[(4 * y + i) * 4 * width + 4 * x + j], cell[i > 0][j > 0])
                << "chroma, width " << width << " at " << y << "," << x;
          }
        }
      }
    }
  }
}

// Any position, inside the grid or past its edges, reads the grid at the
// clamped coordinates.
TEST(ReferenceGridFetch, EqualsClampedIndexingEverywhere) {
  constexpr int kGridW = 352, kGridH = 288;
  std::mt19937 rng(9);
  std::vector<uint8_t> grid(kGridW * kGridH);
  for (uint8_t& g : grid) g = static_cast<uint8_t>(rng());
  std::uniform_int_distribution<int> row(-70, kGridH + 40), col(-70, kGridW + 40);
  for (int trial = 0; trial < 20000; ++trial) {
    const int step = trial % 2 == 0 ? 2 : 4;
    const int r = row(rng), c = col(rng);
    uint8_t block[64];
    FetchFromGrid(block, grid.data(), kGridW, kGridH, r, c, step);
    for (int i = 0; i < 64; ++i) {
      const int gy = std::clamp(r + step * (i / 8), 0, kGridH - 1);
      const int gx = std::clamp(c + step * (i % 8), 0, kGridW - 1);
      ASSERT_EQ(block[i], grid[gy * kGridW + gx]) << r << "," << c << " step " << step << " " << i;
    }
  }
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

// Grids built from one picture, then the picture changed in a scattered set of
// macroblocks (edges and corners among them) and the grids updated around those
// alone: the result equals building them whole from the changed picture.
TEST_F(ReferenceGridsTest, UpdateAroundChangedMacroblocksEqualsAWholeBuild) {
  std::mt19937 rng(17);
  auto value = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const int columns = kW / 16, rows = kH / 16;
  for (int trial = 0; trial < 60; ++trial) {
    for (uint8_t& sample : previous) sample = static_cast<uint8_t>(value(0, 255));
    BuildLumaReference();
    BuildChromaReference(0);
    BuildChromaReference(1);
    uint8_t changed[kMaxMbColumns * kMaxMbRows] = {};
    const int count = trial % 3 == 0 ? 1 : value(1, 30);
    for (int k = 0; k < count; ++k) {
      const int row = value(0, rows - 1), column = value(0, columns - 1);
      changed[row * columns + column] = 1;
      for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) Y(16 * row + y, 16 * column + x) = static_cast<uint8_t>(value(0, 255));
      }
      for (int c = 0; c < 2; ++c) {
        for (int y = 0; y < 8; ++y) {
          for (int x = 0; x < 8; ++x) C(c, 8 * row + y, 8 * column + x) = static_cast<uint8_t>(value(0, 255));
        }
      }
    }
    UpdateReferenceAround(changed);
    std::vector<uint8_t> whole(reference.size());
    BuildLumaGrid(previous.data(), kW, kH, whole.data());
    BuildChromaGrid(&C(0, 0, 0), kW / 2, kH / 2, whole.data() + 4 * kW * kH);
    BuildChromaGrid(&C(1, 0, 0), kW / 2, kH / 2, whole.data() + 8 * kW * kH);
    ASSERT_EQ(reference, whole) << trial;
  }
}

// The zero-vector copy from the previous picture gives what the grids give.
TEST_F(ReferenceGridsTest, ZeroVectorCopyEqualsTheGridPrediction) {
  std::mt19937 rng(29);
  for (uint8_t& sample : previous) sample = static_cast<uint8_t>(rng());
  BuildLumaReference();
  BuildChromaReference(0);
  BuildChromaReference(1);
  std::vector<uint8_t> predicted(previous.size()), copied(previous.size());
  for (int row = 0; row < kH / 16; ++row) {
    for (int column = 0; column < kW / 16; ++column) {
      for (auto* picture : {&predicted, &copied}) {
        uint8_t* luma = picture->data() + 16 * row * kW + 16 * column;
        uint8_t* u = picture->data() + kW * kH + 8 * row * (kW / 2) + 8 * column;
        uint8_t* const blocks[6] = {luma, luma + 8, luma + 8 * kW, luma + 8 * kW + 8, u,
                                    u + (kW / 2) * (kH / 2)};
        if (picture == &predicted) {
          PredictMacroblock(blocks, row, column, 0, 0);
        } else {
          CopyPreviousMacroblock(blocks, row, column);
        }
      }
    }
  }
  EXPECT_EQ(predicted, previous);
  EXPECT_EQ(copied, previous);
}

}  // namespace
