#include <gtest/gtest.h>

#include "video/recon/colour_tables.h"

namespace {

struct TellingRow {
  int i, luma, cbBlue, cbGreen, crRed, crGreen;
};

// Luma 128 maps to 130 (16 -> 0, 235 -> 255); cbBlue[0] is -259 because the
// shift rounds toward minus infinity; crGreen at the ends checks the product
// is formed after centring (11934510 * 255 would overflow 32 bits).
TEST(ColourTables, TellingValues) {
  BuildColourTables();
  const TellingRow rows[] = {
      {0, -18, -259, -51, -205, -105},  {16, 0, -226, -44, -179, -92},
      {128, 130, 0, 0, 0, 0},           {235, 255, 215, 41, 170, 86},
      {255, 278, 256, 49, 202, 103},
  };
  for (const TellingRow& r : rows) {
    SCOPED_TRACE(r.i);
    EXPECT_EQ(lumaTable[r.i], r.luma);
    EXPECT_EQ(cbBlueTable[r.i], r.cbBlue);
    EXPECT_EQ(cbGreenTable[r.i], r.cbGreen);
    EXPECT_EQ(crRedTable[r.i], r.crRed);
    EXPECT_EQ(crGreenTable[r.i], r.crGreen);
  }
}

TEST(ColourTables, MonotonicAcrossTheWholeRange) {
  BuildColourTables();
  for (int i = 1; i < 256; ++i) {
    EXPECT_LE(lumaTable[i - 1], lumaTable[i]);
    EXPECT_LE(cbBlueTable[i - 1], cbBlueTable[i]);
    EXPECT_LE(cbGreenTable[i - 1], cbGreenTable[i]);
    EXPECT_LE(crRedTable[i - 1], crRedTable[i]);
    EXPECT_LE(crGreenTable[i - 1], crGreenTable[i]);
  }
}

}  // namespace
