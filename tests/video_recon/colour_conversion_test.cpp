#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "video/recon/colour_conversion.h"
#include "video/recon/colour_tables.h"

using namespace clipnote::h263;

namespace {

constexpr int kW = 176, kH = 144;

// Converts a QCIF picture of flat Y, U, V with the top-left luma sample set to
// `topLeft`; returns the image.
std::vector<uint8_t> Convert(int y, int u, int v, int topLeft) {
  BuildColourTables();
  std::vector<uint8_t> picture(kW * kH, static_cast<uint8_t>(y));
  picture.resize(kW * kH * 5 / 4, static_cast<uint8_t>(u));
  picture.resize(kW * kH * 3 / 2, static_cast<uint8_t>(v));
  picture[0] = static_cast<uint8_t>(topLeft);
  std::vector<uint8_t> image(3 * kW * kH);
  ConvertToBgr24(picture.data(), image.data(), kH, kW);
  return image;
}

TEST(ConvertToBgr24, TellingValuesAndBottomUpRows) {
  const int cases[][6] = {
      // y, u, v -> blue, green, red
      {16, 128, 128, 0, 0, 0},    {235, 128, 128, 255, 255, 255}, {0, 128, 128, 0, 0, 0},
      {128, 255, 128, 255, 81, 130},
  };
  for (const auto& c : cases) {
    // Bottom-left pixel: bytes 0..2 (stored row 0).
    const std::vector<uint8_t> image = Convert(c[0], c[1], c[2], c[0]);
    EXPECT_EQ(image[0], c[3]);
    EXPECT_EQ(image[1], c[4]);
    EXPECT_EQ(image[2], c[5]);
  }
  // The top-left picture pixel lands at bytes 75504..75506 (stored row 143).
  const std::vector<uint8_t> image = Convert(16, 128, 128, 235);
  EXPECT_EQ(image[75504], 255);
  EXPECT_EQ(image[75507], 0);
  EXPECT_EQ(image[75504 - 3 * kW], 0);
}

TEST(DoubleBgr24, TruncatedMeansAndEdgeRepeat) {
  const uint8_t source[12] = {10, 1, 2, 13, 1, 2,   // stored row 0
                              20, 1, 2, 24, 1, 2};  // stored row 1
  uint8_t out[48];
  DoubleBgr24(source, out, 2, 2);
  const int expected[4][4] = {{10, 11, 13, 13}, {15, 16, 18, 18}, {20, 22, 24, 24}, {20, 22, 24, 24}};
  for (int row = 0; row < 4; ++row) {
    for (int col = 0; col < 4; ++col) {
      EXPECT_EQ(out[row * 12 + 3 * col], expected[row][col]) << row << "," << col;
      EXPECT_EQ(out[row * 12 + 3 * col + 1], 1);  // channels never mix
      EXPECT_EQ(out[row * 12 + 3 * col + 2], 2);
    }
  }
}

// Random pictures of several sizes against the conversion written out pixel by
// pixel: each 2 x 2 block shares its chroma terms, rows are stored bottom-up.
TEST(ConvertToBgr24, EveryPixelOfRandomPictures) {
  BuildColourTables();
  std::mt19937 rng(7);
  for (const auto& [columns, rows] : {std::pair{176, 144}, std::pair{2, 2}, std::pair{34, 6}}) {
    std::vector<uint8_t> picture(static_cast<size_t>(columns * rows * 3 / 2));
    for (uint8_t& s : picture) s = static_cast<uint8_t>(rng());
    std::vector<uint8_t> image(static_cast<size_t>(3 * columns * rows));
    ConvertToBgr24(picture.data(), image.data(), rows, columns);
    const uint8_t* u = picture.data() + columns * rows;
    const uint8_t* v = u + (columns / 2) * (rows / 2);
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < columns; ++c) {
        const int chroma = (r / 2) * (columns / 2) + c / 2;
        const int luma = lumaTable[picture[r * columns + c]];
        const int expected[3] = {luma + cbBlueTable[u[chroma]],
                                 luma - cbGreenTable[u[chroma]] - crGreenTable[v[chroma]],
                                 luma + crRedTable[v[chroma]]};
        const uint8_t* pixel = image.data() + (rows - 1 - r) * 3 * columns + 3 * c;
        for (int k = 0; k < 3; ++k) {
          ASSERT_EQ(pixel[k], std::clamp(expected[k], 0, 255)) << columns << "x" << rows << " at "
                                                               << r << "," << c << " channel " << k;
        }
      }
    }
  }
}

// Random images of several sizes against the doubling rules, channel by channel.
TEST(DoubleBgr24, EveryPixelOfRandomImages) {
  std::mt19937 rng(8);
  for (const auto& [columns, rows] : {std::pair{176, 144}, std::pair{1, 1}, std::pair{5, 3}}) {
    std::vector<uint8_t> source(static_cast<size_t>(3 * columns * rows));
    for (uint8_t& s : source) s = static_cast<uint8_t>(rng());
    std::vector<uint8_t> doubled(4 * source.size());
    DoubleBgr24(source.data(), doubled.data(), columns, rows);
    auto at = [&, columns = columns, rows = rows](int i, int j, int k) {  // clang 14 captures no bindings
      const int pixel = std::min(i, rows - 1) * columns + std::min(j, columns - 1);
      return static_cast<int>(source[3 * pixel + k]);
    };
    for (int i = 0; i < rows; ++i) {
      for (int j = 0; j < columns; ++j) {
        for (int k = 0; k < 3; ++k) {
          const int s = at(i, j, k), r = at(i, j + 1, k);
          const int d = at(i + 1, j, k), e = at(i + 1, j + 1, k);
          const int expected[2][2] = {{s, (s + r) >> 1}, {(s + d) >> 1, (s + r + d + e) >> 2}};
          for (int di = 0; di < 2; ++di) {
            for (int dj = 0; dj < 2; ++dj) {
              const int out = (2 * i + di) * 2 * columns + 2 * j + dj;
              ASSERT_EQ(doubled[3 * out + k], expected[di][dj])
                  << columns << "x" << rows << " at " << i << "," << j;
            }
          }
        }
      }
    }
  }
}

}  // namespace
