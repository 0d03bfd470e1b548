#include <gtest/gtest.h>

#include "video/recon/colour_tables.h"

using namespace clipnote::h263;

namespace {

// Luma 128 maps to 130 (16 -> 0, 235 -> 255); cbBlue[0] is -259 because the
// shift rounds toward minus infinity; crGreen at the ends checks the product
// is formed after centring (11934510 x 255 would overflow 32 bits).
TEST(ColourTables, TellingValues) {
  BuildColourTables();
  const int rows[][6] = {
      {0, -18, -259, -51, -205, -105}, {16, 0, -226, -44, -179, -92}, {128, 130, 0, 0, 0, 0},
      {235, 255, 215, 41, 170, 86},    {255, 278, 256, 49, 202, 103},
  };
  for (const auto& r : rows) {
    const int i = r[0];
    EXPECT_EQ(lumaTable[i], r[1]) << i;
    EXPECT_EQ(cbBlueTable[i], r[2]) << i;
    EXPECT_EQ(cbGreenTable[i], r[3]) << i;
    EXPECT_EQ(crRedTable[i], r[4]) << i;
    EXPECT_EQ(crGreenTable[i], r[5]) << i;
  }
}

}  // namespace
