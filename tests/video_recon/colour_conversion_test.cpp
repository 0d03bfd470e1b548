#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "video/recon/colour_conversion.h"
#include "video/recon/colour_tables.h"

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

}  // namespace
