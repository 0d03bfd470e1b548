#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "video/recon/colour_conversion.h"
#include "video/recon/colour_tables.h"

namespace {

constexpr int kW = 176, kH = 144;

struct Rgb {
  int b, g, r;
};

Rgb ConvertFlat(int y, int u, int v) {
  BuildColourTables();
  std::vector<uint8_t> picture(kW * kH * 3 / 2);
  std::fill(picture.begin(), picture.begin() + kW * kH, static_cast<uint8_t>(y));
  std::fill(picture.begin() + kW * kH, picture.begin() + kW * kH * 5 / 4, static_cast<uint8_t>(u));
  std::fill(picture.begin() + kW * kH * 5 / 4, picture.end(), static_cast<uint8_t>(v));
  std::vector<uint8_t> image(3 * kW * kH);
  ConvertToBgr24(picture.data(), image.data(), kH, kW);
  return {image[0], image[1], image[2]};
}

TEST(ConvertToBgr24, TellingValues) {
  const Rgb black = ConvertFlat(16, 128, 128);
  EXPECT_EQ(black.b + black.g + black.r, 0);
  const Rgb white = ConvertFlat(235, 128, 128);
  EXPECT_EQ(white.b, 255);
  EXPECT_EQ(white.g, 255);
  EXPECT_EQ(white.r, 255);
  const Rgb below = ConvertFlat(0, 128, 128);  // -18, clamped
  EXPECT_EQ(below.b + below.g + below.r, 0);
  const Rgb blue = ConvertFlat(128, 255, 128);
  EXPECT_EQ(blue.b, 255);  // 130 + 256 clamped
  EXPECT_EQ(blue.g, 81);
  EXPECT_EQ(blue.r, 130);
}

TEST(ConvertToBgr24, RowsAreStoredBottomUpAndChromaIsShared) {
  BuildColourTables();
  std::vector<uint8_t> picture(kW * kH * 3 / 2, 128);
  picture[0] = 235;                        // top-left luma: white
  picture[(kH - 1) * kW] = 16;             // bottom-left luma: black
  picture[1 * kW + 1] = 235;               // same 2 x 2 block as the top-left
  picture[kW * kH] = 255;                  // U of the top-left 2 x 2 block
  std::vector<uint8_t> image(3 * kW * kH);
  ConvertToBgr24(picture.data(), image.data(), kH, kW);
  // Top-left pixel: stored row 143, bytes 75504..75506; its U pushes blue up.
  EXPECT_EQ(image[75504], 255);
  EXPECT_EQ(image[75505], 255 - cbGreenTable[255] > 255 ? 255 : 255 - cbGreenTable[255]);
  EXPECT_EQ(image[75506], 255);
  // (1, 1) shares that chroma sample: stored row 142, column 1.
  EXPECT_EQ(image[142 * 3 * kW + 3], 255);
  EXPECT_EQ(image[142 * 3 * kW + 4], image[75505]);
  // Bottom-left pixel: stored row 0.
  EXPECT_EQ(image[0], 0);
  EXPECT_EQ(image[1], 0);
  EXPECT_EQ(image[2], 0);
}

TEST(DoubleBgr24, MeansTruncateAndEdgesRepeat) {
  // A 2 x 2 image, one channel carrying the test values (stored rows).
  const uint8_t source[12] = {10, 0, 0, 13, 0, 0,   // stored row 0
                              20, 0, 0, 24, 0, 0};  // stored row 1
  uint8_t out[48];
  DoubleBgr24(source, out, 2, 2);
  const int stride = 12;
  auto at = [&](int row, int col) { return out[row * stride + 3 * col]; };
  EXPECT_EQ(at(0, 0), 10);
  EXPECT_EQ(at(0, 1), 11);  // (10 + 13) >> 1
  EXPECT_EQ(at(1, 0), 15);  // (10 + 20) >> 1
  EXPECT_EQ(at(1, 1), 16);  // (10 + 13 + 20 + 24) >> 2
  // Last column pair and last row pair repeat the source's edge.
  EXPECT_EQ(at(0, 3), 13);
  EXPECT_EQ(at(1, 3), (13 + 24) >> 1);
  EXPECT_EQ(at(3, 0), 20);
  EXPECT_EQ(at(3, 1), 22);
  EXPECT_EQ(at(3, 3), 24);
  // Channels never mix.
  for (int row = 0; row < 4; ++row) {
    for (int col = 0; col < 4; ++col) {
      EXPECT_EQ(out[row * stride + 3 * col + 1], 0);
      EXPECT_EQ(out[row * stride + 3 * col + 2], 0);
    }
  }
}

TEST(DoubleBgr24, PlayerSizeFillsTheWholeImage) {
  std::vector<uint8_t> source(3 * kW * kH, 77);
  std::vector<uint8_t> doubled(4 * 3 * kW * kH, 0);
  DoubleBgr24(source.data(), doubled.data(), kW, kH);
  for (uint8_t b : doubled) ASSERT_EQ(b, 77);
}

}  // namespace
