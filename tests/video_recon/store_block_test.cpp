#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "video/recon/store_block.h"

namespace {

TEST(StoreBlock, PlacesBlockByRasterIndex) {
  std::vector<uint8_t> plane(176 * 144, 0);
  uint8_t block[64];
  for (int i = 0; i < 64; ++i) block[i] = static_cast<uint8_t>(i + 1);
  ASSERT_EQ(StoreBlock(plane.data(), block, 176, 144, 8, 8, 99), kStoreBlockStored);
  int written = 0;
  for (int y = 0; y < 144; ++y) {
    for (int x = 0; x < 176; ++x) {
      const uint8_t v = plane[y * 176 + x];
      if (y >= 32 && y < 40 && x >= 88 && x < 96) {
        EXPECT_EQ(v, block[(y - 32) * 8 + (x - 88)]);
        ++written;
      } else {
        ASSERT_EQ(v, 0) << y << "," << x;
      }
    }
  }
  EXPECT_EQ(written, 64);
}

TEST(StoreBlock, RefusesWithoutWriting) {
  std::vector<uint8_t> plane(176 * 144, 0);
  uint8_t block[256] = {};
  block[0] = 9;
  EXPECT_EQ(StoreBlock(nullptr, block, 176, 144, 8, 8, 0), kStoreBlockNullPointer);
  EXPECT_EQ(StoreBlock(plane.data(), nullptr, 176, 144, 8, 8, 0), kStoreBlockNullPointer);
  EXPECT_EQ(StoreBlock(plane.data(), block, 176, 144, 0, 8, 0), kStoreBlockBadSize);
  EXPECT_EQ(StoreBlock(plane.data(), block, 176, -144, 8, 8, 0), kStoreBlockBadSize);
  EXPECT_EQ(StoreBlock(plane.data(), block, 176, 144, 8, 8, 396), kStoreBlockBadIndex);
  EXPECT_EQ(StoreBlock(plane.data(), block, 176, 144, 8, 8, -1), kStoreBlockBadIndex);
  // A block bigger than the plane is told apart from a bad index.
  EXPECT_EQ(StoreBlock(plane.data(), block, 8, 8, 16, 16, 0), kStoreBlockLargerThanPlane);
  EXPECT_EQ(StoreBlock(plane.data(), block, 176, 4, 8, 8, 0), kStoreBlockLargerThanPlane);
  for (uint8_t v : plane) ASSERT_EQ(v, 0);
}

}  // namespace
